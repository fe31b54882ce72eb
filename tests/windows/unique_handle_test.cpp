#include "windows/unique_handle.h"

#include <gtest/gtest.h>

#include <utility>

namespace vantile {
namespace {

int closed = 0;
void count_close(int) {
    ++closed;
    SetLastError(ERROR_INVALID_HANDLE);  // a release that fails leaves its own code
}
// An owner of a pretend resource, made the way every real one is: one line.
using CountedResource = UniqueResource<int, count_close>;

TEST(UniqueResource, ReleasesOnceAndKeepsTheLastErrorOfTheCallBefore) {
    closed = 0;
    {
        CountedResource held(7);
        CountedResource moved = std::move(held);
        EXPECT_FALSE(held);
        EXPECT_EQ(moved.get(), 7);
        // The code of a call that failed just before survives the owner's release.
        SetLastError(ERROR_ACCESS_DENIED);
        moved.reset(9);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
        EXPECT_EQ(closed, 1);
        SetLastError(ERROR_FILE_NOT_FOUND);
    }
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(closed, 2);
}

TEST(UniqueResource, FilesAreAbsentAsInvalidHandleValueAndHandlesAsNull) {
    EXPECT_FALSE(UniqueFile());
    EXPECT_EQ(UniqueFile().get(), INVALID_HANDLE_VALUE);
    EXPECT_FALSE(UniqueFile(INVALID_HANDLE_VALUE));
    EXPECT_FALSE(UniqueHandle());
    UniqueHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    ASSERT_TRUE(event);
    SetLastError(ERROR_ALREADY_EXISTS);
    event.reset();
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    EXPECT_FALSE(event);
}

}  // namespace
}  // namespace vantile
