#pragma once
// What the installer makes of a verified archive: Windows' tar.exe (bsdtar, on libarchive)
// unpacks it, then the installer looks for a file Vantile.exe at the top. The rules are
// judged here on the archive's entries as a reader listed them.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vantile {

enum class EntryKind { File, Folder, SymbolicLink, HardLink, Other };

struct ArchiveEntry {
    std::string name;  // as the archive writes it
    EntryKind kind = EntryKind::File;
    bool encrypted = false;
};

// The archive as a reader saw it: its entries in order, and the reader's reason when it
// could not read the archive (or an entry's data) to the end.
struct ArchiveListing {
    std::vector<ArchiveEntry> entries;
    std::optional<std::string> damage;
};

struct UnpackVerdict {
    std::optional<std::string> failure;  // the installer's own message
    std::vector<std::string> reasons;    // why, for the publisher
};

// `archive` is the path the messages name.
UnpackVerdict judge_archive(std::string_view archive, const ArchiveListing& listing);

// The exit code tar.exe (bsdtar) ends with when any entry failed.
inline constexpr int TAR_FAILURE_EXIT_CODE = 1;

}  // namespace vantile
