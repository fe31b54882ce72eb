#include "release_tool/manifest_check.h"

#include <compare>

#include "base/text.h"
#include "flow/windows_paths.h"
#include "release_tool/tool_files.h"

namespace vantile {
namespace {

constexpr Architecture COMPUTERS[] = {Architecture::X64, Architecture::Arm64};

bool equal_ignoring_ascii_case(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (ascii_lower(a[i]) != ascii_lower(b[i])) return false;
    return true;
}

// Points at a key that differs from the wanted one only in letter case, the commonest
// reason a member that is plainly there is not found.
std::string case_hint(const JsonValue* object, std::string_view key) {
    const JsonObject* members = object ? object->as_object() : nullptr;
    if (!members) return {};
    for (const JsonMember& member : *members)
        if (member.first != key && equal_ignoring_ascii_case(member.first, key))
            return fill_template(
                " (there is \"{}\", but keys are matched exactly, letter case and all)",
                {member.first});
    return {};
}

// Why the installer passes over a candidate, as a clause.
std::string passed_over(const JsonValue& document, const ExaminedEntry& entry) {
    const JsonValue* value = document.find(entry.key);
    switch (entry.fault) {
        case EntryFault::Absent:
            return fill_template("there is no {}{}", {entry.key, case_hint(&document, entry.key)});
        case EntryFault::NotAnObject:
            return fill_template("{} is passed over: it is not a JSON object", {entry.key});
        case EntryFault::MissingMember:
            return fill_template("{} is passed over: it has no \"{}\"{}",
                                 {entry.key, entry.member, case_hint(value, entry.member)});
        case EntryFault::NotAString:
            return fill_template("{} is passed over: its \"{}\" is not a string",
                                 {entry.key, entry.member});
        case EntryFault::SizeNotInteger:
            return fill_template(
                "{} is passed over: its \"size\" is not written as an integer in the signed "
                "64-bit range",
                {entry.key});
        case EntryFault::VersionUnusable: {
            const JsonValue* version = value ? value->find("version") : nullptr;
            const std::string* text = version ? version->as_string() : nullptr;
            return fill_template(
                "{} is passed over: its \"version\" \"{}\" is not major.minor.patch with an "
                "optional -prerelease part",
                {entry.key, text ? *text : std::string()});
        }
        case EntryFault::None:
            break;
    }
    return fill_template("{} is usable", {entry.key});
}

// Why the chosen candidate won over each of the others.
std::string choice_reason(const BuildChoice& choice, const JsonValue& document,
                          Architecture architecture) {
    const std::size_t chosen_index = *choice.chosen;
    const ExaminedEntry& chosen = choice.candidates[chosen_index];
    if (choice.candidates.size() == 1)
        return fill_template("the only entry {} computers read", {computer_name(architecture)});

    std::string reasons;
    for (std::size_t i = 0; i < choice.candidates.size(); ++i) {
        if (i == chosen_index) continue;
        const ExaminedEntry& other = choice.candidates[i];
        std::string reason;
        if (!other.build) {
            reason = passed_over(document, other);
        } else if (i < chosen_index) {
            // A later candidate replaces an earlier one only when it is strictly newer.
            reason =
                fill_template("it is strictly newer than {} {}", {other.key, other.build->version});
        } else if ((other.numbers <=> chosen.numbers) < 0) {
            reason = fill_template("{} {} is older", {other.key, other.build->version});
        } else {
            reason =
                fill_template("{} {} is not strictly newer", {other.key, other.build->version});
            if (other.build->version != chosen.build->version)
                reason += " (only the numbers are compared)";
        }
        reasons += reasons.empty() ? "because " : ", and ";
        reasons += reason;
    }
    return reasons;
}

// The file name after an address's last slash: where --files finds a published archive.
std::string_view file_name_of_address(std::string_view url) {
    return url.substr(url.rfind('/') + 1);
}

class ComputerJudgement {
  public:
    explicit ComputerJudgement(Architecture architecture) { verdict_.architecture = architecture; }

    ComputerVerdict judge(const JsonValue& document, const ManifestSource& source,
                          const std::optional<ArchiveAccess>& access) {
        const Architecture architecture = verdict_.architecture;
        const BuildChoice choice = choose_build(document, architecture);
        if (!choice.chosen) {
            fails(no_build_message(architecture));
            if (!document.is_object()) {
                say("the manifest is not a JSON object");
            } else {
                for (const ExaminedEntry& entry : choice.candidates)
                    say(passed_over(document, entry));
            }
            return verdict_;
        }

        const BuildEntry& build = *choice.candidates[*choice.chosen].build;
        verdict_.chosen = build;
        say(fill_template("chooses {} {}, {}", {build.asset, build.version,
                                                choice_reason(choice, document, architecture)}));

        Result<DownloadPlan> plan = plan_download(build, source);
        if (!plan) return fails(plan.error());
        verdict_.download = plan.value().source;
        const std::string& installer_path = source_text(plan.value().source);
        say(fill_template(is_address(plan.value().source)
                              ? "downloads {} ({} bytes, SHA-256 {})"
                              : "copies the local file {} ({} bytes, SHA-256 {})",
                          {installer_path, std::to_string(build.size), build.sha256}));
        if (!is_address(plan.value().source) && leaves_its_folder(build.url)) {
            verdict_.warnings.push_back(fill_template(
                "{} lies outside the manifest's folder: an offline folder is copied whole, and "
                "this archive would be left behind",
                {build.url}));
            say("warning: " + verdict_.warnings.back());
        }
        if (!access) return verdict_;
        return judge_archive_at_hand(plan.value(), *access);
    }

    ComputerVerdict fails(const std::string& message) {
        verdict_.failure = message;
        say("would fail: " + message);
        return verdict_;
    }

  private:
    // A published archive is looked for under --files; a local one where the installer opens
    // it, named as the installer names it.
    ComputerVerdict judge_archive_at_hand(const DownloadPlan& plan, const ArchiveAccess& access) {
        const std::string& installer_path = source_text(plan.source);
        std::string path;
        std::string named;
        if (is_address(plan.source)) {
            if (access.fetch) return judge_served_archive(plan, access);
            if (!access.files_folder) return verdict_;
            path = file_in_folder(*access.files_folder, file_name_of_address(installer_path));
            named = path;
        } else {
            std::optional<std::string> here = access.host_path(installer_path);
            if (!here) {
                verdict_.unchecked = fill_template(
                    "{} cannot be checked on this computer: only Windows reaches a drive or a "
                    "network share",
                    {installer_path});
                say(*verdict_.unchecked);
                return verdict_;
            }
            path = *here;
            named = installer_path;
        }
        verdict_.archive = named;
        Result<FileDigest> digest = access.hash(path, named, plan.size);
        if (!digest) return fails(digest.error());
        return judge_archive_bytes(plan, access, path, named, digest.value());
    }

    // As the release host serves it: the installer's message first, then what the host did.
    ComputerVerdict judge_served_archive(const DownloadPlan& plan, const ArchiveAccess& access) {
        const std::string& address = source_text(plan.source);
        FetchedArchive fetched = access.fetch(plan);
        verdict_.fetched = fetched.outcome;
        verdict_.archive = address;
        if (fetched.outcome.failure)
            fails(*fetched.outcome.failure);
        else
            judge_archive_bytes(plan, access, *fetched.path, address, fetched.digest);
        for (const std::string& line : fetched.outcome.host_lines) {
            verdict_.warnings.push_back(line);
            say("the release host " + line);
        }
        return verdict_;
    }

    ComputerVerdict judge_archive_bytes(const DownloadPlan& plan, const ArchiveAccess& access,
                                        const std::string& path, const std::string& named,
                                        const FileDigest& digest) {
        if (Status verified = verify_download(plan, digest); !verified)
            return fails(verified.error());
        say(fill_template("{} has that size and SHA-256", {named}));

        const UnpackVerdict unpacked = access.judge_unpacking(path, named);
        if (unpacked.failure) fails(*unpacked.failure);
        for (const std::string& reason : unpacked.reasons) say(reason);
        if (!unpacked.failure)
            say(fill_template("{} unpacks with Vantile.exe at its top", {named}));
        return verdict_;
    }

    void say(const std::string& text) {
        verdict_.lines.push_back(std::string(computer_name(verdict_.architecture)) + ": " + text);
    }

    ComputerVerdict verdict_;
};

}  // namespace

std::string_view computer_name(Architecture architecture) {
    return architecture == Architecture::Arm64 ? "arm64" : "x64";
}

bool ManifestVerdict::installs_everywhere() const {
    for (const ComputerVerdict& computer : computers)
        if (!computer.installs()) return false;
    return !computers.empty();
}

bool ManifestVerdict::checked_everything() const {
    for (const ComputerVerdict& computer : computers)
        if (computer.unchecked) return false;
    return true;
}

std::string ManifestVerdict::summary() const {
    std::vector<std::string_view> installing;
    for (const ComputerVerdict& computer : computers)
        if (computer.installs()) installing.push_back(computer_name(computer.architecture));
    if (installs_everywhere())
        return checked_everything()
                   ? "Both kinds of computer would install."
                   : "Both kinds of computer would install, as far as this computer can check.";
    if (installing.empty()) return "Neither kind of computer would install.";
    return fill_template("Only {} computers would install.", {installing.front()});
}

std::vector<std::string> ManifestVerdict::lines() const {
    std::vector<std::string> all;
    for (const ComputerVerdict& computer : computers)
        all.insert(all.end(), computer.lines.begin(), computer.lines.end());
    all.insert(all.end(), host_lines.begin(), host_lines.end());
    all.push_back(summary());
    return all;
}

ManifestVerdict check_manifest(const Result<std::string>& bytes, const ManifestSource& source,
                               const std::optional<ArchiveAccess>& access) {
    ManifestVerdict verdict;
    verdict.manifest = source_text(source);
    Result<JsonValue> document = bytes ? parse_manifest_document(bytes.value(), source_text(source))
                                       : Result<JsonValue>(fail(bytes.error()));
    for (Architecture architecture : COMPUTERS) {
        ComputerJudgement judgement(architecture);
        verdict.computers.push_back(document ? judgement.judge(document.value(), source, access)
                                             : judgement.fails(document.error()));
    }
    return verdict;
}

}  // namespace vantile
