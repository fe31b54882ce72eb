#pragma once
// The command line of vantile-release: make, check, and their options.
#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "base/result.h"
#include "flow/computer_facts.h"

namespace vantile {

struct MakeRequest {
    std::string version;
    // Each kind of computer's archive, by its row in ARCHITECTURES; the ones make needs are
    // always there.
    std::array<std::optional<std::string>, std::size(ARCHITECTURES)> archives;
    std::optional<std::string> base;  // nothing with --local: archives named beside the manifest
    std::string out = "metadata.json";
    bool strict = false;  // a warning refuses the manifest
};

struct CheckRequest {
    std::string manifest;
    std::optional<std::string> files_folder;
    bool strict = false;  // a warning fails the check
    bool online = false;  // read the archives (and the manifest) from the release host
    std::optional<std::string> manifest_address;  // where installers read the manifest
    std::optional<std::string> ca_file;           // a private CA for the live check
};

// --help, -h or help: the usage of one command, or of the whole tool.
struct HelpRequest {
    std::optional<std::string> command;
};

// --version before any command: the tool's own version.
struct VersionRequest {};

struct ToolRequest {
    std::variant<MakeRequest, CheckRequest, HelpRequest, VersionRequest> command;
    bool json = false;
};

// The request, or one sentence that says what is wrong with the arguments. --help or -h
// anywhere asks for the usage.
[[nodiscard]] Result<ToolRequest> parse_tool_arguments(const std::vector<std::string>& arguments);

// --json anywhere, for answering even arguments that cannot be parsed in JSON.
bool asks_for_json(const std::vector<std::string>& arguments);

// The command the arguments name ("make", "check"), if any, for the JSON document.
std::optional<std::string> command_named(const std::vector<std::string>& arguments);

// The lines that show how the tool is called.
std::string usage_synopsis();

// The synopsis, what each command does, and the exit codes; with a command, that command's
// synopsis, what it does and its options, one a line.
std::string usage_text(const std::optional<std::string>& command = std::nullopt);

}  // namespace vantile
