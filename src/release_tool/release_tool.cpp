#include "release_tool/release_tool.h"

#include "base/text.h"
#include "base/version.h"
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

// What one run ends with, whatever the command: a mistake or refusal in one sentence, or a
// verdict (and the manifest make wrote).
struct Outcome {
    int code = TOOL_DONE;
    std::optional<std::string> error;
    bool show_usage = false;
    std::optional<std::string> wrote;
    std::optional<ManifestVerdict> verdict;
};

Outcome stopped(int code, std::string message) {
    return Outcome{code, std::move(message), false, std::nullopt, std::nullopt};
}

std::string strict_refusal(const std::vector<std::string>& warnings) {
    return fill_template("With --strict a warning fails: {}.", {warnings.front()});
}

// The one line that says how the run ended.
std::string summary_of(const Outcome& outcome) {
    if (outcome.error) return *outcome.error;
    if (!outcome.verdict) return outcome.wrote ? "Wrote " + *outcome.wrote : std::string();
    if (outcome.code == TOOL_REFUSED && !outcome.verdict->fails_somewhere())
        return strict_refusal(outcome.verdict->all_warnings());
    std::string summary = outcome.verdict->summary();
    for (const ComputerVerdict& computer : outcome.verdict->computers)
        if (computer.failure)
            return fill_template(
                "{} {}: {}", {summary, computer_name(computer.architecture), *computer.failure});
    return summary;
}

JsonValue text_or_null(const std::optional<std::string>& text) {
    return text ? JsonValue{*text} : JsonValue{JsonNull{}};
}

// Every outcome has the same members, so a script reads them without looking first.
JsonValue outcome_document(const Outcome& outcome, const std::optional<std::string>& command) {
    return JsonValue{JsonObject{
        {"schema_version", JsonValue{std::int64_t{VERDICT_SCHEMA_VERSION}}},
        {"command", text_or_null(command)},
        {"exit_code", JsonValue{std::int64_t{outcome.code}}},
        {"summary", JsonValue{summary_of(outcome)}},
        {"error", text_or_null(outcome.error)},
        {"usage", outcome.show_usage ? JsonValue{usage_synopsis()} : JsonValue{JsonNull{}}},
        {"wrote", text_or_null(outcome.wrote)},
        {"verdict", outcome.verdict ? verdict_document(*outcome.verdict) : JsonValue{JsonNull{}}},
    }};
}

// For people: a mistake or refusal is one line on standard error (with how the tool is
// called after a mistake in the arguments), a verdict its lines on standard output. In JSON
// the document goes to standard output, and a failure's summary to standard error as well,
// so that a CI log shows why.
void report(const Outcome& outcome, const std::optional<std::string>& command, bool json,
            std::ostream& out, std::ostream& err) {
    if (json) {
        out << json_text(outcome_document(outcome, command)) << '\n';
        if (outcome.code != TOOL_DONE)
            err << PROGRAM << ": " << printable(summary_of(outcome)) << '\n';
        return;
    }
    if (outcome.error) {
        err << PROGRAM << ": " << printable(*outcome.error) << '\n';
        if (outcome.show_usage) err << usage_synopsis();
        return;
    }
    if (outcome.wrote) out << "Wrote " << printable(*outcome.wrote) << '\n';
    if (!outcome.verdict) return;
    for (const std::string& line : outcome.verdict->lines()) out << printable(line) << '\n';
    // Only --strict fails a verdict without a failure: say why.
    if (outcome.code == TOOL_REFUSED && !outcome.verdict->fails_somewhere())
        err << PROGRAM << ": " << printable(summary_of(outcome)) << '\n';
}

ArchiveAccess archive_access(const std::optional<std::string>& files_folder) {
    return ArchiveAccess{files_folder, {}, host_path, hash_archive, judge_unpacking};
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

Outcome run_check(const CheckRequest& check, const ProgressReport& progress) {
    if (check.files_folder && !is_folder(*check.files_folder))
        return stopped(TOOL_USAGE,
                       fill_template(path_exists(*check.files_folder)
                                         ? "The folder {} given with --files is not a folder."
                                         : "The folder {} given with --files does not exist.",
                                     {*check.files_folder}));
    // A misspelt path is the publisher's mistake, not something the installer would do.
    if (!starts_with_https(check.manifest) && !is_regular_file(check.manifest))
        return stopped(TOOL_USAGE, manifest_missing_message(check.manifest));
    ManifestVerdict verdict;
    if (checks_live(check)) {
        Result<ManifestVerdict> live = check_live(check, FetchSettings{check.ca_file}, progress);
        if (!live) return stopped(TOOL_USAGE, live.error());
        verdict = std::move(live.value());
    } else {
        verdict = check_manifest(read_manifest_file(check.manifest), LocalFile{check.manifest},
                                 archive_access(check.files_folder));
    }
    if (std::optional<std::string> mistake = verdict.mistake())
        return stopped(TOOL_USAGE, *mistake);
    const bool warned = check.strict && !verdict.all_warnings().empty();
    const int code = verdict.fails_somewhere() || verdict.host_serves_other_manifest || warned
                         ? TOOL_REFUSED
                     : verdict.installs_everywhere() ? TOOL_DONE
                                                     : TOOL_UNCHECKED;
    return Outcome{code, std::nullopt, false, std::nullopt, std::move(verdict)};
}

// The manifest must never take the place of one of the archives it describes.
std::optional<std::string> overwritten_input(const MakeRequest& make) {
    for (const std::optional<std::string>& archive : make.archives)
        if (archive) {
            const std::optional<bool> same = same_file(make.out, *archive);
            if (!same)
                return fill_template(
                    "--out {} is there, but whether it is the archive {} cannot be told: give "
                    "another --out.",
                    {make.out, *archive});
            if (*same)
                return fill_template("--out {} is the archive {}: the manifest would replace it.",
                                     {make.out, *archive});
        }
    return std::nullopt;
}

Outcome run_make(const MakeRequest& make) {
    if (std::optional<std::string> clash = overwritten_input(make))
        return stopped(TOOL_USAGE, *clash);
    Result<MadeManifest> made = make_manifest(make, archive_access(std::nullopt));
    if (!made) return stopped(TOOL_REFUSED, made.error());
    const std::vector<std::string> warnings = made.value().verdict.all_warnings();
    if (make.strict && !warnings.empty()) return stopped(TOOL_REFUSED, strict_refusal(warnings));
    if (Status written = write_file_replacing(make.out, made.value().text); !written)
        return stopped(TOOL_REFUSED, written.error());
    return Outcome{TOOL_DONE, std::nullopt, false, make.out, std::move(made.value().verdict)};
}

int run_request(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err) {
    const std::optional<std::string> command = command_named(arguments);
    Result<ToolRequest> request = parse_tool_arguments(arguments);
    if (!request) {
        Outcome mistake = stopped(TOOL_USAGE, request.error());
        mistake.show_usage = true;
        report(mistake, command, asks_for_json(arguments), out, err);
        return mistake.code;
    }
    const bool json = request.value().json;
    Outcome outcome;
    if (const auto* check = std::get_if<CheckRequest>(&request.value().command)) {
        outcome = run_check(*check, live_progress(json, err));
    } else if (const auto* make = std::get_if<MakeRequest>(&request.value().command)) {
        outcome = run_make(*make);
    } else if (const auto* help = std::get_if<HelpRequest>(&request.value().command)) {
        out << usage_text(help->command);
        return TOOL_DONE;
    } else {
        out << PROGRAM << ' ' << PROGRAM_VERSION << '\n';
        return TOOL_DONE;
    }
    report(outcome, command, json, out, err);
    return outcome.code;
}

}  // namespace

int run_release_tool(const std::vector<std::string>& arguments, std::ostream& out,
                     std::ostream& err) {
    const int code = run_request(arguments, out, err);
    // Output that never arrived (a full disk, a closed pipe) must not pass for a verdict.
    out.flush();
    if (!out) {
        err << PROGRAM << ": Could not write the output to standard output.\n";
        return code == TOOL_USAGE ? code : TOOL_REFUSED;
    }
    return code;
}

}  // namespace vantile
