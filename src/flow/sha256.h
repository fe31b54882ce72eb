#pragma once
// Incremental SHA-256 (FIPS 180-4) behind one small interface, and the streaming pass over a
// file that both platforms share. Each platform supplies `start_sha256` and `sha256_of_file`:
// CNG and ReadFile on Windows (windows/), OpenSSL's libcrypto and read() natively (native/).
#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "base/result.h"
#include "flow/file_messages.h"
#include "flow/verification.h"

namespace vantile {

inline constexpr std::size_t SHA256_DIGEST_SIZE = 32;
// One read fills at most this much; memory use does not grow with the file.
inline constexpr std::size_t HASH_BUFFER_SIZE = 65536;

using Sha256Digest = std::array<std::uint8_t, SHA256_DIGEST_SIZE>;

// One computation: feed bytes in any chunks, then finish once. Failures carry the reason
// the platform gave (an error text, not a whole message).
class Sha256 {
  public:
    virtual ~Sha256() = default;
    virtual Status feed(const std::uint8_t* bytes, std::size_t size) = 0;
    virtual Result<Sha256Digest> finish() = 0;
};

// A fresh computation with the platform's SHA-256, or the reason it could not start.
Result<std::unique_ptr<Sha256>> start_sha256();

// 64 lower-case hexadecimal digits, two per byte, high nibble first.
std::string sha256_hex(const Sha256Digest& digest);

// Reads up to `capacity` bytes into `buffer`: the count (0 at the end), or the reason.
using ChunkReader = std::function<Result<std::size_t>(std::uint8_t* buffer, std::size_t capacity)>;

// Hashes everything `read` yields through one zero-filled HASH_BUFFER_SIZE buffer, until a
// read returns 0 bytes, with a computation the caller started. Any failure becomes
// "Could not read {}: {}" naming `path`.
Result<FileDigest> sha256_of_stream(std::string_view path, Sha256& sha256, const ChunkReader& read);

// Size and SHA-256 of a file in one streaming pass, or "Could not read {}: {}".
Result<FileDigest> sha256_of_file(const std::string& path);

}  // namespace vantile
