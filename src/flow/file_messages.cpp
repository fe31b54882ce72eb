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

std::string unwritable_file_message(std::string_view path, std::string_view reason) {
    return fill_template("Could not write {}: {}", {path, reason});
}

std::string os_error_reason(std::string_view text, std::int64_t code) {
    return fill_template("{} (os error {})", {text, std::to_string(code)});
}

std::string errno_text(int code) {
    return os_error_reason(std::generic_category().message(code), code);
}

}  // namespace vantile
