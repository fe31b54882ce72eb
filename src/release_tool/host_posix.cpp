// The tool on Linux: Windows paths are read with Windows' rules, and archives are read with
// libarchive, the library behind Windows' own tar.exe.
#include <archive.h>
#include <archive_entry.h>
#include <unistd.h>

#include <sys/stat.h>

#include <cerrno>
#include <memory>

#include "flow/windows_paths.h"
#include "release_tool/host.h"

namespace vantile {
namespace {

struct ArchiveFree {
    void operator()(archive* reader) const { archive_read_free(reader); }
};

EntryKind kind_of(archive_entry* entry) {
    if (archive_entry_hardlink(entry)) return EntryKind::HardLink;
    switch (archive_entry_filetype(entry)) {
        case AE_IFREG:
            return EntryKind::File;
        case AE_IFDIR:
            return EntryKind::Folder;
        case AE_IFLNK:
            return EntryKind::SymbolicLink;
        default:
            return EntryKind::Other;
    }
}

std::string reader_error(archive* reader, const char* fallback) {
    const char* text = archive_error_string(reader);
    return text ? text : fallback;
}

// Reads every entry's data to its end, as unpacking does, so damaged or unsupported data
// shows as well as a damaged directory; each entry is judged as it is read and not kept.
// Nothing when the archive was read to its end, or the reader's reason.
std::optional<std::string> read_archive(const std::string& path, ArchiveJudge& judge) {
    std::unique_ptr<archive, ArchiveFree> reader(archive_read_new());
    if (!reader) return "libarchive could not start";
    archive_read_support_filter_all(reader.get());
    archive_read_support_format_all(reader.get());
    if (archive_read_open_filename(reader.get(), path.c_str(), 65536) != ARCHIVE_OK)
        return reader_error(reader.get(), "it is not an archive");
    for (;;) {
        archive_entry* entry = nullptr;
        const int header = archive_read_next_header(reader.get(), &entry);
        if (header == ARCHIVE_EOF) return std::nullopt;
        if (header < ARCHIVE_WARN) return reader_error(reader.get(), "a damaged entry");
        const char* utf8 = archive_entry_pathname_utf8(entry);
        const char* name = utf8 ? utf8 : archive_entry_pathname(entry);
        const bool encrypted = archive_entry_is_encrypted(entry) != 0;
        judge.add({name ? name : "", kind_of(entry), encrypted});
        if (encrypted) continue;
        const void* block = nullptr;
        size_t size = 0;
        la_int64_t offset = 0;
        int data = ARCHIVE_OK;
        while ((data = archive_read_data_block(reader.get(), &block, &size, &offset)) ==
               ARCHIVE_OK) {
        }
        if (data != ARCHIVE_EOF) return reader_error(reader.get(), "damaged data");
    }
}

}  // namespace

std::optional<bool> same_file(const std::string& a, const std::string& b) {
    struct stat first {};
    if (stat(a.c_str(), &first) != 0) {
        if (errno == ENOENT || errno == ENOTDIR) return false;
        return std::nullopt;
    }
    struct stat second {};
    if (stat(b.c_str(), &second) != 0) return false;
    return first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

std::optional<std::string> host_path(std::string_view installer_path) {
    if (drive_prefix_length(installer_path) > 0) return std::nullopt;
    std::string path(installer_path);
    for (char& c : path)
        if (c == '\\') c = '/';
    return path;
}

UnpackVerdict judge_unpacking(const std::string& path, std::string_view named) {
    ArchiveJudge judge;
    const std::optional<std::string> damage = read_archive(path, judge);
    return judge.finish(named, damage);
}

bool standard_error_is_terminal() {
    return isatty(STDERR_FILENO) == 1;
}

}  // namespace vantile
