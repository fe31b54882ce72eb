#include "shell/portable/log_format.h"

#include <cstdio>

namespace vantile {

std::string format_log_line(double seconds, std::string_view text) {
    char field[64];
    int length = std::snprintf(field, sizeof field, "%6.1f", seconds < 0 ? 0.0 : seconds);
    std::string line;
    line.reserve(static_cast<size_t>(length) + text.size() + 5);
    line += '[';
    line.append(field, static_cast<size_t>(length > 0 ? length : 0));
    line += "s] ";
    line.append(text);
    line += '\n';
    return line;
}

}  // namespace vantile
