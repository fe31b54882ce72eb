#include "base/result.h"

#include <gtest/gtest.h>

#include <string>

namespace vantile {
namespace {

TEST(Result, CarriesAValueOrTheWholeMessage) {
    Result<int> value = 7;
    ASSERT_TRUE(value);
    EXPECT_EQ(value.value(), 7);
    Result<int> failed = fail("Could not read x: gone");
    ASSERT_FALSE(failed);
    EXPECT_EQ(failed.error(), "Could not read x: gone");

    Status done;
    EXPECT_TRUE(done);
    Status refused = fail("refused");
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error(), "refused");
}

TEST(Result, BothKindsAnswerAnEmptyMessageWhenThereIsNoError) {
    const Result<std::string> value = std::string("text");
    const Status done;
    EXPECT_EQ(value.error(), "");
    EXPECT_EQ(done.error(), "");
}

}  // namespace
}  // namespace vantile
