#include "flow/windows_paths.h"

#include "base/text.h"

namespace vantile {
namespace {

bool starts_with_drive(std::string_view path) {
    return path.size() >= 2 && is_ascii_letter(path[0]) && path[1] == ':';
}

// The end of the next component, which runs up to a separator or the end of the text.
std::size_t component_end(std::string_view path, std::size_t start, bool backslash_only) {
    std::size_t i = start;
    while (i < path.size() && (backslash_only ? path[i] != '\\' : !is_path_separator(path[i]))) ++i;
    return i;
}

std::string upper_ascii(std::string_view text) {
    std::string upper(text);
    for (char& c : upper)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return upper;
}

// CON, PRN, AUX, NUL, COM1-9 and LPT1-9 name devices in every folder, with any extension.
bool is_device_name(std::string_view name) {
    const std::string stem = upper_ascii(name.substr(0, name.find('.')));
    for (std::string_view device : {"CON", "PRN", "AUX", "NUL"})
        if (stem == device) return true;
    return stem.size() == 4 && (stem.starts_with("COM") || stem.starts_with("LPT")) &&
           stem[3] >= '1' && stem[3] <= '9';
}

}  // namespace

std::size_t drive_prefix_length(std::string_view path) {
    if (path.size() >= 2 && is_path_separator(path[0]) && is_path_separator(path[1])) {
        if (path.starts_with("\\\\?\\")) {
            const std::string_view rest = path.substr(4);
            if (rest.starts_with("UNC\\")) {
                const std::size_t server_end = component_end(path, 8, true);
                if (server_end >= path.size()) return path.size();
                return component_end(path, server_end + 1, true);
            }
            if (starts_with_drive(rest)) return 6;
            return component_end(path, 4, true);
        }
        if (path.size() >= 4 && path[2] == '.' && is_path_separator(path[3]))
            return component_end(path, 4, false);
        const std::size_t server_end = component_end(path, 2, false);
        if (server_end == 2 || server_end >= path.size()) return 0;
        const std::size_t share_end = component_end(path, server_end + 1, false);
        if (share_end == server_end + 1) return 0;
        return share_end;
    }
    return starts_with_drive(path) ? 2 : 0;
}

std::string_view containing_folder(std::string_view path) {
    const std::size_t prefix = drive_prefix_length(path);
    std::size_t last = path.size();
    while (last > prefix && !is_path_separator(path[last - 1])) --last;
    if (last == prefix) return path.substr(0, prefix);
    // Drop the separators before the last component, but keep the one that roots the path.
    while (last - 1 > prefix && is_path_separator(path[last - 2])) --last;
    if (last - 1 == prefix) return path.substr(0, prefix + 1);
    return path.substr(0, last - 1);
}

bool is_absolute_path(std::string_view path) {
    if (path.size() >= 3 && starts_with_drive(path) && is_path_separator(path[2])) return true;
    return path.size() >= 2 && is_path_separator(path[0]) && is_path_separator(path[1]);
}

bool leaves_its_folder(std::string_view path) {
    if (drive_prefix_length(path) > 0 || (!path.empty() && is_path_separator(path[0]))) return true;
    int depth = 0;
    std::size_t start = 0;
    while (start <= path.size()) {
        const std::size_t end = component_end(path, start, false);
        const std::string_view component = path.substr(start, end - start);
        if (component == "..") {
            if (--depth < 0) return true;
        } else if (!component.empty() && component != ".") {
            ++depth;
        }
        start = end + 1;
    }
    return false;
}

std::optional<std::string> windows_name_fault(std::string_view name) {
    if (name.empty()) return "it is empty";
    if (name == "." || name == "..") return "it names a folder, not a file";
    for (char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20) return std::string("it holds a control character");
        if (std::string_view("\\/:*?\"<>|").find(c) != std::string_view::npos)
            return fill_template("it holds {}, which Windows does not allow in a name",
                                 {std::string_view(&c, 1)});
    }
    if (name.back() == '.' || name.back() == ' ')
        return std::string("Windows drops the full stop or space it ends in");
    if (is_device_name(name))
        return fill_template("{} is a device name on Windows", {name.substr(0, name.find('.'))});
    return std::nullopt;
}

}  // namespace vantile
