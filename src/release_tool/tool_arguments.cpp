#include "release_tool/tool_arguments.h"

#include <algorithm>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/text.h"
#include "release_tool/computer_names.h"
#include "release_tool/near_miss.h"

namespace vantile {
namespace {

// One option of a command: its name, the word for its value in the usage (empty for a
// switch), and what it does, for the command's help.
struct OptionSpec {
    std::string name;
    std::string value;
    std::string help;
};

// A kind of computer that takes no other build gets nothing without its own archive, so make
// needs it; the others' archives may be left out.
bool archive_required(const ArchitectureFacts& facts) {
    return facts.also_takes.empty();
}

std::string archive_option(const ArchitectureFacts& facts) {
    return fill_template("--{}", {facts.name});
}

OptionSpec archive_option_spec(const ArchitectureFacts& facts) {
    std::string help = fill_template("the {} build's archive", {facts.name});
    if (!archive_required(facts)) {
        std::vector<std::string> builds;
        for (Architecture other : facts.also_takes)
            builds.push_back(fill_template("{}'s", {computer_name(other)}));
        help += fill_template(" (without it {} computers take {})",
                              {facts.name, spoken_list(builds, "or")});
    }
    return {archive_option(facts), "ARCHIVE", help};
}

// Every command's options, one a row; the help lists them in this order.
std::vector<OptionSpec> make_options() {
    std::vector<OptionSpec> options = {
        {"--version", "VERSION",
         "the release's version: major.minor.patch, optionally -prerelease"},
    };
    for (const ArchitectureFacts& facts : ARCHITECTURES)
        options.push_back(archive_option_spec(facts));
    options.insert(options.end(),
                   {
                       {"--base", "https://...", "the address the archives are published under"},
                       {"--local", "",
                        "name each archive by its path beside the manifest (an offline folder)"},
                       {"--out", "FILE", "where the manifest is written (metadata.json)"},
                       {"--strict", "", "refuse on a warning too (exit 1), writing nothing"},
                       {"--json", "", "every outcome as one JSON document on standard output"},
                   });
    return options;
}

std::vector<OptionSpec> check_options() {
    return {
        {"--files", "FOLDER",
         "the folder that holds the published archives under their file names"},
        {"--strict", "", "a warning fails the check too (exit 1)"},
        {"--online", "", "read the archives, and the manifest served, from the release host"},
        {"--manifest-address", "URL", "where installers read the manifest (with --online)"},
        {"--ca-file", "FILE", "a private CA to trust beside the system's (the live check)"},
        {"--json", "", "every outcome as one JSON document on standard output"},
    };
}

struct CommandSpec {
    std::string name;
    std::string synopsis;  // the lines after "Usage: vantile-release "
    std::string description;
    std::vector<OptionSpec> options;
};

// Breaks a paragraph of the help into lines of at most 84 columns, the width the help is
// written to, where it holds a phrase made from the table.
std::string wrapped(std::string_view paragraph) {
    constexpr std::size_t WIDTH = 84;
    std::string text;
    std::size_t line_start = 0;
    while (!paragraph.empty()) {
        const std::string_view word = paragraph.substr(0, paragraph.find(' '));
        paragraph.remove_prefix(std::min(paragraph.size(), word.size() + 1));
        if (text.size() > line_start) {
            const bool fits = text.size() - line_start + 1 + word.size() <= WIDTH;
            text += fits ? ' ' : '\n';
            if (!fits) line_start = text.size();
        }
        text += word;
    }
    return text + '\n';
}

std::string make_synopsis() {
    std::string text = "make --version VERSION";
    for (const ArchitectureFacts& facts : ARCHITECTURES) {
        const std::string option = fill_template("{} ARCHIVE", {archive_option(facts)});
        text += fill_template(archive_required(facts) ? " {}" : " [{}]", {option});
    }
    return text +
           "\n"
           "                            (--base https://... | --local) [--out metadata.json] "
           "[--strict] [--json]\n";
}

std::vector<CommandSpec> command_specs() {
    return {
        {"make", make_synopsis(),
         "make writes a release manifest for the archives, with their sizes and SHA-256\n"
         "digests; each url is the base followed by the archive's file name, or with --local\n"
         "the archive's path beside the manifest. It refuses what the installer would refuse,\n"
         "an archive Windows' tar.exe would not unpack with Vantile.exe at its top, and a file\n"
         "name Windows cannot hold. It never writes over one of its archives, and replaces the\n"
         "manifest only with a complete one.\n",
         make_options()},
        {"check",
         "check MANIFEST [--files FOLDER] [--strict] [--json]\n"
         "       vantile-release check (https://.../metadata.json | MANIFEST --online\n"
         "                             [--manifest-address URL]) [--ca-file FILE] [--strict] "
         "[--json]\n",
         wrapped(fill_template("check says what the installer would install from a manifest {}, "
                               "and why. For each chosen archive at hand it also says whether "
                               "it has the manifest's size and SHA-256 and whether Windows' "
                               "tar.exe unpacks it with Vantile.exe at its top. A published "
                               "archive is at hand with --files, found in FOLDER by the file "
                               "name of its address; a local manifest's archive always is, "
                               "where the installer reads it, beside the manifest (a path on a "
                               "drive or a share only on Windows). An archive that is not at "
                               "hand is named as not checked.",
                               {on_each_kind_of_computer()})) +
             "check of an https address, or of a manifest at hand with --online, reads the live\n"
             "release as the installer does: the manifest and each chosen archive from the\n"
             "release host (https only, no redirect followed, the installer's size limits and\n"
             "30 s stall limit), and names what the host does that fails on Windows. With a\n"
             "manifest at hand it also says whether the host serves that manifest at the\n"
             "installer's address (--manifest-address, else the default). The proxy comes from\n"
             "https_proxy and no_proxy.\n",
         check_options()},
    };
}

const std::vector<CommandSpec>& commands() {
    static const std::vector<CommandSpec> specs = command_specs();
    return specs;
}

std::string exit_codes() {
    return fill_template(
        "Exit codes: 0 done (check: {} would install), 1 refused or\n"
        "would not install, 2 wrong arguments or a missing manifest, folder or archive, 3\n"
        "nothing would fail as far as checked, but not everything could be checked.\n",
        {every_kind_of_computer()});
}

const CommandSpec* find_command(std::string_view name) {
    for (const CommandSpec& command : commands())
        if (command.name == name) return &command;
    return nullptr;
}

std::string_view without_dashes(std::string_view word) {
    while (word.starts_with('-')) word.remove_prefix(1);
    return word;
}

// " Did you mean X?" for a word a letter or two from one of the known ones, or the start of
// one (-f for --files); empty otherwise.
std::string near_miss(std::string_view word, const std::vector<std::string_view>& known) {
    const std::string_view bare = without_dashes(word.substr(0, word.find('=')));
    std::vector<std::string_view> names;
    for (std::string_view candidate : known) {
        names.push_back(without_dashes(candidate));
        if (!bare.empty() && names.back().starts_with(bare) && candidate != word)
            return fill_template(" Did you mean {}?", {candidate});
    }
    std::optional<std::string_view> nearest = nearest_word(bare, names);
    if (!nearest) return {};
    for (std::size_t i = 0; i < names.size(); ++i)
        if (names[i] == *nearest) return fill_template(" Did you mean {}?", {known[i]});
    return {};
}

bool is_option(std::string_view argument) {
    return argument.size() > 1 && argument.starts_with('-');
}

// Options given as "--name value" or "--name=value"; each at most once.
struct ParsedOptions {
    std::map<std::string, std::string, std::less<>> values;
    std::vector<std::string> positionals;
    bool json = false;
};

Result<ParsedOptions> parse_options(const std::vector<std::string>& arguments,
                                    const CommandSpec& command) {
    ParsedOptions parsed;
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (!is_option(argument)) {
            parsed.positionals.push_back(argument);
            continue;
        }
        // --json is only ever the bare word: it is looked for before the arguments are
        // parsed, to answer even a mistake in them in JSON.
        if (argument == "--json") {
            parsed.json = true;
            continue;
        }
        const std::size_t equals = argument.find('=');
        const std::string name = argument.substr(0, equals);
        const OptionSpec* spec = nullptr;
        for (const OptionSpec& candidate : command.options)
            if (candidate.name == name && name != "--json") spec = &candidate;
        if (!spec) {
            std::vector<std::string_view> known;
            for (const OptionSpec& candidate : command.options) known.push_back(candidate.name);
            return fail(
                fill_template("Unknown option {}.{}", {argument, near_miss(argument, known)}));
        }
        if (parsed.values.contains(name)) return fail(fill_template("{} is given twice.", {name}));
        if (spec->value.empty()) {
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
    Result<ParsedOptions> parsed = parse_options(arguments, *find_command("make"));
    if (!parsed) return std::move(parsed).failure();
    ParsedOptions& options = parsed.value();
    if (!options.positionals.empty())
        return fail(fill_template("make takes no argument {}.", {options.positionals.front()}));

    MakeRequest make;
    std::optional<std::string> version = take(options, "--version");
    if (!version) return fail("make needs --version.");
    make.version = *version;
    for (const ArchitectureFacts& facts : ARCHITECTURES) {
        std::optional<std::string>& archive = make.archives[architecture_row(facts.architecture)];
        archive = take(options, archive_option(facts));
        if (!archive && archive_required(facts))
            return fail(fill_template("make needs {} with the {} archive.",
                                      {archive_option(facts), facts.name}));
    }
    make.base = take(options, "--base");
    const bool local = take(options, "--local").has_value();
    if (make.base && local) return fail("make takes either --base or --local, not both.");
    if (!make.base && !local)
        return fail(
            "make needs --base with the address the archives are published under, "
            "or --local for a folder that holds the manifest and its archives.");
    if (std::optional<std::string> out = take(options, "--out")) make.out = *out;
    make.strict = take(options, "--strict").has_value();
    return ToolRequest{make, options.json};
}

Result<ToolRequest> parse_check(const std::vector<std::string>& arguments) {
    Result<ParsedOptions> parsed = parse_options(arguments, *find_command("check"));
    if (!parsed) return std::move(parsed).failure();
    ParsedOptions& options = parsed.value();
    if (options.positionals.size() != 1) return fail("check takes exactly one manifest.");
    CheckRequest check;
    check.manifest = options.positionals.front();
    check.files_folder = take(options, "--files");
    check.strict = take(options, "--strict").has_value();
    check.online = take(options, "--online").has_value();
    check.manifest_address = take(options, "--manifest-address");
    check.ca_file = take(options, "--ca-file");
    return ToolRequest{check, options.json};
}

bool asks_for_help(const std::vector<std::string>& arguments) {
    for (const std::string& argument : arguments)
        if (argument == "--help" || argument == "-h") return true;
    return !arguments.empty() && arguments.front() == "help";
}

std::string command_usage(const CommandSpec& command) {
    std::string text = fill_template("Usage: vantile-release {}\n{}\nOptions:\n",
                                     {command.synopsis, command.description});
    std::size_t width = 0;
    for (const OptionSpec& option : command.options)
        width = std::max(width, option.name.size() + 1 + option.value.size());
    for (const OptionSpec& option : command.options) {
        std::string left(option.name);
        if (!option.value.empty()) left += fill_template(" {}", {option.value});
        text += fill_template("  {}{}  {}\n",
                              {left, std::string(width - left.size(), ' '), option.help});
    }
    text += '\n';
    text += exit_codes();
    return text;
}

}  // namespace

bool asks_for_json(const std::vector<std::string>& arguments) {
    return std::find(arguments.begin(), arguments.end(), "--json") != arguments.end();
}

std::optional<std::string> command_named(const std::vector<std::string>& arguments) {
    for (const std::string& argument : arguments) {
        if (argument == "--json" || argument == "help") continue;
        if (find_command(argument)) return argument;
        break;
    }
    return std::nullopt;
}

Result<ToolRequest> parse_tool_arguments(const std::vector<std::string>& arguments) {
    if (asks_for_help(arguments)) return ToolRequest{HelpRequest{command_named(arguments)}, false};
    if (arguments.size() == 1 && arguments.front() == "--version")
        return ToolRequest{VersionRequest{}, false};
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
    std::vector<std::string_view> known;
    for (const CommandSpec& spec : commands()) known.push_back(spec.name);
    if (is_option(command))
        return fail(
            fill_template("Unknown option {}: say what to do first, make or check.", {command}));
    return fail(fill_template("Unknown command {}: use make or check.{}",
                              {command, near_miss(command, known)}));
}

std::string usage_synopsis() {
    std::string text;
    for (const CommandSpec& command : commands())
        text += fill_template("{}vantile-release {}",
                              {text.empty() ? "Usage: " : "       ", command.synopsis});
    return text +
           "       vantile-release help [make | check]\n"
           "       vantile-release --version\n";
}

std::string usage_text(const std::optional<std::string>& command) {
    if (command)
        if (const CommandSpec* spec = find_command(*command)) return command_usage(*spec);
    std::string text = usage_synopsis();
    for (const CommandSpec& spec : commands()) {
        text += '\n';
        text += spec.description;
    }
    text += "--json gives every outcome as one JSON document on standard output.\n";
    text += '\n';
    text += exit_codes();
    return text;
}

}  // namespace vantile
