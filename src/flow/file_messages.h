#pragma once
// The messages for a file or folder that could not be read or made, said the same way by
// every step.
#include <cstdint>
#include <string>
#include <string_view>

namespace vantile {

// "Could not read {}: {}" with the path and the reason.
std::string unreadable_file_message(std::string_view path, std::string_view reason);

// "Could not create {}: {}" with the path and the reason.
std::string uncreatable_path_message(std::string_view path, std::string_view reason);

// "Could not write {}: {}" with the path and the reason.
std::string unwritable_file_message(std::string_view path, std::string_view reason);

// The shape of every reason that carries an operating system's error code:
// "<text> (os error <code>)".
std::string os_error_reason(std::string_view text, std::int64_t code);

// A C library error number as a reason, in the os error shape.
std::string errno_text(int code);

}  // namespace vantile
