#include "shell/portable/command_line.h"

#include "base/text.h"

namespace vantile {

std::vector<std::u16string> split_command_line(std::u16string_view line) {
    std::vector<std::u16string> arguments;
    size_t i = 0;
    // The program's name ends at the first space or tab outside quotes; quotes are only removed.
    {
        std::u16string name;
        bool quoted = false;
        for (; i < line.size(); ++i) {
            char16_t c = line[i];
            if (c == u'"') {
                quoted = !quoted;
            } else if (!quoted && (c == u' ' || c == u'\t')) {
                break;
            } else {
                name.push_back(c);
            }
        }
        arguments.push_back(std::move(name));
    }
    while (true) {
        while (i < line.size() && (line[i] == u' ' || line[i] == u'\t')) ++i;
        if (i >= line.size()) break;
        std::u16string argument;
        bool quoted = false;
        while (i < line.size()) {
            char16_t c = line[i];
            if (!quoted && (c == u' ' || c == u'\t')) break;
            if (c == u'\\') {
                size_t slashes = 0;
                while (i < line.size() && line[i] == u'\\') {
                    ++slashes;
                    ++i;
                }
                if (i < line.size() && line[i] == u'"') {
                    argument.append(slashes / 2, u'\\');
                    if (slashes % 2 == 1) {
                        argument.push_back(u'"');
                        ++i;
                    }
                } else {
                    argument.append(slashes, u'\\');
                }
                continue;
            }
            if (c == u'"') {
                if (quoted && i + 1 < line.size() && line[i + 1] == u'"') {
                    argument.push_back(u'"');
                    i += 2;
                    continue;
                }
                quoted = !quoted;
                ++i;
                continue;
            }
            argument.push_back(c);
            ++i;
        }
        arguments.push_back(std::move(argument));
    }
    return arguments;
}

std::vector<std::string> arguments_after_program(std::u16string_view command_line) {
    std::vector<std::u16string> all = split_command_line(command_line);
    std::vector<std::string> arguments;
    for (size_t k = 1; k < all.size(); ++k) arguments.push_back(utf16_to_utf8_lossy(all[k]));
    return arguments;
}

Mode mode_for(const std::vector<std::string>& arguments) {
    if (arguments.empty()) return Mode::Window;
    if (arguments.size() == 1 && arguments[0] == "--quiet") return Mode::Quiet;
    return Mode::UsageError;
}

}  // namespace vantile
