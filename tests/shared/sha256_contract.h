#pragma once
// What every Sha256 implementation promises, written once as a type-parameterised suite. Each
// test binary instantiates it for the implementation it links, named by a type whose
// `start()` begins a computation:
//     struct OpenSslSha256 {
//         static Result<std::unique_ptr<Sha256>> start() { return start_sha256(); }
//     };
//     INSTANTIATE_TYPED_TEST_SUITE_P(OpenSsl, Sha256Contract, OpenSslSha256);
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "flow/sha256.h"
#include "sha256_vectors.h"

namespace vantile {

// The digest of `message` fed in uneven pieces from piece size `first_piece` on.
template <class Implementation>
std::string digest_of_pieces(const std::string& message, std::size_t first_piece) {
    Result<std::unique_ptr<Sha256>> started = Implementation::start();
    EXPECT_TRUE(started.ok()) << started.error();
    if (!started) return {};
    Sha256& sha256 = *started.value();
    sha256_vectors::feed_in_pieces(message, first_piece,
                                   [&](const std::uint8_t* bytes, std::size_t size) {
                                       Status fed = sha256.feed(bytes, size);
                                       EXPECT_TRUE(fed.ok()) << fed.error();
                                   });
    Result<Sha256Digest> digest = sha256.finish();
    EXPECT_TRUE(digest.ok()) << digest.error();
    return digest ? sha256_hex(digest.value()) : std::string();
}

template <class Implementation>
class Sha256Contract : public ::testing::Test {};

TYPED_TEST_SUITE_P(Sha256Contract);

TYPED_TEST_P(Sha256Contract, KnownAnswersWhateverThePieces) {
    for (const auto& known : sha256_vectors::known_answers()) {
        // Each starting point shifts where the pieces end relative to the 64-byte blocks.
        for (std::size_t first = 0; first < sha256_vectors::piece_sizes().size(); ++first) {
            SCOPED_TRACE(std::string(known.name) + ", first piece " + std::to_string(first));
            EXPECT_EQ(digest_of_pieces<TypeParam>(known.message, first), known.digest);
        }
    }
}

TYPED_TEST_P(Sha256Contract, FeedingNothingChangesNothing) {
    Result<std::unique_ptr<Sha256>> started = TypeParam::start();
    ASSERT_TRUE(started.ok()) << started.error();
    Sha256& sha256 = *started.value();
    const std::uint8_t abc[] = {'a', 'b', 'c'};
    ASSERT_TRUE(sha256.feed(abc, 0).ok());
    ASSERT_TRUE(sha256.feed(abc, 3).ok());
    ASSERT_TRUE(sha256.feed(abc, 0).ok());
    Result<Sha256Digest> digest = sha256.finish();
    ASSERT_TRUE(digest.ok()) << digest.error();
    EXPECT_EQ(sha256_hex(digest.value()),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

TYPED_TEST_P(Sha256Contract, ComputationsAreIndependent) {
    Result<std::unique_ptr<Sha256>> first = TypeParam::start();
    Result<std::unique_ptr<Sha256>> second = TypeParam::start();
    ASSERT_TRUE(first.ok() && second.ok());
    const std::uint8_t a[] = {'a', 'b', 'c'};
    ASSERT_TRUE(first.value()->feed(a, 3).ok());
    Result<Sha256Digest> empty = second.value()->finish();
    Result<Sha256Digest> abc = first.value()->finish();
    ASSERT_TRUE(empty.ok() && abc.ok());
    EXPECT_EQ(sha256_hex(empty.value()),
              "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(sha256_hex(abc.value()),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

TYPED_TEST_P(Sha256Contract, FinishedComputationRefusesMore) {
    Result<std::unique_ptr<Sha256>> started = TypeParam::start();
    ASSERT_TRUE(started.ok()) << started.error();
    ASSERT_TRUE(started.value()->finish().ok());
    const std::uint8_t byte = 0;
    EXPECT_FALSE(started.value()->feed(&byte, 1).ok());
    EXPECT_FALSE(started.value()->finish().ok());
}

REGISTER_TYPED_TEST_SUITE_P(Sha256Contract, KnownAnswersWhateverThePieces,
                            FeedingNothingChangesNothing, ComputationsAreIndependent,
                            FinishedComputationRefusesMore);

}  // namespace vantile
