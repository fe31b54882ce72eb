#include "release_tool/archive_rules.h"

#include <vector>

#include "base/text.h"
#include "flow/unpack_messages.h"
#include "flow/windows_paths.h"
#include "release_tool/terminal_text.h"

namespace vantile {
namespace {

// The components of an entry's name as tar.exe writes it on Windows: "\" and "/" both
// separate, "." and empty parts vanish, and a leading "/", "\" or drive is dropped (bsdtar
// strips it with a warning and goes on).
std::vector<std::string_view> components(std::string_view name) {
    name.remove_prefix(drive_prefix_length(name) == 2 ? 2 : 0);
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    while (start <= name.size()) {
        std::size_t end = start;
        while (end < name.size() && !is_path_separator(name[end])) ++end;
        const std::string_view part = name.substr(start, end - start);
        if (!part.empty() && part != ".") parts.push_back(part);
        start = end + 1;
    }
    return parts;
}

bool is_app_executable_name(std::string_view part) {
    if (part.size() != APP_EXECUTABLE_NAME.size()) return false;
    // Windows file names ignore letter case: vantile.exe is found as Vantile.exe.
    for (std::size_t i = 0; i < part.size(); ++i)
        if (ascii_lower(part[i]) != ascii_lower(APP_EXECUTABLE_NAME[i])) return false;
    return true;
}

// Why tar.exe refuses the entry, as a clause; nothing when it unpacks it.
std::optional<std::string> refusal(const ArchiveEntry& entry) {
    for (std::string_view part : components(entry.name))
        if (part == "..") return std::string("its name climbs out of the folder with \"..\"");
    if (entry.encrypted) return std::string("it is encrypted");
    switch (entry.kind) {
        case EntryKind::SymbolicLink:
            return std::string("it is a symbolic link");
        case EntryKind::HardLink:
            return std::string("it is a hard link");
        case EntryKind::Other:
            return std::string("it is neither a file nor a folder");
        case EntryKind::File:
        case EntryKind::Folder:
            break;
    }
    return std::nullopt;
}

}  // namespace

void ArchiveJudge::add(const ArchiveEntry& entry) {
    // A name that is not UTF-8 is shown byte by byte, so the verdict stays valid text.
    if (std::optional<std::string> why = refusal(entry)) {
        if (refusals_.size() < REFUSALS_NAMED)
            refusals_.push_back(
                fill_template("tar.exe refuses {}: {}", {escape_invalid_utf8(entry.name), *why}));
        else
            ++unnamed_refusals_;
    }
    const std::vector<std::string_view> parts = components(entry.name);
    if (parts.empty() || !is_app_executable_name(parts.back())) {
        if (!parts.empty() && is_app_executable_name(parts.front())) app_folder_ = true;
        return;
    }
    if (parts.size() > 1) {
        if (!deeper_) deeper_ = escape_invalid_utf8(entry.name);
        if (is_app_executable_name(parts.front())) app_folder_ = true;
    } else if (entry.kind == EntryKind::Folder) {
        app_folder_ = true;
    } else {
        app_file_ = true;
    }
}

UnpackVerdict ArchiveJudge::finish(std::string_view archive,
                                   const std::optional<std::string>& damage) const {
    UnpackVerdict verdict;
    verdict.reasons = refusals_;
    if (unnamed_refusals_ > 0)
        verdict.reasons.push_back(
            fill_template("tar.exe refuses {} more entries", {std::to_string(unnamed_refusals_)}));
    if (damage)
        verdict.reasons.push_back(
            fill_template("tar.exe cannot read the archive: {}", {escape_invalid_utf8(*damage)}));
    if (!verdict.reasons.empty()) {
        verdict.failure = unpack_failed_message(archive, TAR_FAILURE_EXIT_CODE);
        return verdict;
    }
    if (app_file_ && !app_folder_) return verdict;
    verdict.failure = std::string(NO_APP_EXECUTABLE_MESSAGE);
    if (app_folder_)
        verdict.reasons.push_back("Vantile.exe at the top of the archive is a folder");
    else if (deeper_)
        verdict.reasons.push_back(
            fill_template("the archive holds {}, but only its top is looked at", {*deeper_}));
    else
        verdict.reasons.push_back("the archive holds no Vantile.exe at all");
    return verdict;
}

UnpackVerdict judge_archive(std::string_view archive, const ArchiveListing& listing) {
    ArchiveJudge judge;
    for (const ArchiveEntry& entry : listing.entries) judge.add(entry);
    return judge.finish(archive, listing.damage);
}

}  // namespace vantile
