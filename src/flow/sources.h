#pragma once
// Where the manifest and the build archive come from: an https address or a file.
#include <string>
#include <variant>

namespace vantile {

struct Address {
    std::string text;  // exactly as given, letter case and all
    bool operator==(const Address&) const = default;
};

struct LocalFile {
    std::string path;  // unchanged; a relative path is relative to the current folder
    bool operator==(const LocalFile&) const = default;
};

// Made once at start-up; each attempt works on its own copy.
using ManifestSource = std::variant<Address, LocalFile>;
// Made only by the trust rules.
using DownloadSource = std::variant<Address, LocalFile>;

// The text that messages and the log show: the address, or the path.
inline const std::string& source_text(const std::variant<Address, LocalFile>& source) {
    if (const auto* address = std::get_if<Address>(&source)) return address->text;
    return std::get<LocalFile>(source).path;
}

inline bool is_address(const std::variant<Address, LocalFile>& source) {
    return std::holds_alternative<Address>(source);
}

// Three tries for an address, one for a local file (manifest read and download alike).
inline unsigned try_limit(const std::variant<Address, LocalFile>& source) {
    return is_address(source) ? 3u : 1u;
}

}  // namespace vantile
