#include "release_tool/verdict_json.h"

#include "release_tool/online_check.h"

namespace vantile {
namespace {

JsonValue text_or_null(const std::optional<std::string>& text) {
    return text ? JsonValue{*text} : JsonValue{JsonNull{}};
}

JsonValue build_document(const BuildEntry& build) {
    return JsonValue{JsonObject{
        {"asset", JsonValue{build.asset}},
        {"version", JsonValue{build.version}},
        {"url", JsonValue{build.url}},
        {"size", JsonValue{build.size}},
        {"sha256", JsonValue{build.sha256}},
    }};
}

JsonValue computer_document(const ComputerVerdict& computer) {
    JsonArray lines;
    for (const std::string& line : computer.lines) lines.push_back(JsonValue{line});
    JsonArray warnings;
    for (const std::string& warning : computer.warnings) warnings.push_back(JsonValue{warning});
    std::optional<std::string> download;
    if (computer.download) download = source_text(*computer.download);
    return JsonValue{JsonObject{
        {"computer", JsonValue{std::string(computer_name(computer.architecture))}},
        {"platform_key", JsonValue{std::string(platform_key(computer.architecture))}},
        {"installs", JsonValue{computer.installs()}},
        {"chosen", computer.chosen ? build_document(*computer.chosen) : JsonValue{JsonNull{}}},
        {"download", text_or_null(download)},
        {"archive", text_or_null(computer.archive)},
        {"failure", text_or_null(computer.failure)},
        {"unchecked", text_or_null(computer.unchecked)},
        {"warnings", JsonValue{std::move(warnings)}},
        {"lines", JsonValue{std::move(lines)}},
        {"fetched",
         computer.fetched ? download_document(*computer.fetched) : JsonValue{JsonNull{}}},
    }};
}

}  // namespace

JsonValue verdict_document(const ManifestVerdict& verdict) {
    JsonArray computers;
    for (const ComputerVerdict& computer : verdict.computers)
        computers.push_back(computer_document(computer));
    JsonArray warnings;
    for (const std::string& warning : verdict.warnings) warnings.push_back(JsonValue{warning});
    return JsonValue{JsonObject{
        {"manifest", JsonValue{verdict.manifest}},
        {"installs_everywhere", JsonValue{verdict.installs_everywhere()}},
        {"checked_everything", JsonValue{verdict.checked_everything()}},
        {"summary", JsonValue{verdict.summary()}},
        {"warnings", JsonValue{std::move(warnings)}},
        {"computers", JsonValue{std::move(computers)}},
        {"manifest_fetched", verdict.manifest_fetch ? download_document(*verdict.manifest_fetch)
                                                    : JsonValue{JsonNull{}}},
        {"host_serves_other_manifest", JsonValue{verdict.host_serves_other_manifest}},
    }};
}

}  // namespace vantile
