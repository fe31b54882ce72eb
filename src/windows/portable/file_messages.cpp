#include "windows/portable/file_messages.h"

#include "base/text.h"

namespace vantile {

std::string unreadable_file_message(std::string_view path, std::string_view reason) {
    return fill_template("Could not read {}: {}", {path, reason});
}

std::string uncreatable_path_message(std::string_view path, std::string_view reason) {
    return fill_template("Could not create {}: {}", {path, reason});
}

}  // namespace vantile
