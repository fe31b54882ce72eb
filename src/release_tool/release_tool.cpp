#include "release_tool/release_tool.h"

#include "base/text.h"
#include "flow/json_writer.h"
#include "flow/manifest_source.h"
#include "release_tool/host.h"
#include "release_tool/live_check.h"
#include "release_tool/manifest_check.h"
#include "release_tool/manifest_make.h"
#include "release_tool/terminal_text.h"
#include "release_tool/tool_arguments.h"
#include "release_tool/tool_files.h"
#include "release_tool/verdict_json.h"

namespace vantile {
namespace {

constexpr std::string_view PROGRAM = "vantile-release";

void print_lines(std::ostream& out, const std::vector<std::string>& lines) {
    for (const std::string& line : lines) out << printable(line) << '\n';
}

enum class Usage { Shown, NotShown };

// Refusals and mistakes: one line on standard error, or in JSON on standard output. A
// mistake in the arguments also shows how the tool is called.
int stop(int code, const std::string& message, bool json, std::ostream& out, std::ostream& err,
         Usage usage = Usage::NotShown) {
    const bool show_usage = usage == Usage::Shown;
    if (json) {
        JsonObject document{{"error", JsonValue{message}},
                            {"exit_code", JsonValue{std::int64_t{code}}}};
        if (show_usage) document.push_back({"usage", JsonValue{usage_synopsis()}});
        out << json_text(JsonValue{std::move(document)}) << '\n';
    } else {
        err << PROGRAM << ": " << printable(message) << '\n';
        if (show_usage) err << usage_synopsis();
    }
    return code;
}

ArchiveAccess archive_access(const std::optional<std::string>& files_folder) {
    return ArchiveAccess{files_folder, host_path, hash_archive, judge_unpacking, {}};
}

// A large archive's progress on standard error, only where someone watches it.
ProgressReport live_progress(bool json, std::ostream& err) {
    if (json || !standard_error_is_terminal()) return {};
    return [&err, shown = std::uint64_t{0}](std::uint64_t read, std::uint64_t expected) mutable {
        constexpr std::uint64_t MIB = 1048576;
        if (read < shown + 4 * MIB && read < expected) return;
        shown = read;
        err << '\r' << read / MIB << " of " << expected / MIB << " MiB read"
            << (read >= expected ? "\n" : "") << std::flush;
    };
}

int run_check(const CheckRequest& check, bool json, std::ostream& out, std::ostream& err) {
    if (check.files_folder && !is_folder(*check.files_folder))
        return stop(TOOL_USAGE,
                    "The folder " + *check.files_folder + " given with --files does not exist.",
                    json, out, err);
    // A misspelt path is the publisher's mistake, not something the installer would do.
    if (!starts_with_https(check.manifest) && !is_regular_file(check.manifest))
        return stop(TOOL_USAGE, manifest_missing_message(check.manifest), json, out, err);
    ManifestVerdict verdict;
    if (checks_live(check)) {
        Result<ManifestVerdict> live =
            check_live(check, FetchSettings{check.ca_file}, live_progress(json, err));
        if (!live) return stop(TOOL_USAGE, live.error(), json, out, err);
        verdict = std::move(live.value());
    } else {
        verdict = check_manifest(read_manifest_file(check.manifest), LocalFile{check.manifest},
                                 archive_access(check.files_folder));
    }
    if (json)
        out << json_text(verdict_document(verdict)) << '\n';
    else
        print_lines(out, verdict.lines());
    if (!verdict.installs_everywhere() || verdict.host_serves_other_manifest) return TOOL_REFUSED;
    return verdict.checked_everything() ? TOOL_DONE : TOOL_UNCHECKED;
}

// The manifest must never take the place of one of the archives it describes.
std::optional<std::string> overwritten_input(const MakeRequest& make) {
    for (const std::optional<std::string>& archive :
         {std::optional<std::string>(make.x64_archive), make.arm64_archive})
        if (archive && same_file(make.out, *archive))
            return fill_template("--out {} is the archive {}: the manifest would replace it.",
                                 {make.out, *archive});
    return std::nullopt;
}

int run_make(const MakeRequest& make, bool json, std::ostream& out, std::ostream& err) {
    if (std::optional<std::string> clash = overwritten_input(make))
        return stop(TOOL_USAGE, *clash, json, out, err);
    Result<MadeManifest> made = make_manifest(make);
    if (!made) return stop(TOOL_REFUSED, made.error(), json, out, err);
    if (Status written = write_file_replacing(make.out, made.value().text); !written)
        return stop(TOOL_REFUSED, written.error(), json, out, err);
    if (json) {
        out << json_text(JsonValue{JsonObject{
                   {"wrote", JsonValue{make.out}},
                   {"verdict", verdict_document(made.value().verdict)},
               }})
            << '\n';
    } else {
        out << "Wrote " << printable(make.out) << '\n';
        print_lines(out, made.value().verdict.lines());
    }
    return TOOL_DONE;
}

}  // namespace

int run_release_tool(const std::vector<std::string>& arguments, std::ostream& out,
                     std::ostream& err) {
    Result<ToolRequest> request = parse_tool_arguments(arguments);
    if (!request)
        return stop(TOOL_USAGE, request.error(), asks_for_json(arguments), out, err, Usage::Shown);
    const bool json = request.value().json;
    if (const auto* check = std::get_if<CheckRequest>(&request.value().command))
        return run_check(*check, json, out, err);
    if (const auto* make = std::get_if<MakeRequest>(&request.value().command))
        return run_make(*make, json, out, err);
    out << usage_text();
    return TOOL_DONE;
}

}  // namespace vantile
