// The Windows build links with -municode, so the C runtime starts at wmain, which
// GoogleTest's own main does not provide.
#include <gtest/gtest.h>

extern "C" int wmain(int argc, wchar_t** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
