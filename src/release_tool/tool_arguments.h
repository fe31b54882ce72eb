#pragma once
// The command line of vantile-release: make, check, and their options.
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "base/result.h"

namespace vantile {

struct MakeRequest {
    std::string version;
    std::string x64_archive;
    std::optional<std::string> arm64_archive;
    std::optional<std::string> base;  // nothing with --local: archives named beside the manifest
    std::string out = "metadata.json";
};

struct CheckRequest {
    std::string manifest;
    std::optional<std::string> files_folder;
};

struct HelpRequest {};

struct ToolRequest {
    std::variant<MakeRequest, CheckRequest, HelpRequest> command;
    bool json = false;
};

// The request, or one sentence that says what is wrong with the arguments.
[[nodiscard]] Result<ToolRequest> parse_tool_arguments(const std::vector<std::string>& arguments);

std::string usage_text();

}  // namespace vantile
