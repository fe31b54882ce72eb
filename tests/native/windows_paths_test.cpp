#include "flow/windows_paths.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace vantile {
namespace {

// Each row: a path, the part that names its place, the folder that holds it, and whether it
// is absolute or leaves the folder it is written in.
struct PathCase {
    const char* path;
    const char* prefix;
    const char* folder;
    bool absolute;
    bool leaves;
};

TEST(WindowsPaths, ReadsPrefixFolderAndPlaceAsWindowsDoes) {
    const PathCase cases[] = {
        {"app.zip", "", "", false, false},
        {"builds\\app.zip", "", "builds", false, false},
        {"builds/1.0\\app.zip", "", "builds/1.0", false, false},
        {"a\\..\\app.zip", "", "a\\..", false, false},
        {"..\\app.zip", "", "..", false, true},
        {"a\\..\\..\\app.zip", "", "a\\..\\..", false, true},
        {"\\builds\\app.zip", "", "\\builds", false, true},
        {"\\app.zip", "", "\\", false, true},
        {"D:app.zip", "D:", "D:", false, true},
        {"D:\\app.zip", "D:", "D:\\", true, true},
        {"d:/x/app.zip", "d:", "d:/x", true, true},
        {"D:\\x\\\\app.zip", "D:", "D:\\x", true, true},
        {"\\\\server\\share\\app.zip", "\\\\server\\share", "\\\\server\\share\\", true, true},
        {"//server/share/d/app.zip", "//server/share", "//server/share/d", true, true},
        {"\\\\server", "", "\\", true, true},
        {"\\\\?\\C:\\app.zip", "\\\\?\\C:", "\\\\?\\C:\\", true, true},
        {"\\\\?\\UNC\\srv\\sh\\app.zip", "\\\\?\\UNC\\srv\\sh", "\\\\?\\UNC\\srv\\sh\\", true,
         true},
        {"\\\\.\\PhysicalDrive0", "\\\\.\\PhysicalDrive0", "\\\\.\\PhysicalDrive0", true, true},
        // Three separators: the server name is empty, so this is no share's prefix.
        {"\\\\\\a\\app.zip", "", "\\\\\\a", true, true},
        {"\\\\\\a\\b\\app.zip", "", "\\\\\\a\\b", true, true},
    };
    for (const PathCase& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(drive_prefix_length(c.path), std::string(c.prefix).size());
        EXPECT_EQ(containing_folder(c.path), c.folder);
        EXPECT_EQ(is_absolute_path(c.path), c.absolute);
        EXPECT_EQ(leaves_its_folder(c.path), c.leaves);
    }
}

TEST(WindowsPaths, NamesWhyWindowsCannotHoldAName) {
    struct NameCase {
        std::string name;
        std::optional<std::string> fault;
    };
    const NameCase cases[] = {
        {"vantile-x64.zip", std::nullopt},
        {"CONSOLE.zip", std::nullopt},
        {"COM0.zip", std::nullopt},
        {"", "it is empty"},
        {"..", "it names a folder, not a file"},
        {"..\\..\\x.zip", "it holds \\, which Windows does not allow in a name"},
        {"a:b.zip", "it holds :, which Windows does not allow in a name"},
        {"a?.zip", "it holds ?, which Windows does not allow in a name"},
        {std::string("a\x1b[2J.zip"), "it holds a control character"},
        {std::string("unit\x1fseparator.zip"), "it holds a control character"},
        {"space in it.zip", std::nullopt},
        {"app.zip.", "Windows drops the full stop or space it ends in"},
        {"app.zip ", "Windows drops the full stop or space it ends in"},
        {"con", "con is a device name on Windows"},
        {"NUL.zip", "NUL is a device name on Windows"},
        {"lpt9.tar.zip", "lpt9 is a device name on Windows"},
    };
    for (const NameCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(windows_name_fault(c.name), c.fault);
    }
}

}  // namespace
}  // namespace vantile
