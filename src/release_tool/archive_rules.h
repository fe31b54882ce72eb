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

// Refusals named one by one; the rest are counted, so that an archive of millions of
// refused entries costs no more memory than one of a few.
inline constexpr std::size_t REFUSALS_NAMED = 20;

// Judges an archive entry by entry as a reader streams them, keeping only what the verdict
// needs: memory stays bounded however many entries the archive holds.
class ArchiveJudge {
  public:
    void add(const ArchiveEntry& entry);
    // `archive` is the path the messages name; `damage` the reader's reason when it could not
    // read the archive to its end.
    UnpackVerdict finish(std::string_view archive, const std::optional<std::string>& damage) const;

  private:
    std::vector<std::string> refusals_;
    std::size_t unnamed_refusals_ = 0;
    bool app_file_ = false;
    bool app_folder_ = false;
    std::optional<std::string> deeper_;  // the first Vantile.exe below the top
};

// `archive` is the path the messages name.
UnpackVerdict judge_archive(std::string_view archive, const ArchiveListing& listing);

// The exit code tar.exe (bsdtar) ends with when any entry failed.
inline constexpr int TAR_FAILURE_EXIT_CODE = 1;

}  // namespace vantile
