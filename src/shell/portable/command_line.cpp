#include "shell/portable/command_line.h"

#include "base/text.h"

namespace vantile {

namespace {

bool is_blank(char16_t c) {
    return c == u' ' || c == u'\t';
}

// The program's name ends at the first space or tab outside quotes; quotes are only removed.
std::u16string read_program_name(std::u16string_view line, std::size_t& i) {
    std::u16string name;
    bool quoted = false;
    for (; i < line.size() && (quoted || !is_blank(line[i])); ++i) {
        if (line[i] == u'"')
            quoted = !quoted;
        else
            name.push_back(line[i]);
    }
    return name;
}

// A run of backslashes: before a quote each pair stands for one backslash and an odd one
// makes the quote literal; anywhere else they are all literal.
void read_backslashes(std::u16string_view line, std::size_t& i, std::u16string& argument) {
    std::size_t slashes = 0;
    for (; i < line.size() && line[i] == u'\\'; ++i) ++slashes;
    if (i < line.size() && line[i] == u'"') {
        argument.append(slashes / 2, u'\\');
        if (slashes % 2 == 1) {
            argument.push_back(u'"');
            ++i;
        }
    } else {
        argument.append(slashes, u'\\');
    }
}

// One argument from i to the first space or tab outside quotes; "" inside quotes is a quote.
std::u16string read_argument(std::u16string_view line, std::size_t& i) {
    std::u16string argument;
    bool quoted = false;
    while (i < line.size() && (quoted || !is_blank(line[i]))) {
        const char16_t c = line[i];
        if (c == u'\\') {
            read_backslashes(line, i, argument);
        } else if (c == u'"' && quoted && i + 1 < line.size() && line[i + 1] == u'"') {
            argument.push_back(u'"');
            i += 2;
        } else if (c == u'"') {
            quoted = !quoted;
            ++i;
        } else {
            argument.push_back(c);
            ++i;
        }
    }
    return argument;
}

}  // namespace

std::vector<std::u16string> split_command_line(std::u16string_view line) {
    std::size_t i = 0;
    std::vector<std::u16string> arguments{read_program_name(line, i)};
    for (;;) {
        while (i < line.size() && is_blank(line[i])) ++i;
        if (i == line.size()) return arguments;
        arguments.push_back(read_argument(line, i));
    }
}

std::vector<std::string> arguments_after_program(std::u16string_view command_line) {
    std::vector<std::u16string> all = split_command_line(command_line);
    std::vector<std::string> arguments;
    for (size_t k = 1; k < all.size(); ++k) arguments.push_back(utf16_to_utf8_lossy(all[k]));
    return arguments;
}

Mode mode_for(const std::vector<std::string>& arguments) {
    if (arguments.empty()) return Mode::Window;
    if (arguments.size() == 1 && arguments[0] == "--quiet") return Mode::Quiet;
    return Mode::UsageError;
}

}  // namespace vantile
