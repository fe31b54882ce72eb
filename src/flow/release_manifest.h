#pragma once
// The build this computer installs, chosen from the release manifest.
#include <compare>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "flow/computer_facts.h"
#include "flow/json_value.h"

namespace vantile {

// One build entry of the manifest, usable as it stands.
struct BuildEntry {
    std::string version;
    std::string url;
    std::string sha256;
    std::string asset;  // the key it is found under: a row's asset_key in ARCHITECTURES
    std::int64_t size = 0;
};

// The manifest bytes as a document, or "The manifest {} is not valid JSON: {}".
Result<JsonValue> parse_manifest_document(std::string_view bytes, std::string_view source_text);

Result<BuildEntry> select_build(const JsonValue& document, Architecture architecture);

// "The desktop manifest has no Vantile desktop app for this computer ({}) yet."
std::string no_build_message(Architecture architecture);

// What the choice is made from, for tools that explain it.
struct VersionNumbers {
    std::uint32_t major = 0;
    std::uint32_t minor = 0;
    std::uint32_t patch = 0;

    auto operator<=>(const VersionNumbers&) const = default;
};

// major.minor.patch with an optional "-" pre-release part, which takes no part in ordering;
// nothing when the text breaks the grammar.
std::optional<VersionNumbers> parse_version(std::string_view text);

// Why a candidate entry is passed over.
enum class EntryFault {
    None,
    Absent,
    NotAnObject,
    MissingMember,
    NotAString,
    SizeNotInteger,
    VersionUnusable,
};

struct ExaminedEntry {
    std::string_view key;
    EntryFault fault = EntryFault::None;
    std::string_view member;          // the member at fault: MissingMember, NotAString
    std::optional<BuildEntry> build;  // when the entry is usable
    VersionNumbers numbers;
};

// This computer's candidates in the order they are tried, and the one it installs.
struct BuildChoice {
    std::vector<ExaminedEntry> candidates;
    std::optional<std::size_t> chosen;  // nothing when no candidate is usable
};

BuildChoice choose_build(const JsonValue& document, Architecture architecture);

}  // namespace vantile
