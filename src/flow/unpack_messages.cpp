#include "flow/unpack_messages.h"

#include "base/text.h"

namespace vantile {

std::string unpack_failed_message(std::string_view archive_path, std::int32_t exit_code) {
    return fill_template("Could not unpack {} (tar.exe exit code {}).",
                         {archive_path, std::to_string(exit_code)});
}

}  // namespace vantile
