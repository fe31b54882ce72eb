#include "windows/portable/child_command_line.h"

namespace vantile {

std::string quote_argument(std::string_view argument) {
    const bool quoted = argument.empty() || argument.find_first_of(" \t") != std::string_view::npos;
    if (!quoted && argument.find('"') == std::string_view::npos) return std::string(argument);
    // Backslashes count only before a quote: there, each is doubled and the quote escaped.
    std::string out = quoted ? "\"" : "";
    size_t slashes = 0;
    for (char c : argument) {
        if (c == '\\') {
            ++slashes;
            continue;
        }
        if (c == '"') {
            out.append(slashes * 2 + 1, '\\');
        } else {
            out.append(slashes, '\\');
        }
        slashes = 0;
        out.push_back(c);
    }
    // Trailing backslashes stand before the closing quote only when there is one.
    out.append(quoted ? slashes * 2 : slashes, '\\');
    if (quoted) out.push_back('"');
    return out;
}

std::string child_command_line(std::string_view program,
                               std::initializer_list<std::string_view> arguments) {
    std::string line = "\"";
    line.append(program);
    line.push_back('"');
    for (std::string_view argument : arguments) {
        line.push_back(' ');
        line.append(quote_argument(argument));
    }
    return line;
}

}  // namespace vantile
