#pragma once
// Starting a helper program with nothing on its standard handles and waiting for its end.
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

#include "base/result.h"
#include "windows/portable/child_command_line.h"

namespace vantile {

// Starts `program` (used as the application name, no search) with `command_line` in
// `working_folder`, with `creation_flags` plus CREATE_UNICODE_ENVIRONMENT, the installer's
// own environment, and standard input, output and error all on the null device. Waits
// without a time limit and returns the exit code as a signed number. When the program
// cannot be run, the message is `failure_template` filled with the program path and the
// os_error_text of the reason.
Result<std::int32_t> run_child_to_end(const std::string& program, const std::string& command_line,
                                      const std::string& working_folder,
                                      std::uint32_t creation_flags,
                                      std::string_view failure_template);

}  // namespace vantile
