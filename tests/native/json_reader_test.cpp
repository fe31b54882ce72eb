#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <ostream>
#include <sstream>
#include <string>
#include <variant>
#include <vector>

#include "flow/json_reader.h"

namespace vantile {
namespace {

// ---- The reference vectors (tests/data/json-vectors.tsv) ----

struct JsonVector {
    std::string id;
    std::string input;
    bool ok = false;
    std::string expected;
};

std::string from_hex(const std::string& hex) {
    std::string bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return bytes;
}

// Failures name the vector rather than dumping its bytes.
void PrintTo(const JsonVector& vector, std::ostream* out) {
    *out << vector.id;
}

struct VectorFile {
    std::vector<JsonVector> vectors;
    std::vector<std::string> problems;  // rows that could not be read
};

const VectorFile& vector_file() {
    static const VectorFile file = [] {
        VectorFile loaded;
        std::ifstream in(VANTILE_SOURCE_DIR "/tests/data/json-vectors.tsv", std::ios::binary);
        if (!in) loaded.problems.push_back("cannot open tests/data/json-vectors.tsv");
        std::string line;
        bool header_seen = false;
        while (std::getline(in, line)) {
            if (line.empty() || line[0] == '#') continue;
            if (!header_seen) {
                header_seen = true;
                continue;
            }
            std::vector<std::string> fields;
            std::stringstream row(line);
            for (std::string field; std::getline(row, field, '\t');) fields.push_back(field);
            if (fields.size() == 3) fields.emplace_back();  // an empty expected text
            if (fields.size() != 4 || (fields[2] != "ok" && fields[2] != "err") ||
                fields[1].size() % 2 != 0) {
                loaded.problems.push_back(line.substr(0, 80));
                continue;
            }
            loaded.vectors.push_back(
                {fields[0], from_hex(fields[1]), fields[2] == "ok", fields[3]});
        }
        return loaded;
    }();
    return file;
}

// ---- Canonical dump, as the vector file defines it ----

std::string dump_double(double x) {
    if (x == 0) return std::signbit(x) ? "-0.0" : "0.0";
    char buffer[64];
    // Scientific notation without a precision gives the shortest round-trip digits.
    const auto written =
        std::to_chars(buffer, buffer + sizeof buffer, x, std::chars_format::scientific);
    std::string text(buffer, written.ptr);
    std::string sign;
    if (text[0] == '-') {
        sign = "-";
        text.erase(0, 1);
    }
    const std::size_t e = text.find('e');
    const int exponent = std::stoi(text.substr(e + 1));
    std::string digits = text.substr(0, e);
    digits.erase(std::remove(digits.begin(), digits.end(), '.'), digits.end());
    const double magnitude = std::fabs(x);
    if (magnitude >= 1e-4 && magnitude < 1e16) {
        std::string whole, fraction;
        if (exponent >= 0) {
            const auto split = static_cast<std::size_t>(exponent) + 1;
            if (digits.size() < split) digits.append(split - digits.size(), '0');
            whole = digits.substr(0, split);
            fraction = digits.substr(split);
        } else {
            whole = "0";
            fraction = std::string(static_cast<std::size_t>(-exponent - 1), '0') + digits;
        }
        return sign + whole + "." + (fraction.empty() ? "0" : fraction);
    }
    std::string mantissa = digits.substr(0, 1);
    if (digits.size() > 1) mantissa += "." + digits.substr(1);
    return sign + mantissa + "e" + std::to_string(exponent);
}

void append_u_escape(std::string& out, unsigned unit) {
    char buffer[8];
    std::snprintf(buffer, sizeof buffer, "\\u%04x", unit);
    out += buffer;
}

std::string dump_string(const std::string& text) {
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size();) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte < 0x80) {
            ++i;
            switch (byte) {
                case '"':
                    out += "\\\"";
                    break;
                case '\\':
                    out += "\\\\";
                    break;
                case '\b':
                    out += "\\b";
                    break;
                case '\f':
                    out += "\\f";
                    break;
                case '\n':
                    out += "\\n";
                    break;
                case '\r':
                    out += "\\r";
                    break;
                case '\t':
                    out += "\\t";
                    break;
                default:
                    if (byte < 0x20 || byte == 0x7f)
                        append_u_escape(out, byte);
                    else
                        out += static_cast<char>(byte);
            }
            continue;
        }
        // The reader hands out valid UTF-8 only; anything else shows up as a mismatch.
        const int length = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : byte >= 0xC0 ? 2 : 0;
        if (length == 0 || i + static_cast<std::size_t>(length) > text.size())
            return out + "<not UTF-8>";
        unsigned code_point = byte & (0x3F >> (length - 1));
        for (int k = 1; k < length; ++k)
            code_point = (code_point << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
        i += static_cast<std::size_t>(length);
        if (code_point >= 0x10000) {
            append_u_escape(out, 0xD800 + ((code_point - 0x10000) >> 10));
            append_u_escape(out, 0xDC00 + ((code_point - 0x10000) & 0x3FF));
        } else {
            append_u_escape(out, code_point);
        }
    }
    return out + "\"";
}

std::string dump(const JsonValue& value);

std::string dump_object(const JsonObject& members) {
    std::vector<const JsonMember*> sorted;
    for (const auto& member : members) sorted.push_back(&member);
    std::sort(sorted.begin(), sorted.end(),
              [](const auto* a, const auto* b) { return a->first < b->first; });
    std::string out = "{";
    for (std::size_t i = 0; i < sorted.size(); ++i) {
        if (i > 0) out += ",";
        // A key held twice would make the dump ambiguous: the reader must collapse it.
        if (i > 0 && sorted[i]->first == sorted[i - 1]->first) out += "<repeated key>";
        out += dump_string(sorted[i]->first) + ":" + dump(sorted[i]->second);
    }
    return out + "}";
}

std::string dump(const JsonValue& value) {
    struct Dumper {
        std::string operator()(JsonNull) const { return "null"; }
        std::string operator()(bool b) const { return b ? "true" : "false"; }
        std::string operator()(std::uint64_t n) const { return "u:" + std::to_string(n); }
        std::string operator()(std::int64_t n) const { return "i:" + std::to_string(n); }
        std::string operator()(double x) const { return "f:" + dump_double(x); }
        std::string operator()(const std::string& s) const { return dump_string(s); }
        std::string operator()(const JsonArray& items) const {
            std::string out = "[";
            for (std::size_t i = 0; i < items.size(); ++i) out += (i ? "," : "") + dump(items[i]);
            return out + "]";
        }
        std::string operator()(const JsonObject& members) const { return dump_object(members); }
    };
    return std::visit(Dumper{}, value.data);
}

// What a parse produced, in the vector file's terms: the dump, or "err: <text>".
std::string outcome(std::string_view input) {
    const Result<JsonValue> parsed = parse_json(input);
    return parsed.ok() ? dump(parsed.value()) : "err: " + parsed.error();
}

TEST(JsonVectors, FileIsComplete) {
    const VectorFile& file = vector_file();
    EXPECT_TRUE(file.problems.empty()) << file.problems.front();
    EXPECT_GE(file.vectors.size(), 230u);
}

class JsonVectorTest : public ::testing::TestWithParam<JsonVector> {};

TEST_P(JsonVectorTest, MatchesReference) {
    const JsonVector& vector = GetParam();
    EXPECT_EQ(outcome(vector.input), (vector.ok ? "" : "err: ") + vector.expected);
}

INSTANTIATE_TEST_SUITE_P(Reference, JsonVectorTest, ::testing::ValuesIn(vector_file().vectors),
                         [](const ::testing::TestParamInfo<JsonVector>& info) {
                             std::string name = info.param.id;
                             for (char& c : name)
                                 if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                             return name;
                         });

// ---- Cases the vectors leave open ----

struct Case {
    const char* name;
    std::string input;
    std::string expected;  // dump, or "err: <text>"
};

TEST(JsonReader, NumbersAtTheEdges) {
    const Case cases[] = {
        {"minus zero is a double, not an integer", "-0", "f:-0.0"},
        {"explicit plus in the exponent", "1E+2", "f:100.0"},
        {"one past the largest u64 becomes a double", "18446744073709551616",
         "f:1.8446744073709552e19"},
        {"zero with a huge exponent is zero", "0.000e99999999999", "f:0.0"},
        {"huge negative exponent keeps the sign", "-2e-99999999999", "f:-0.0"},
        {"largest exponent that still fits is checked as a value", "1e2147483647",
         "err: number out of range at line 1 column 12"},
        {"an exponent past 32 bits is out of range at the digit where it stops fitting",
         "1e99999999999", "err: number out of range at line 1 column 12"},
        {"a longer exponent stops at the same digit, not at its end", "[1e999999999999999]",
         "err: number out of range at line 1 column 13"},
        {"leading zeros in the exponent do not count towards it", "1e00000000000000000002",
         "f:100.0"},
        {"a leading fraction lowers the order, yet not enough", "0.1e310",
         "err: number out of range at line 1 column 7"},
        {"fraction digits shift the order", "0.00000000001e319", "f:1e308"},
        {"a leading fraction lowers the order below the subnormals", "0.0001e-321", "f:0.0"},
        {"halfway below the smallest subnormal rounds to zero", "2e-324", "f:0.0"},
        {"number then EOF inside an array", "[1.5",
         "err: EOF while parsing a list at line 1 column 4"},
        {"exponent sign then EOF", "1e+", "err: EOF while parsing a value at line 1 column 3"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(outcome(c.input), c.expected);
    }
}

TEST(JsonReader, StringsAtTheEdges) {
    using namespace std::string_literals;
    const Case cases[] = {
        {"raw NUL in a string is a control character", "\"a\0b\""s,
         "err: control character (\\u0000-\\u001F) found while parsing a string at line 1 column "
         "3"},
        {"raw LF in a string is reported as the end of its line", "\"a\nb\"",
         "err: control character (\\u0000-\\u001F) found while parsing a string at line 2 column "
         "0"},
        {"escape output followed by a stray continuation byte", "\"\\u00e9\xa9\"",
         "err: invalid unicode code point at line 1 column 9"},
        {"truncated 3-byte sequence before the quote", "\"\xe2\x82\"",
         "err: invalid unicode code point at line 1 column 4"},
        {"truncated 4-byte sequence at EOF is EOF", "\"\xf0\x9f\x98",
         "err: EOF while parsing a string at line 1 column 4"},
        {"overlong NUL", "\"\xc0\x80\"", "err: invalid unicode code point at line 1 column 4"},
        {"overlong 3-byte slash", "\"\xe0\x80\xaf\"",
         "err: invalid unicode code point at line 1 column 5"},
        {"overlong 4-byte U+FFFF", "\"\xf0\x8f\xbf\xbf\"",
         "err: invalid unicode code point at line 1 column 6"},
        {"the smallest 3-byte sequence is not overlong", "\"\xe0\xa0\x80\"", "\"\\u0800\""},
        {"the smallest 4-byte sequence is not overlong", "\"\xf0\x90\x80\x80\"",
         "\"\\ud800\\udc00\""},
        {"escaped NUL in a key", "{\"\\u0000\":1}", "{\"\\u0000\":u:1}"},
        {"high surrogate followed by another high surrogate", "\"\\ud800\\ud800\"",
         "err: lone leading surrogate in hex escape at line 1 column 13"},
        {"upper-case hex digits", "\"\\u00C9\\uD83D\\uDE00\"", "\"\\u00c9\\ud83d\\ude00\""},
        {"DEL is accepted unescaped", "\"\x7f\"", "\"\\u007f\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(outcome(c.input), c.expected);
    }
}

// Input that ends before four characters follow "\u" has ended inside the string, whatever
// those characters are; with four or more there, the first non-hex one is the error.
TEST(JsonReader, EndOfInputInsideAUnicodeEscape) {
    const Case cases[] = {
        {"non-hex character, then the end", "\"\\u0g",
         "err: EOF while parsing a string at line 1 column 5"},
        {"only non-hex characters", "\"\\uzz",
         "err: EOF while parsing a string at line 1 column 5"},
        {"the closing quote among the three", "\"\\u12\"",
         "err: EOF while parsing a string at line 1 column 6"},
        {"a line feed, so the end is on the next line", "[\n\"\\u\n",
         "err: EOF while parsing a string at line 3 column 0"},
        {"the low half of a pair", "\"\\ud800\\uzz",
         "err: EOF while parsing a string at line 1 column 11"},
        {"four characters follow: the non-hex one is the error", "\"\\u0g00",
         "err: invalid escape at line 1 column 5"},
        {"four characters follow in the low half", "\"\\ud800\\u0g00",
         "err: invalid escape at line 1 column 11"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(outcome(c.input), c.expected);
    }
}

TEST(JsonReader, StructureAtTheEdges) {
    const Case cases[] = {
        {"comma right after the opening brace", "{,}",
         "err: key must be a string at line 1 column 2"},
        {"EOF after a member's comma", "{\"a\":1,",
         "err: EOF while parsing a value at line 1 column 7"},
        {"EOF after a colon", "{\"a\":", "err: EOF while parsing a value at line 1 column 5"},
        {"objects nested 129 deep", std::string(128, '[') + "{\"a\":1}" + std::string(128, ']'),
         "err: recursion limit exceeded at line 1 column 129"},
        {"an error before the too-deep bracket wins", std::string(128, '[') + "x[",
         "err: expected value at line 1 column 129"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(outcome(c.input), c.expected);
    }
}

// ---- Repeated keys: one member per key, at the first position, with the last value ----

struct DuplicateCase {
    const char* name;
    std::string input;
    std::vector<std::string> keys_in_order;
    std::string key;
    std::string value;  // dump of find(key)
};

std::string numbered_members(int count) {
    std::string text;
    for (int i = 0; i < count; ++i)
        text += "\"k" + std::to_string(i) + "\":" + std::to_string(i) + ",";
    return text;
}

std::vector<std::string> numbered_keys(int count) {
    std::vector<std::string> keys;
    for (int i = 0; i < count; ++i) keys.push_back("k" + std::to_string(i));
    return keys;
}

TEST(JsonReader, RepeatedKeysKeepFirstPositionAndLastValue) {
    const DuplicateCase cases[] = {
        {"small object", R"({"a":1,"b":2,"a":3,"c":4,"a":5})", {"a", "b", "c"}, "a", "u:5"},
        {"other keys unaffected", R"({"a":1,"b":2,"a":3})", {"a", "b"}, "b", "u:2"},
        {"value changes type", R"({"url":"x","url":[true]})", {"url"}, "url", "[true]"},
        {"large object, key repeated three times",
         "{" + numbered_members(40) + R"("k7":"a","k7":"b"})", numbered_keys(40), "k7", "\"b\""},
        {"large object, every key repeated",
         "{" + numbered_members(30) + numbered_members(29) + "\"k29\":-1}", numbered_keys(30),
         "k29", "i:-1"},
        {"no false match on a prefix",
         R"({"a":1,"a\u0000":2})",
         {"a", std::string("a\0", 2)},
         "a",
         "u:1"},
    };
    for (const DuplicateCase& c : cases) {
        SCOPED_TRACE(c.name);
        const Result<JsonValue> parsed = parse_json(c.input);
        ASSERT_TRUE(parsed.ok()) << parsed.error();
        std::vector<std::string> keys;
        for (const auto& member : *parsed.value().as_object()) keys.push_back(member.first);
        EXPECT_EQ(keys, c.keys_in_order);
        const JsonValue* found = parsed.value().find(c.key);
        ASSERT_NE(found, nullptr);
        EXPECT_EQ(dump(*found), c.value);
    }
}

TEST(JsonReader, FindIsExactAndPrefersTheLastMember) {
    JsonValue hand_made;
    hand_made.data = JsonObject{{"Url", JsonValue{true}},
                                {"url", JsonValue{std::uint64_t{1}}},
                                {"url", JsonValue{std::uint64_t{2}}}};
    ASSERT_NE(hand_made.find("url"), nullptr);
    EXPECT_EQ(dump(*hand_made.find("url")), "u:2");
    EXPECT_EQ(hand_made.find("URL"), nullptr);
    EXPECT_EQ(hand_made.find("ur"), nullptr);
    const JsonValue not_an_object{JsonArray{}};
    EXPECT_EQ(not_an_object.find("url"), nullptr);
}

// ---- Inputs as large as a manifest may be ----

std::string large_manifest(std::size_t target_size) {
    std::string text = "{\n  \"builds\": [\n";
    for (int i = 0; text.size() < target_size; ++i) {
        text += "    {\"name\": \"build-" + std::to_string(i) +
                "\", \"size\": " + std::to_string(40000000 + i) + ", \"ratio\": 0." +
                std::to_string(i % 97 + 1) +
                ", \"tags\": [\"x64\", \"caf\\u00e9\", null, false]},\n";
    }
    return text + "    {\"last\": true}\n  ]\n}\n";
}

TEST(JsonReader, ReadsAOneMebibyteManifest) {
    const std::string text = large_manifest(1 << 20);
    const Result<JsonValue> parsed = parse_json(text);
    ASSERT_TRUE(parsed.ok()) << parsed.error();
    const JsonValue* builds = parsed.value().find("builds");
    ASSERT_NE(builds, nullptr);
    const auto& items = std::get<JsonArray>(builds->data);
    const auto count = items.size() - 1;
    EXPECT_GT(count, 5000u);
    const JsonValue& last_build = items[count - 1];
    EXPECT_EQ(dump(*last_build.find("size")), "u:" + std::to_string(40000000 + count - 1));
    EXPECT_EQ(dump(*last_build.find("tags")), "[\"x64\",\"caf\\u00e9\",null,false]");
}

TEST(JsonReader, ReportsPositionsDeepIntoALargeInput) {
    std::string text = large_manifest(1 << 20);
    const auto lines = std::count(text.begin(), text.end(), '\n');
    // Break the last build entry's "tags" array: three short lines follow its line.
    const std::size_t line_start = text.rfind("    {\"name\"");
    const std::size_t bracket = text.find('[', line_start);
    text[bracket] = '}';
    EXPECT_EQ(outcome(text), "err: expected value at line " + std::to_string(lines - 3) +
                                 " column " + std::to_string(bracket - line_start + 1));

    const std::string long_string = "\"" + std::string(1 << 20, 'a') + "\"";
    const Result<JsonValue> parsed = parse_json(long_string);
    ASSERT_TRUE(parsed.ok());
    EXPECT_EQ(parsed.value().as_string()->size(), 1u << 20);
    EXPECT_EQ(outcome(long_string.substr(0, long_string.size() - 1)),
              "err: EOF while parsing a string at line 1 column " + std::to_string(1 << 20 | 1));
}

}  // namespace
}  // namespace vantile
