#pragma once
// Text for a terminal: a manifest may hold control characters (ESC sequences that retitle
// or clear the terminal), so every one is shown escaped, never sent.
#include <string>
#include <string_view>

namespace vantile {

// C0 controls and DEL as \xNN, C1 controls (U+0080 to U+009F) as \u00NN; everything else,
// and every line break the tool itself adds, unchanged.
std::string printable(std::string_view text);

// Valid UTF-8 unchanged; each byte outside a valid sequence as \xNN (an archive's entry
// names are bytes, and may be in any code page).
std::string escape_invalid_utf8(std::string_view text);

}  // namespace vantile
