#include "release_tool/release_tool.h"

#include "release_tool/json_text.h"
#include "release_tool/manifest_check.h"
#include "release_tool/manifest_make.h"
#include "release_tool/tool_arguments.h"
#include "release_tool/tool_files.h"
#include "release_tool/verdict_json.h"

namespace vantile {
namespace {

constexpr std::string_view PROGRAM = "vantile-release";

void print_lines(std::ostream& out, const std::vector<std::string>& lines) {
    for (const std::string& line : lines) out << line << '\n';
}

int refuse(const std::string& message, bool json, std::ostream& out, std::ostream& err) {
    if (json)
        out << json_text(JsonValue{JsonObject{{"error", JsonValue{message}}}}) << '\n';
    else
        err << PROGRAM << ": " << message << '\n';
    return TOOL_REFUSED;
}

int run_check(const CheckRequest& check, bool json, std::ostream& out) {
    std::optional<ArchiveFiles> files;
    if (check.files_folder)
        files = ArchiveFiles{[folder = *check.files_folder](std::string_view name) {
                                 return file_in_folder(folder, name);
                             },
                             hash_archive};
    const ManifestVerdict verdict =
        check_manifest(read_manifest_file(check.manifest), LocalFile{check.manifest}, files);
    if (json)
        out << json_text(verdict_document(verdict)) << '\n';
    else
        print_lines(out, verdict.lines());
    return verdict.installs_everywhere() ? TOOL_DONE : TOOL_REFUSED;
}

int run_make(const MakeRequest& make, bool json, std::ostream& out, std::ostream& err) {
    Result<MadeManifest> made = make_manifest(make);
    if (!made) return refuse(made.error(), json, out, err);
    if (Status written = write_text_file(make.out, made.value().text); !written)
        return refuse(written.error(), json, out, err);
    if (json) {
        out << json_text(JsonValue{JsonObject{
                   {"wrote", JsonValue{make.out}},
                   {"verdict", verdict_document(made.value().verdict)},
               }})
            << '\n';
    } else {
        out << "Wrote " << make.out << '\n';
        print_lines(out, made.value().verdict.lines());
    }
    return TOOL_DONE;
}

}  // namespace

int run_release_tool(const std::vector<std::string>& arguments, std::ostream& out,
                     std::ostream& err) {
    Result<ToolRequest> request = parse_tool_arguments(arguments);
    if (!request) {
        err << PROGRAM << ": " << request.error() << "\n\n" << usage_text();
        return TOOL_USAGE;
    }
    const bool json = request.value().json;
    if (const auto* check = std::get_if<CheckRequest>(&request.value().command))
        return run_check(*check, json, out);
    if (const auto* make = std::get_if<MakeRequest>(&request.value().command))
        return run_make(*make, json, out, err);
    out << usage_text();
    return TOOL_DONE;
}

}  // namespace vantile
