#include <gtest/gtest.h>

#include "base/text.h"

namespace vantile {
namespace {

TEST(FillTemplate, FillsPlaceholdersInOrder) {
    EXPECT_EQ(fill_template("Could not create {}: {}", {"C:\\x", "Access is denied. (os error 5)"}),
              "Could not create C:\\x: Access is denied. (os error 5)");
    EXPECT_EQ(fill_template("no placeholder", {"unused"}), "no placeholder");
    EXPECT_EQ(fill_template("{} and {}", {"one"}), "one and {}");
}

}  // namespace
}  // namespace vantile
