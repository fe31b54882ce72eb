#include "flow/verification.h"

#include "base/text.h"

namespace vantile {

namespace {

// A negative size, or a count beyond the signed range, can never be the published size;
// comparing them after a cast would let 2^64 - 5 bytes match a size of -5.
bool size_matches(std::uint64_t byte_count, std::int64_t size) {
    if (size < 0) return false;
    return byte_count == static_cast<std::uint64_t>(size);
}

std::string lower_ascii_capitals(std::string_view text) {
    std::string lowered(text);
    for (char& c : lowered) c = ascii_lower(c);
    return lowered;
}

}  // namespace

Status verify_download(const DownloadSource& source, std::uint64_t byte_count,
                       std::string_view digest, std::int64_t size, std::string_view sha256) {
    if (!size_matches(byte_count, size))
        return fail(fill_template(
            "{} is {} bytes, but the manifest says {}: the download is incomplete, or is not "
            "the published file.",
            {source_text(source), std::to_string(byte_count), std::to_string(size)}));
    if (lower_ascii_capitals(sha256) != digest)
        return fail(fill_template(
            "{} failed its checksum (expected {}, got {}): it is not the published file.",
            {source_text(source), sha256, digest}));
    return {};
}

}  // namespace vantile
