#include <gtest/gtest.h>

#include "shell/portable/command_line.h"
#include "windows/portable/child_command_line.h"

namespace vantile {
namespace {

TEST(SplitCommandLine, FollowsTheWindowsRules) {
    struct Case {
        std::u16string line;
        std::vector<std::u16string> arguments;
    };
    const std::vector<Case> cases = {
        {u"vantile-install.exe", {u"vantile-install.exe"}},
        {u"\"C:\\Program Files\\vi.exe\" --quiet", {u"C:\\Program Files\\vi.exe", u"--quiet"}},
        // The program's name: quotes are only removed, backslashes stay as they are.
        {u"C:\\a\\\"b c\"\\x.exe z", {u"C:\\a\\b c\\x.exe", u"z"}},
        {u"p  a\t\tb  ", {u"p", u"a", u"b"}},
        {u"p \"a b\" c", {u"p", u"a b", u"c"}},
        {u"p \"\"", {u"p", u""}},
        {u"p \"a \"\" b\"", {u"p", u"a \" b"}},
        {u"p a\\\\b", {u"p", u"a\\\\b"}},
        {u"p a\\\"b", {u"p", u"a\"b"}},
        {u"p a\\\\\"b c\"", {u"p", u"a\\b c"}},
        {u"p a\\\\\\\"b", {u"p", u"a\\\"b"}},
        {u"p \"a\\\\\"", {u"p", u"a\\"}},
        {u"p ab\"c d\"e", {u"p", u"abc de"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.line.begin(), c.line.end()));
        EXPECT_EQ(split_command_line(c.line), c.arguments);
    }
}

TEST(ModeFor, OnlyNothingOrExactlyQuiet) {
    EXPECT_EQ(mode_for({}), Mode::Window);
    EXPECT_EQ(mode_for({"--quiet"}), Mode::Quiet);
    for (const std::vector<std::string>& wrong : std::vector<std::vector<std::string>>{
             {"--Quiet"}, {"-quiet"}, {"--quiet", "--quiet"}, {"--quiet", "x"}, {""}, {"/quiet"}})
        EXPECT_EQ(mode_for(wrong), Mode::UsageError);
}

TEST(ArgumentsAfterProgram, InvalidUtf16IsNeverQuiet) {
    std::u16string line = u"p --quiet";
    line.push_back(static_cast<char16_t>(0xD800));
    std::vector<std::string> arguments = arguments_after_program(line);
    ASSERT_EQ(arguments.size(), 1u);
    EXPECT_EQ(mode_for(arguments), Mode::UsageError);
    EXPECT_EQ(arguments_after_program(u"p --quiet"), std::vector<std::string>{"--quiet"});
    EXPECT_EQ(arguments_after_program(u"p \"\u00e9t\u00e9\""),
              std::vector<std::string>{"\u00e9t\u00e9"});
}

TEST(QuoteArgument, QuotesOnlyWhenNeeded) {
    struct Case {
        std::string in, out;
    };
    for (const Case& c :
         std::vector<Case>{{"-xf", "-xf"},
                           {".vantile-archive-4242.zip", ".vantile-archive-4242.zip"},
                           {"", "\"\""},
                           {"a b", "\"a b\""},
                           {"a\tb", "\"a\tb\""},
                           {"C:\\my dir\\", "\"C:\\my dir\\\\\""},
                           {"say \"hi\" now", "\"say \\\"hi\\\" now\""},
                           {"a\\\" b", "\"a\\\\\\\" b\""},
                           // An inner quote is escaped even where nothing needs quotes.
                           {"a\"b", "a\\\"b"},
                           {"\"", "\\\""},
                           {"a\\\"b", "a\\\\\\\"b"},
                           {"a\\b\\", "a\\b\\"}}) {
        SCOPED_TRACE(c.in);
        EXPECT_EQ(quote_argument(c.in), c.out);
    }
}

TEST(QuoteArgument, RoundTripsThroughTheSplitter) {
    for (std::string argument :
         {"plain", "with space", "", "trail\\", "tr ail\\\\", "q\"uote d", "\\\\\" x", "a\"b", "\"",
          "\"\"", "a\\\"b", "a\\\\\"b\\", "\"lead", "trail\"", "a\\b"}) {
        SCOPED_TRACE(argument);
        std::u16string line = u"prog ";
        for (char c : quote_argument(argument)) line.push_back(static_cast<char16_t>(c));
        std::vector<std::u16string> split = split_command_line(line);
        ASSERT_EQ(split.size(), 2u);
        EXPECT_EQ(split[1], std::u16string(argument.begin(), argument.end()));
    }
}

}  // namespace
}  // namespace vantile
