#include "flow/release_manifest.h"

#include <array>
#include <limits>
#include <optional>

#include "base/text.h"
#include "flow/json_reader.h"

namespace vantile {

namespace {

// The manifest format bounds each version number to a signed 32-bit integer (2^31 - 1).
constexpr std::uint32_t VERSION_NUMBER_MAX = 2147483647;

bool is_ascii_alphanumeric(char c) {
    return is_ascii_digit(c) || is_ascii_letter(c);
}

// One or more digits, leading zeros allowed, at most VERSION_NUMBER_MAX.
std::optional<std::uint32_t> parse_version_number(std::string_view text) {
    if (text.empty()) return std::nullopt;
    std::uint64_t value = 0;
    for (char c : text) {
        if (!is_ascii_digit(c)) return std::nullopt;
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
        if (value > VERSION_NUMBER_MAX) return std::nullopt;
    }
    return static_cast<std::uint32_t>(value);
}

bool is_valid_prerelease(std::string_view text) {
    for (;;) {
        const std::size_t dot = text.find('.');
        const std::string_view identifier = text.substr(0, dot);
        if (identifier.empty()) return false;
        for (char c : identifier)
            if (!is_ascii_alphanumeric(c)) return false;
        if (dot == std::string_view::npos) return true;
        text.remove_prefix(dot + 1);
    }
}

// Only an integer literal in the signed 64-bit range qualifies. A double means a
// fraction, an exponent, a value beyond 64 bits or minus zero; a signed zero can only
// come from minus zero as well.
std::optional<std::int64_t> size_value(const JsonValue& value) {
    if (const auto* unsigned_value = std::get_if<std::uint64_t>(&value.data)) {
        if (*unsigned_value > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
            return std::nullopt;
        return static_cast<std::int64_t>(*unsigned_value);
    }
    if (const auto* signed_value = std::get_if<std::int64_t>(&value.data)) {
        if (*signed_value == 0) return std::nullopt;
        return *signed_value;
    }
    return std::nullopt;
}

ExaminedEntry examine_entry(const JsonValue& document, std::string_view key) {
    ExaminedEntry examined;
    examined.key = key;
    const auto passed_over = [&](EntryFault fault, std::string_view member = {}) {
        examined.fault = fault;
        examined.member = member;
        return examined;
    };
    const JsonValue* entry = document.find(key);
    if (!entry) return passed_over(EntryFault::Absent);
    if (!entry->is_object()) return passed_over(EntryFault::NotAnObject);
    const JsonValue* size = entry->find("size");
    const JsonValue* version = entry->find("version");
    const JsonValue* url = entry->find("url");
    const JsonValue* sha256 = entry->find("sha256");
    if (!size) return passed_over(EntryFault::MissingMember, "size");
    if (!version) return passed_over(EntryFault::MissingMember, "version");
    if (!url) return passed_over(EntryFault::MissingMember, "url");
    if (!sha256) return passed_over(EntryFault::MissingMember, "sha256");
    if (!version->as_string()) return passed_over(EntryFault::NotAString, "version");
    if (!url->as_string()) return passed_over(EntryFault::NotAString, "url");
    if (!sha256->as_string()) return passed_over(EntryFault::NotAString, "sha256");
    std::optional<std::int64_t> size_bytes = size_value(*size);
    if (!size_bytes) return passed_over(EntryFault::SizeNotInteger, "size");
    std::optional<VersionNumbers> numbers = parse_version(*version->as_string());
    if (!numbers) return passed_over(EntryFault::VersionUnusable, "version");
    examined.build = BuildEntry{*version->as_string(), *url->as_string(), *sha256->as_string(),
                                std::string(key), *size_bytes};
    examined.numbers = *numbers;
    return examined;
}

}  // namespace

Result<JsonValue> parse_manifest_document(std::string_view bytes, std::string_view source_text) {
    Result<JsonValue> document = parse_json(bytes);
    if (!document)
        return fail(fill_template("The manifest {} is not valid JSON: {}",
                                  {source_text, document.error()}));
    return document;
}

std::optional<VersionNumbers> parse_version(std::string_view text) {
    const std::size_t hyphen = text.find('-');
    if (hyphen != std::string_view::npos && !is_valid_prerelease(text.substr(hyphen + 1)))
        return std::nullopt;
    std::string_view core = text.substr(0, hyphen);

    std::array<std::uint32_t, 3> numbers{};
    for (std::size_t i = 0; i < numbers.size(); ++i) {
        const std::size_t dot = core.find('.');
        const bool last = i + 1 == numbers.size();
        // The last number must run to the end; the others must end at a dot.
        if (last != (dot == std::string_view::npos)) return std::nullopt;
        std::optional<std::uint32_t> number = parse_version_number(core.substr(0, dot));
        if (!number) return std::nullopt;
        numbers[i] = *number;
        if (!last) core.remove_prefix(dot + 1);
    }
    return VersionNumbers{numbers[0], numbers[1], numbers[2]};
}

BuildChoice choose_build(const JsonValue& document, Architecture architecture) {
    // A computer prefers its native build and falls back to a strictly newer one it also takes.
    const ArchitectureFacts& facts = architecture_facts(architecture);
    std::vector<std::string_view> candidates{facts.asset_key};
    for (Architecture other : facts.also_takes)
        candidates.push_back(architecture_facts(other).asset_key);

    BuildChoice choice;
    for (std::string_view key : candidates) {
        // A document that is not an object has none of the keys.
        choice.candidates.push_back(examine_entry(document, key));
        const ExaminedEntry& entry = choice.candidates.back();
        if (entry.build &&
            (!choice.chosen || entry.numbers > choice.candidates[*choice.chosen].numbers))
            choice.chosen = choice.candidates.size() - 1;
    }
    return choice;
}

std::string no_build_message(Architecture architecture) {
    return fill_template(
        "The desktop manifest has no Vantile desktop app for this computer ({}) yet.",
        {platform_key(architecture)});
}

Result<BuildEntry> select_build(const JsonValue& document, Architecture architecture) {
    BuildChoice choice = choose_build(document, architecture);
    if (!choice.chosen) return fail(no_build_message(architecture));
    return std::move(*choice.candidates[*choice.chosen].build);
}

}  // namespace vantile
