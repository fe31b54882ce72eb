#include "flow/file_messages.h"

#include <system_error>

#include "base/text.h"

namespace vantile {

std::string unreadable_file_message(std::string_view path, std::string_view reason) {
    return fill_template("Could not read {}: {}", {path, reason});
}

std::string uncreatable_path_message(std::string_view path, std::string_view reason) {
    return fill_template("Could not create {}: {}", {path, reason});
}

std::string errno_text(int code) {
    return fill_template("{} (os error {})",
                         {std::generic_category().message(code), std::to_string(code)});
}

}  // namespace vantile
