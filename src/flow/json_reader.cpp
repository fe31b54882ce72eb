#include "flow/json_reader.h"

// A strict, single-pass recursive-descent reader. Positions are kept as a pointer into the
// input; line and column are worked out only once, when an error is reported, so the
// success path pays nothing for them.
#include <algorithm>
#include <array>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <numeric>
#include <optional>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "base/text.h"

namespace vantile {

const JsonValue* JsonValue::find(std::string_view key) const {
    const JsonObject* object = as_object();
    if (!object) return nullptr;
    // Parsed objects hold each key once; searching from the back keeps "last occurrence
    // wins" true for an object that was put together by hand with a repeated key.
    for (auto member = object->rbegin(); member != object->rend(); ++member)
        if (member->first == key) return &member->second;
    return nullptr;
}

namespace {

constexpr std::string_view EOF_IN_VALUE = "EOF while parsing a value";
constexpr std::string_view EOF_IN_LIST = "EOF while parsing a list";
constexpr std::string_view EOF_IN_OBJECT = "EOF while parsing an object";
constexpr std::string_view EOF_IN_STRING = "EOF while parsing a string";
constexpr std::string_view EXPECTED_VALUE = "expected value";
constexpr std::string_view EXPECTED_IDENT = "expected ident";
constexpr std::string_view KEY_NOT_STRING = "key must be a string";
constexpr std::string_view EXPECTED_COLON = "expected `:`";
constexpr std::string_view EXPECTED_LIST_SEPARATOR = "expected `,` or `]`";
constexpr std::string_view EXPECTED_OBJECT_SEPARATOR = "expected `,` or `}`";
constexpr std::string_view TRAILING_COMMA = "trailing comma";
constexpr std::string_view TRAILING_CHARACTERS = "trailing characters";
constexpr std::string_view INVALID_NUMBER = "invalid number";
constexpr std::string_view NUMBER_OUT_OF_RANGE = "number out of range";
constexpr std::string_view INVALID_ESCAPE = "invalid escape";
constexpr std::string_view HEX_ESCAPE_ENDED = "unexpected end of hex escape";
constexpr std::string_view LONE_SURROGATE = "lone leading surrogate in hex escape";
constexpr std::string_view INVALID_CODE_POINT = "invalid unicode code point";
constexpr std::string_view CONTROL_CHARACTER =
    "control character (\\u0000-\\u001F) found while parsing a string";
constexpr std::string_view RECURSION_LIMIT = "recursion limit exceeded";

// Bytes a string can take over verbatim without a closer look: printable ASCII other than
// the quote and the backslash.
constexpr std::array<bool, 256> PLAIN_STRING_BYTE = [] {
    std::array<bool, 256> plain{};
    for (int byte = 0x20; byte < 0x80; ++byte) plain[byte] = byte != '"' && byte != '\\';
    return plain;
}();

int hex_digit_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool is_continuation(const char* p, const char* end, unsigned char low = 0x80,
                     unsigned char high = 0xBF) {
    if (p >= end) return false;
    const auto byte = static_cast<unsigned char>(*p);
    return byte >= low && byte <= high;
}

// Length of the well-formed UTF-8 sequence that starts at p (a byte of 0x80 or above), or 0.
// Overlong forms, encoded surrogates and anything above U+10FFFF are not well-formed.
std::size_t utf8_sequence_length(const char* p, const char* end) {
    const auto lead = static_cast<unsigned char>(*p);
    if (lead >= 0xC2 && lead <= 0xDF) return is_continuation(p + 1, end) ? 2 : 0;
    if (lead >= 0xE0 && lead <= 0xEF) {
        const unsigned char low = lead == 0xE0 ? 0xA0 : 0x80;
        const unsigned char high = lead == 0xED ? 0x9F : 0xBF;
        return is_continuation(p + 1, end, low, high) && is_continuation(p + 2, end) ? 3 : 0;
    }
    if (lead >= 0xF0 && lead <= 0xF4) {
        const unsigned char low = lead == 0xF0 ? 0x90 : 0x80;
        const unsigned char high = lead == 0xF4 ? 0x8F : 0xBF;
        return is_continuation(p + 1, end, low, high) && is_continuation(p + 2, end) &&
                       is_continuation(p + 3, end)
                   ? 4
                   : 0;
    }
    return 0;
}

// Keeps one member per key: the member stays where the key first appeared and takes the
// value of the key's last occurrence.
void collapse_duplicate_keys(JsonObject& members) {
    const std::size_t count = members.size();
    if (count < 2) return;
    bool repeated = false;
    std::vector<std::uint32_t> order;
    if (count <= 16) {
        for (std::size_t i = 1; i < count && !repeated; ++i)
            for (std::size_t j = 0; j < i && !repeated; ++j)
                repeated = members[i].first == members[j].first;
        if (!repeated) return;
    }
    // Sorting by key (ties kept in document order) brings each key's occurrences together.
    order.resize(count);
    std::iota(order.begin(), order.end(), 0u);
    std::stable_sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
        return members[a].first < members[b].first;
    });
    std::vector<bool> dropped(count, false);
    for (std::size_t group = 0; group < count;) {
        std::size_t next = group + 1;
        while (next < count && members[order[next]].first == members[order[group]].first) ++next;
        if (next - group > 1) {
            members[order[group]].second = std::move(members[order[next - 1]].second);
            for (std::size_t k = group + 1; k < next; ++k) dropped[order[k]] = true;
        }
        group = next;
    }
    std::size_t kept = 0;
    for (std::size_t i = 0; i < count; ++i) {
        if (dropped[i]) continue;
        if (kept != i) members[kept] = std::move(members[i]);
        ++kept;
    }
    members.resize(kept);
}

class Reader {
  public:
    explicit Reader(std::string_view bytes)
        : begin_(bytes.data()), cursor_(bytes.data()), end_(bytes.data() + bytes.size()) {}

    bool document(JsonValue& out) {
        if (!value(out, 0)) return false;
        skip_white_space();
        if (cursor_ != end_) return fail_at_next(TRAILING_CHARACTERS);
        return true;
    }

    // "<description> at line <L> column <C>", where the error's byte is the last of the
    // first error_end_ bytes: LF alone starts a line, and the column counts bytes.
    std::string error_text() const {
        const std::string_view before(begin_, error_end_);
        const std::size_t last_line_feed = before.rfind('\n');
        const std::size_t line_start =
            last_line_feed == std::string_view::npos ? 0 : last_line_feed + 1;
        const auto line = 1 + std::count(before.begin(), before.begin() + line_start, '\n');
        return fill_template("{} at line {} column {}", {error_, std::to_string(line),
                                                         std::to_string(error_end_ - line_start)});
    }

  private:
    // The error lies at the byte just consumed (or at the end of the input).
    bool fail_here(std::string_view description) {
        error_ = description;
        error_end_ = static_cast<std::size_t>(cursor_ - begin_);
        return false;
    }
    // The error lies at the byte about to be read (or at the end of the input).
    bool fail_at_next(std::string_view description) {
        error_ = description;
        error_end_ = static_cast<std::size_t>(cursor_ - begin_) + (cursor_ != end_ ? 1 : 0);
        return false;
    }

    void skip_white_space() {
        while (cursor_ != end_ &&
               (*cursor_ == ' ' || *cursor_ == '\n' || *cursor_ == '\r' || *cursor_ == '\t'))
            ++cursor_;
    }

    // depth: how many arrays and objects enclose this value.
    bool value(JsonValue& out, int depth) {
        skip_white_space();
        if (cursor_ == end_) return fail_here(EOF_IN_VALUE);
        switch (*cursor_) {
            case 'n':
                out.data = JsonNull{};
                return literal("null");
            case 't':
                out.data = true;
                return literal("true");
            case 'f':
                out.data = false;
                return literal("false");
            case '"':
                ++cursor_;
                return string(out.data.emplace<std::string>());
            case '[':
                if (depth >= JSON_NESTING_LIMIT) return fail_at_next(RECURSION_LIMIT);
                ++cursor_;
                return array(out.data.emplace<JsonArray>(), depth + 1);
            case '{':
                if (depth >= JSON_NESTING_LIMIT) return fail_at_next(RECURSION_LIMIT);
                ++cursor_;
                return object(out.data.emplace<JsonObject>(), depth + 1);
            default:
                if (*cursor_ == '-' || is_ascii_digit(*cursor_)) return number(out);
                return fail_at_next(EXPECTED_VALUE);
        }
    }

    bool literal(std::string_view word) {
        ++cursor_;  // the first letter chose the word
        for (const char expected : word.substr(1)) {
            if (cursor_ == end_) return fail_here(EOF_IN_VALUE);
            if (*cursor_++ != expected) return fail_here(EXPECTED_IDENT);
        }
        return true;
    }

    // depth: the level of this array, 1 for an outermost one.
    bool array(JsonArray& items, int depth) {
        skip_white_space();
        if (cursor_ == end_) return fail_here(EOF_IN_LIST);
        if (*cursor_ == ']') {
            ++cursor_;
            return true;
        }
        for (;;) {
            if (!value(items.emplace_back(), depth)) return false;
            skip_white_space();
            if (cursor_ == end_) return fail_here(EOF_IN_LIST);
            if (*cursor_ == ']') {
                ++cursor_;
                return true;
            }
            if (*cursor_ != ',') return fail_at_next(EXPECTED_LIST_SEPARATOR);
            ++cursor_;
            skip_white_space();
            if (cursor_ != end_ && *cursor_ == ']') return fail_at_next(TRAILING_COMMA);
        }
    }

    // depth: the level of this object, 1 for an outermost one.
    bool object(JsonObject& members, int depth) {
        skip_white_space();
        if (cursor_ == end_) return fail_here(EOF_IN_OBJECT);
        if (*cursor_ == '}') {
            ++cursor_;
            return true;
        }
        for (;;) {
            if (*cursor_ != '"') return fail_at_next(KEY_NOT_STRING);
            ++cursor_;
            auto& member = members.emplace_back();
            if (!string(member.first)) return false;
            skip_white_space();
            if (cursor_ == end_) return fail_here(EOF_IN_OBJECT);
            if (*cursor_ != ':') return fail_at_next(EXPECTED_COLON);
            ++cursor_;
            if (!value(member.second, depth)) return false;
            skip_white_space();
            if (cursor_ == end_) return fail_here(EOF_IN_OBJECT);
            if (*cursor_ == '}') {
                ++cursor_;
                collapse_duplicate_keys(members);
                return true;
            }
            if (*cursor_ != ',') return fail_at_next(EXPECTED_OBJECT_SEPARATOR);
            ++cursor_;
            skip_white_space();
            if (cursor_ == end_) return fail_here(EOF_IN_VALUE);
            if (*cursor_ == '}') return fail_at_next(TRAILING_COMMA);
        }
    }

    // Starts just after the opening quote. Malformed UTF-8 is remembered and reported at
    // the closing quote, so an error found earlier in the string takes precedence.
    bool string(std::string& out) {
        const char* run = cursor_;
        bool malformed_utf8 = false;
        for (;;) {
            while (cursor_ != end_ && PLAIN_STRING_BYTE[static_cast<unsigned char>(*cursor_)])
                ++cursor_;
            if (cursor_ == end_) return fail_here(EOF_IN_STRING);
            const auto byte = static_cast<unsigned char>(*cursor_);
            if (byte == '"') {
                out.append(run, cursor_);
                ++cursor_;
                return malformed_utf8 ? fail_here(INVALID_CODE_POINT) : true;
            }
            if (byte == '\\') {
                out.append(run, cursor_);
                ++cursor_;
                if (!escape(out)) return false;
                run = cursor_;
            } else if (byte < 0x20) {
                ++cursor_;
                return fail_here(CONTROL_CHARACTER);
            } else {
                const std::size_t length = utf8_sequence_length(cursor_, end_);
                // A bad byte is stepped over alone so that no quote, backslash or control
                // character hides inside a would-be sequence.
                malformed_utf8 = malformed_utf8 || length == 0;
                cursor_ += length == 0 ? 1 : length;
            }
        }
    }

    // Starts just after the backslash.
    bool escape(std::string& out) {
        if (cursor_ == end_) return fail_here(EOF_IN_STRING);
        switch (*cursor_++) {
            case '"':
                out += '"';
                return true;
            case '\\':
                out += '\\';
                return true;
            case '/':
                out += '/';
                return true;
            case 'b':
                out += '\b';
                return true;
            case 'f':
                out += '\f';
                return true;
            case 'n':
                out += '\n';
                return true;
            case 'r':
                out += '\r';
                return true;
            case 't':
                out += '\t';
                return true;
            case 'u':
                return unicode_escape(out);
            default:
                return fail_here(INVALID_ESCAPE);
        }
    }

    // The four digits after "\u". Input that ends before four characters follow has ended
    // inside the string, whatever those characters are.
    bool hex_quad(std::uint32_t& unit) {
        if (end_ - cursor_ < 4) {
            cursor_ = end_;
            return fail_here(EOF_IN_STRING);
        }
        unit = 0;
        for (int i = 0; i < 4; ++i) {
            const int digit = hex_digit_value(*cursor_++);
            if (digit < 0) return fail_here(INVALID_ESCAPE);
            unit = unit * 16 + static_cast<std::uint32_t>(digit);
        }
        return true;
    }

    // Starts just after "\u".
    bool unicode_escape(std::string& out) {
        std::uint32_t unit = 0;
        if (!hex_quad(unit)) return false;
        if (unit >= 0xDC00 && unit <= 0xDFFF) return fail_here(LONE_SURROGATE);
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            for (const char expected : {'\\', 'u'}) {
                if (cursor_ == end_) return fail_here(EOF_IN_STRING);
                if (*cursor_++ != expected) return fail_here(HEX_ESCAPE_ENDED);
            }
            std::uint32_t low = 0;
            if (!hex_quad(low)) return false;
            if (low < 0xDC00 || low > 0xDFFF) return fail_here(LONE_SURROGATE);
            unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
        }
        append_utf8(out, unit);
        return true;
    }

    // Where the parts of a number lie, as its grammar is read.
    struct NumberText {
        const char* start = nullptr;  // the minus sign or the first digit
        bool negative = false;
        const char* integer_begin = nullptr;
        const char* integer_end = nullptr;
        const char* mantissa_end = nullptr;  // just after the fraction, if there is one
        bool integral = true;                // neither a fraction nor an exponent
        std::int64_t exponent = 0;
        bool vanishes = false;  // the exponent is so far below zero that the value is zero
    };

    // A number in steps: its integer part, fraction and exponent as the grammar has them;
    // then its value, an integer when it is one that fits, else a double.
    bool number(JsonValue& out) {
        NumberText text;
        text.start = cursor_;
        if (!integer_part(text) || !fraction_part(text) || !exponent_part(text)) return false;
        if (text.vanishes) {
            out.data = text.negative ? -0.0 : 0.0;
            return true;
        }
        if (text.integral && integer(out, text)) return true;
        return floating_point(out, text);
    }

    // An optional minus, then 0 alone or digits that do not start with 0.
    bool integer_part(NumberText& text) {
        text.negative = *cursor_ == '-';
        if (text.negative) ++cursor_;
        if (cursor_ == end_) return fail_here(EOF_IN_VALUE);
        text.integer_begin = cursor_;
        const char first = *cursor_++;
        if (first == '0') {
            if (cursor_ != end_ && is_ascii_digit(*cursor_)) return fail_at_next(INVALID_NUMBER);
        } else if (is_ascii_digit(first)) {
            skip_digits();
        } else {
            return fail_here(INVALID_NUMBER);
        }
        text.integer_end = cursor_;
        return true;
    }

    // Optional: a point and at least one digit.
    bool fraction_part(NumberText& text) {
        if (cursor_ != end_ && *cursor_ == '.') {
            ++cursor_;
            if (cursor_ == end_) return fail_here(EOF_IN_VALUE);
            if (!is_ascii_digit(*cursor_)) return fail_at_next(INVALID_NUMBER);
            skip_digits();
            text.integral = false;
        }
        text.mantissa_end = cursor_;
        return true;
    }

    // Optional: "e" or "E", a sign if any, and at least one digit.
    bool exponent_part(NumberText& text) {
        if (cursor_ == end_ || (*cursor_ != 'e' && *cursor_ != 'E')) return true;
        ++cursor_;
        text.integral = false;
        bool negative = false;
        if (cursor_ != end_ && (*cursor_ == '+' || *cursor_ == '-')) {
            negative = *cursor_ == '-';
            ++cursor_;
        }
        if (cursor_ == end_) return fail_here(EOF_IN_VALUE);
        if (!is_ascii_digit(*cursor_)) return fail_at_next(INVALID_NUMBER);
        if (const std::optional<std::int32_t> magnitude = exponent_magnitude()) {
            text.exponent = negative ? -std::int64_t{*magnitude} : *magnitude;
            return true;
        }
        // An exponent this long is out of reach for any double: a growing one overflows as
        // soon as that is certain, a shrinking one gives zero.
        const bool zero = std::all_of(text.integer_begin, text.mantissa_end,
                                      [](char c) { return c == '0' || c == '.'; });
        if (!negative && !zero) return fail_here(NUMBER_OUT_OF_RANGE);
        skip_digits();
        text.vanishes = true;
        return true;
    }

    // The exponent's digits as a 32-bit value; nothing when they do not fit, with the cursor
    // just past the digit that would not.
    std::optional<std::int32_t> exponent_magnitude() {
        constexpr std::int32_t limit = std::numeric_limits<std::int32_t>::max();
        std::int32_t magnitude = 0;
        while (cursor_ != end_ && is_ascii_digit(*cursor_)) {
            const int digit = *cursor_++ - '0';
            if (magnitude > limit / 10 || (magnitude == limit / 10 && digit > limit % 10))
                return std::nullopt;
            magnitude = magnitude * 10 + digit;
        }
        return magnitude;
    }

    void skip_digits() {
        while (cursor_ != end_ && is_ascii_digit(*cursor_)) ++cursor_;
    }

    // Stores an integer that fits its kind; false when it must become a double instead
    // (too large, or minus zero).
    static bool integer(JsonValue& out, const NumberText& text) {
        std::uint64_t magnitude = 0;
        for (const char* p = text.integer_begin; p != text.integer_end; ++p) {
            const auto digit = static_cast<std::uint64_t>(*p - '0');
            if (magnitude > (std::numeric_limits<std::uint64_t>::max() - digit) / 10) return false;
            magnitude = magnitude * 10 + digit;
        }
        if (!text.negative) {
            out.data = magnitude;
            return true;
        }
        constexpr auto most_negative = std::uint64_t{1} << 63;
        if (magnitude == 0 || magnitude > most_negative) return false;
        out.data = magnitude == most_negative ? std::numeric_limits<std::int64_t>::min()
                                              : -static_cast<std::int64_t>(magnitude);
        return true;
    }

    // Stores the number as a double; one beyond the largest double is an error, one below
    // the smallest is zero.
    bool floating_point(JsonValue& out, const NumberText& text) {
        double number = 0;
        const auto [last, error] = std::from_chars(text.start, cursor_, number);
        if (error == std::errc::result_out_of_range) {
            if (decimal_order(text) > 0) return fail_here(NUMBER_OUT_OF_RANGE);
            number = text.negative ? -0.0 : 0.0;
        } else if (error != std::errc{} || last != cursor_) {
            return fail_here(INVALID_NUMBER);  // not reached: the grammar was checked above
        }
        out.data = number;
        return true;
    }

    // The power of ten of the leading significant digit of a number that is not zero.
    static std::int64_t decimal_order(const NumberText& text) {
        if (*text.integer_begin != '0')
            return text.exponent + (text.integer_end - text.integer_begin) - 1;
        const char* p = text.integer_end + 1;  // the first fraction digit
        while (p < text.mantissa_end && *p == '0') ++p;
        return text.exponent - (p - text.integer_end);
    }

    const char* begin_;
    const char* cursor_;
    const char* end_;
    std::string_view error_;
    std::size_t error_end_ = 0;
};

}  // namespace

Result<JsonValue> parse_json(std::string_view bytes) {
    Reader reader(bytes);
    JsonValue document;
    if (!reader.document(document)) return fail(reader.error_text());
    return document;
}

}  // namespace vantile
