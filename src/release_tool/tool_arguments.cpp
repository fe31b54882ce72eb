#include "release_tool/tool_arguments.h"

#include <map>
#include <string_view>
#include <utility>

#include "base/text.h"

namespace vantile {
namespace {

struct OptionSpec {
    std::string_view name;
    bool takes_value;
};

// Options given as "--name value" or "--name=value"; each at most once.
struct ParsedOptions {
    std::map<std::string, std::string, std::less<>> values;
    std::vector<std::string> positionals;
    bool json = false;
};

Result<ParsedOptions> parse_options(const std::vector<std::string>& arguments, std::size_t first,
                                    std::initializer_list<OptionSpec> specs) {
    ParsedOptions parsed;
    for (std::size_t i = first; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (!argument.starts_with("--")) {
            parsed.positionals.push_back(argument);
            continue;
        }
        const std::size_t equals = argument.find('=');
        const std::string name = argument.substr(0, equals);
        if (name == "--json" && equals == std::string::npos) {
            parsed.json = true;
            continue;
        }
        const OptionSpec* spec = nullptr;
        for (const OptionSpec& candidate : specs)
            if (candidate.name == name) spec = &candidate;
        if (!spec) return fail(fill_template("Unknown option {}.", {name}));
        if (parsed.values.contains(name)) return fail(fill_template("{} is given twice.", {name}));
        if (!spec->takes_value) {
            if (equals != std::string::npos)
                return fail(fill_template("{} takes no value.", {name}));
            parsed.values[name] = "";
            continue;
        }
        if (equals != std::string::npos) {
            parsed.values[name] = argument.substr(equals + 1);
        } else if (i + 1 < arguments.size() && !arguments[i + 1].starts_with("--")) {
            // An option in the value's place means the value was left out.
            parsed.values[name] = arguments[++i];
        } else {
            return fail(fill_template("{} needs a value.", {name}));
        }
        if (parsed.values[name].empty()) return fail(fill_template("{} needs a value.", {name}));
    }
    return parsed;
}

std::optional<std::string> take(ParsedOptions& parsed, std::string_view name) {
    auto found = parsed.values.find(name);
    if (found == parsed.values.end()) return std::nullopt;
    return found->second;
}

Result<ToolRequest> parse_make(const std::vector<std::string>& arguments) {
    Result<ParsedOptions> parsed = parse_options(arguments, 1,
                                                 {{"--version", true},
                                                  {"--x64", true},
                                                  {"--arm64", true},
                                                  {"--base", true},
                                                  {"--local", false},
                                                  {"--out", true}});
    if (!parsed) return std::move(parsed).failure();
    ParsedOptions& options = parsed.value();
    if (!options.positionals.empty())
        return fail(fill_template("make takes no argument {}.", {options.positionals.front()}));

    MakeRequest make;
    std::optional<std::string> version = take(options, "--version");
    if (!version) return fail("make needs --version.");
    make.version = *version;
    std::optional<std::string> x64 = take(options, "--x64");
    if (!x64) return fail("make needs --x64 with the x64 archive.");
    make.x64_archive = *x64;
    make.arm64_archive = take(options, "--arm64");
    make.base = take(options, "--base");
    const bool local = take(options, "--local").has_value();
    if (make.base && local) return fail("make takes either --base or --local, not both.");
    if (!make.base && !local)
        return fail(
            "make needs --base with the address the archives are published under, "
            "or --local for a folder that holds the manifest and its archives.");
    if (std::optional<std::string> out = take(options, "--out")) make.out = *out;
    return ToolRequest{make, options.json};
}

Result<ToolRequest> parse_check(const std::vector<std::string>& arguments) {
    Result<ParsedOptions> parsed = parse_options(arguments, 1, {{"--files", true}});
    if (!parsed) return std::move(parsed).failure();
    ParsedOptions& options = parsed.value();
    if (options.positionals.size() != 1) return fail("check takes exactly one manifest.");
    return ToolRequest{CheckRequest{options.positionals.front(), take(options, "--files")},
                       options.json};
}

}  // namespace

bool asks_for_help(const std::vector<std::string>& arguments) {
    for (const std::string& argument : arguments)
        if (argument == "--help" || argument == "-h") return true;
    return !arguments.empty() && arguments.front() == "help";
}

bool asks_for_json(const std::vector<std::string>& arguments) {
    for (const std::string& argument : arguments)
        if (argument == "--json") return true;
    return false;
}

Result<ToolRequest> parse_tool_arguments(const std::vector<std::string>& arguments) {
    if (asks_for_help(arguments)) return ToolRequest{HelpRequest{}, false};
    // --json may come before the command as well.
    if (!arguments.empty() && arguments.front() == "--json") {
        Result<ToolRequest> request =
            parse_tool_arguments(std::vector<std::string>(arguments.begin() + 1, arguments.end()));
        if (request) request.value().json = true;
        return request;
    }
    if (arguments.empty()) return fail("Say what to do: make or check.");
    const std::string& command = arguments.front();
    if (command == "make") return parse_make(arguments);
    if (command == "check") return parse_check(arguments);
    return fail(fill_template("Unknown command {}: use make or check.", {command}));
}

std::string usage_synopsis() {
    return "Usage: vantile-release make --version VERSION --x64 ARCHIVE [--arm64 ARCHIVE]\n"
           "                            (--base https://... | --local) [--out metadata.json] "
           "[--json]\n"
           "       vantile-release check MANIFEST [--files FOLDER] [--json]\n"
           "       vantile-release --help\n";
}

std::string usage_text() {
    return usage_synopsis() +
           "\n"
           "make writes a release manifest for the archives, with their sizes and SHA-256\n"
           "digests; each url is the base followed by the archive's file name, or with --local\n"
           "the archive's path beside the manifest. It refuses what the installer would refuse,\n"
           "and a file name Windows cannot hold. It never writes over one of its archives, and\n"
           "replaces the manifest only with a complete one.\n"
           "check says what the installer would install from a manifest on an x64 and on an\n"
           "arm64 computer, and why. For each chosen archive at hand it also says whether it has\n"
           "the manifest's size and SHA-256 and whether Windows' tar.exe unpacks it with\n"
           "Vantile.exe at its top. A published archive is at hand with --files, found in FOLDER\n"
           "by the file name of its address; a local manifest's archive always is, where the\n"
           "installer reads it, beside the manifest (a path on a drive or a share only on\n"
           "Windows). --json gives every outcome as one JSON document on standard output.\n"
           "\n"
           "Exit codes: 0 done (check: both kinds of computer would install), 1 refused or\n"
           "would not install, 2 wrong arguments or a missing manifest or folder, 3 nothing\n"
           "would fail but an archive could only be checked on Windows.\n";
}

}  // namespace vantile
