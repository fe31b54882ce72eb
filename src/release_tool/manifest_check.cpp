#include "release_tool/manifest_check.h"

#include <compare>
#include <deque>

#include "base/text.h"
#include "flow/windows_paths.h"
#include "release_tool/manifest_warnings.h"
#include "release_tool/tool_files.h"

namespace vantile {
namespace {

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

// An archive as read once: kinds of computer often choose the same one, and it is read once.
struct ReadArchive {
    std::string path;
    std::int64_t expected_size = 0;
    Result<FileDigest> digest;
    std::optional<UnpackVerdict> unpacked;
};

class ReadArchives {
  public:
    explicit ReadArchives(const ArchiveAccess& access) : access_(access) {}

    ReadArchive& read(const std::string& path, std::string_view named, std::int64_t size) {
        for (ReadArchive& archive : archives_)
            if (archive.path == path && archive.expected_size == size) return archive;
        archives_.push_back({path, size, access_.hash(path, named, size), std::nullopt});
        return archives_.back();
    }

    // An archive the live check read from the release host, with the digest of its reading.
    ReadArchive& served(const std::string& path, std::int64_t size, const FileDigest& digest) {
        for (ReadArchive& archive : archives_)
            if (archive.path == path && archive.expected_size == size) return archive;
        archives_.push_back({path, size, digest, std::nullopt});
        return archives_.back();
    }

    const UnpackVerdict& unpack(ReadArchive& archive, std::string_view named) {
        if (!archive.unpacked) archive.unpacked = access_.judge_unpacking(archive.path, named);
        return *archive.unpacked;
    }

    const ArchiveAccess& access() const { return access_; }

  private:
    const ArchiveAccess& access_;
    std::deque<ReadArchive> archives_;  // stable addresses as it grows
};

class ComputerJudgement {
  public:
    explicit ComputerJudgement(Architecture architecture) { verdict_.architecture = architecture; }

    ComputerVerdict judge(const JsonValue& document, const ManifestSource& source,
                          ReadArchives* archives) {
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
        if (!archives) return verdict_;
        return judge_archive_at_hand(plan.value(), *archives);
    }

    ComputerVerdict fails(const std::string& message) {
        verdict_.failure = message;
        say("would fail: " + message);
        return verdict_;
    }

  private:
    // A published archive is the one make was given, or is looked for under --files; a local
    // one where the installer opens it, named as the installer names it.
    ComputerVerdict judge_archive_at_hand(const DownloadPlan& plan, ReadArchives& archives) {
        const ArchiveAccess& access = archives.access();
        const std::string& installer_path = source_text(plan.source);
        std::string path;
        std::string named;
        if (is_address(plan.source)) {
            if (access.fetch) return judge_served_archive(plan, archives);
            const std::string_view file_name = file_name_of_address(installer_path);
            for (const auto& [address, given] : access.given_archives)
                if (address == installer_path) path = given;
            if (path.empty() && !access.files_folder)
                return not_checked(fill_template(
                    "not checked: give the folder that holds {} with --files to check it",
                    {file_name}));
            if (path.empty()) {
                path = file_in_folder(*access.files_folder, file_name);
                // Users download from the server: a file missing here says nothing of them.
                if (!path_exists(path)) {
                    verdict_.mistake = fill_template(
                        "The folder {} given with --files holds no {}, the archive of {}.",
                        {*access.files_folder, file_name, installer_path});
                    return verdict_;
                }
            }
            named = path;
        } else {
            std::optional<std::string> here = access.host_path(installer_path);
            if (!here)
                return not_checked(fill_template(
                    "{} cannot be checked on this computer: only Windows reaches a drive or a "
                    "network share, so check it with vantile-release.exe on Windows",
                    {installer_path}));
            path = *here;
            named = installer_path;
        }
        verdict_.archive = named;
        ReadArchive& archive = archives.read(path, named, plan.size);
        if (!archive.digest) return fails(archive.digest.error());
        if (Status verified = verify_download(plan, archive.digest.value()); !verified) {
            fails(verified.error());
            say(fill_template(
                "{} no longer matches the manifest: if the archive was rebuilt, make the "
                "manifest again",
                {named}));
            return verdict_;
        }
        say(fill_template("{} has that size and SHA-256", {named}));

        const UnpackVerdict& unpacked = archives.unpack(archive, named);
        if (unpacked.failure) fails(*unpacked.failure);
        verdict_.reasons = unpacked.reasons;
        for (const std::string& reason : unpacked.reasons) say(reason);
        if (!unpacked.failure)
            say(fill_template("{} unpacks with Vantile.exe at its top", {named}));
        return verdict_;
    }

    // As the release host serves it: the installer's message first, then what the host did.
    ComputerVerdict judge_served_archive(const DownloadPlan& plan, ReadArchives& archives) {
        const std::string& address = source_text(plan.source);
        const FetchedArchive fetched = archives.access().fetch(plan);
        verdict_.fetched = fetched.outcome;
        verdict_.archive = address;
        if (fetched.outcome.failure) {
            fails(*fetched.outcome.failure);
        } else if (Status verified = verify_download(plan, fetched.digest); !verified) {
            fails(verified.error());
        } else {
            say(fill_template("{} has that size and SHA-256", {address}));
            ReadArchive& archive = archives.served(*fetched.path, plan.size, fetched.digest);
            const UnpackVerdict& unpacked = archives.unpack(archive, address);
            if (unpacked.failure) fails(*unpacked.failure);
            verdict_.reasons = unpacked.reasons;
            for (const std::string& reason : unpacked.reasons) say(reason);
            if (!unpacked.failure)
                say(fill_template("{} unpacks with Vantile.exe at its top", {address}));
        }
        for (const std::string& line : fetched.outcome.host_lines) {
            verdict_.warnings.push_back(line);
            say("the release host " + line);
        }
        return verdict_;
    }

    ComputerVerdict not_checked(const std::string& why) {
        verdict_.unchecked = why;
        say(why);
        return verdict_;
    }

    void say(const std::string& text) {
        verdict_.lines.push_back(std::string(computer_name(verdict_.architecture)) + ": " + text);
    }

    ComputerVerdict verdict_;
};

// "Both kinds of computer would install." from "both kinds of computer" and the rest.
std::string sentence(std::string_view subject, std::string_view rest) {
    std::string text = fill_template("{} {}", {subject, rest});
    if (text.front() >= 'a' && text.front() <= 'z')
        text.front() = static_cast<char>(text.front() - 'a' + 'A');
    return text;
}

}  // namespace

bool ManifestVerdict::installs_everywhere() const {
    for (const ComputerVerdict& computer : computers)
        if (!computer.installs()) return false;
    return !computers.empty();
}

bool ManifestVerdict::fails_somewhere() const {
    for (const ComputerVerdict& computer : computers)
        if (computer.failure || !computer.chosen) return true;
    return false;
}

bool ManifestVerdict::checked_everything() const {
    for (const ComputerVerdict& computer : computers)
        if (computer.unchecked) return false;
    return true;
}

std::optional<std::string> ManifestVerdict::mistake() const {
    for (const ComputerVerdict& computer : computers)
        if (computer.mistake) return computer.mistake;
    return std::nullopt;
}

std::string ManifestVerdict::summary() const {
    std::vector<std::string> installing;
    std::vector<std::string> failing;
    for (const ComputerVerdict& computer : computers) {
        if (computer.installs()) installing.emplace_back(computer_name(computer.architecture));
        if (computer.failure || !computer.chosen)
            failing.emplace_back(computer_name(computer.architecture));
    }
    if (installs_everywhere()) return sentence(every_kind_of_computer(), "would install.");
    if (failing.empty())
        return "No computer would fail as far as checked, but not every archive could be "
               "checked.";
    if (failing.size() == computers.size())
        return sentence(no_kind_of_computer(), "would install.");
    if (installing.size() + failing.size() == computers.size())
        return fill_template("Only {} computers would install.", {spoken_list(installing)});
    return fill_template("{} computers would not install, and not every archive could be checked.",
                         {spoken_list(failing)});
}

std::vector<std::string> ManifestVerdict::all_warnings() const {
    std::vector<std::string> all = warnings;
    for (const ComputerVerdict& computer : computers)
        all.insert(all.end(), computer.warnings.begin(), computer.warnings.end());
    return all;
}

std::vector<std::string> ManifestVerdict::lines() const {
    std::vector<std::string> all;
    for (const ComputerVerdict& computer : computers)
        all.insert(all.end(), computer.lines.begin(), computer.lines.end());
    for (const std::string& warning : warnings) all.push_back("warning: " + warning);
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
    if (document) verdict.warnings = manifest_warnings(document.value());
    std::optional<ReadArchives> archives;
    if (access) archives.emplace(*access);
    for (const ArchitectureFacts& facts : ARCHITECTURES) {
        ComputerJudgement judgement(facts.architecture);
        verdict.computers.push_back(
            document ? judgement.judge(document.value(), source, archives ? &*archives : nullptr)
                     : judgement.fails(document.error()));
    }
    return verdict;
}

}  // namespace vantile
