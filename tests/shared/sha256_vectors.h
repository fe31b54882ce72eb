#pragma once
// FIPS 180-4 known answers for SHA-256, shared by the native and the Windows tests, and a
// helper that feeds a message in uneven pieces so block boundaries fall everywhere.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vantile::sha256_vectors {

struct KnownAnswer {
    const char* name;
    std::string message;
    const char* digest;
};

inline std::vector<KnownAnswer> known_answers() {
    return {
        {"empty", "", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"448 bits", "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {"896 bits",
         "abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrl"
         "mnopqrsmnopqrs"
         "tnopqrstu",
         "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
        {"one million a", std::string(1000000, 'a'),
         "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
}

// Piece sizes that straddle the 64-byte block in every way: a byte, less than a block, one
// block and one more, a buffer's worth and an odd large piece.
inline const std::vector<std::size_t>& piece_sizes() {
    static const std::vector<std::size_t> sizes = {1,  3,   55,   56,   63,    64,
                                                   65, 127, 1000, 4099, 65536, 333333};
    return sizes;
}

// Calls feed(bytes, size) over the message, cycling through piece_sizes() from `first`.
template <class Feed>
void feed_in_pieces(const std::string& message, std::size_t first, Feed&& feed) {
    const auto& sizes = piece_sizes();
    std::size_t offset = 0;
    for (std::size_t turn = first; offset < message.size(); ++turn) {
        std::size_t size = sizes[turn % sizes.size()];
        if (size > message.size() - offset) size = message.size() - offset;
        feed(reinterpret_cast<const std::uint8_t*>(message.data()) + offset, size);
        offset += size;
    }
}

}  // namespace vantile::sha256_vectors
