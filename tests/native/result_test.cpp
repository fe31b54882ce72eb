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

TEST(Result, PassingAFailureOnMovesItsMessage) {
    const std::string message(200, 'm');  // longer than a string's inline buffer
    Result<int> read = fail(message);
    const char* text = read.error().data();
    Status passed_on = std::move(read).failure();
    EXPECT_EQ(passed_on.error(), message);
    EXPECT_EQ(passed_on.error().data(), text);  // the same buffer, not a copy

    Status checked = fail(message);
    text = checked.error().data();
    Result<std::string> again = std::move(checked).failure();
    EXPECT_EQ(again.error(), message);
    EXPECT_EQ(again.error().data(), text);
}

TEST(Result, BothKindsAnswerAnEmptyMessageWhenThereIsNoError) {
    const Result<std::string> value = std::string("text");
    const Status done;
    EXPECT_EQ(value.error(), "");
    EXPECT_EQ(done.error(), "");
}

}  // namespace
}  // namespace vantile
