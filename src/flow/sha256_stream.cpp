#include "flow/sha256.h"

#include <vector>

#include "base/text.h"

namespace vantile {

std::string sha256_hex(const Sha256Digest& digest) {
    static constexpr char DIGITS[] = "0123456789abcdef";
    std::string text;
    text.reserve(digest.size() * 2);
    for (std::uint8_t byte : digest) {
        text.push_back(DIGITS[byte >> 4]);
        text.push_back(DIGITS[byte & 0x0F]);
    }
    return text;
}

Result<FileDigest> sha256_of_stream(std::string_view path, Sha256& sha256,
                                    const ChunkReader& read) {
    std::vector<std::uint8_t> buffer(HASH_BUFFER_SIZE, 0);
    std::uint64_t byte_count = 0;
    for (;;) {
        Result<std::size_t> got = read(buffer.data(), buffer.size());
        if (!got) return fail(unreadable_file_message(path, got.error()));
        const std::size_t size = got.value();
        if (size == 0) break;
        // A reader that claims more than the buffer holds would have us hash past its end.
        if (size > buffer.size())
            return fail(unreadable_file_message(path, "read returned more bytes than asked for"));
        if (Status fed = sha256.feed(buffer.data(), size); !fed)
            return fail(unreadable_file_message(path, fed.error()));
        byte_count += size;
    }

    Result<Sha256Digest> digest = sha256.finish();
    if (!digest) return fail(unreadable_file_message(path, digest.error()));
    return FileDigest{byte_count, sha256_hex(digest.value())};
}

}  // namespace vantile
