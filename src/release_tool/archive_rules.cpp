#include "release_tool/archive_rules.h"

#include <vector>

#include "base/text.h"
#include "flow/unpack_messages.h"
#include "flow/windows_paths.h"

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

UnpackVerdict judge_archive(std::string_view archive, const ArchiveListing& listing) {
    UnpackVerdict verdict;
    for (const ArchiveEntry& entry : listing.entries)
        if (std::optional<std::string> why = refusal(entry))
            verdict.reasons.push_back(fill_template("tar.exe refuses {}: {}", {entry.name, *why}));
    if (listing.damage)
        verdict.reasons.push_back(
            fill_template("tar.exe cannot read the archive: {}", {*listing.damage}));
    if (!verdict.reasons.empty()) {
        verdict.failure = unpack_failed_message(archive, TAR_FAILURE_EXIT_CODE);
        return verdict;
    }

    bool app_file = false;
    bool app_folder = false;
    std::optional<std::string> deeper;
    for (const ArchiveEntry& entry : listing.entries) {
        const std::vector<std::string_view> parts = components(entry.name);
        if (parts.empty() || !is_app_executable_name(parts.back())) {
            if (!parts.empty() && is_app_executable_name(parts.front())) app_folder = true;
            continue;
        }
        if (parts.size() > 1) {
            if (!deeper) deeper = entry.name;
            if (is_app_executable_name(parts.front())) app_folder = true;
        } else if (entry.kind == EntryKind::Folder) {
            app_folder = true;
        } else {
            app_file = true;
        }
    }
    if (app_file && !app_folder) return verdict;
    verdict.failure = std::string(NO_APP_EXECUTABLE_MESSAGE);
    if (app_folder)
        verdict.reasons.push_back("Vantile.exe at the top of the archive is a folder");
    else if (deeper)
        verdict.reasons.push_back(
            fill_template("the archive holds {}, but only its top is looked at", {*deeper}));
    else
        verdict.reasons.push_back("the archive holds no Vantile.exe at all");
    return verdict;
}

}  // namespace vantile
