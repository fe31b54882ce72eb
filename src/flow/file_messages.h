#pragma once
// The messages for a file or folder that could not be read or made, said the same way by
// every step.
#include <string>
#include <string_view>

namespace vantile {

// "Could not read {}: {}" with the path and the reason.
std::string unreadable_file_message(std::string_view path, std::string_view reason);

// "Could not create {}: {}" with the path and the reason.
std::string uncreatable_path_message(std::string_view path, std::string_view reason);

// A C library error number as a reason, in the shape of the installer's Windows reasons:
// "<text> (os error <code>)".
std::string errno_text(int code);

}  // namespace vantile
