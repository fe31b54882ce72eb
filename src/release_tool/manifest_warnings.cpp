#include "release_tool/manifest_warnings.h"

#include <optional>
#include <string_view>

#include "base/text.h"
#include "flow/computer_facts.h"
#include "flow/release_manifest.h"
#include "release_tool/near_miss.h"

namespace vantile {
namespace {

// Each kind of computer's own entry, when the installer can use it.
std::vector<std::optional<BuildEntry>> own_entries(const JsonValue& document) {
    std::vector<std::optional<BuildEntry>> entries;
    for (const ArchitectureFacts& facts : ARCHITECTURES) {
        entries.emplace_back();
        for (const ExaminedEntry& candidate : choose_build(document, facts.architecture).candidates)
            if (candidate.key == facts.asset_key) entries.back() = candidate.build;
    }
    return entries;
}

// The folders of an address's path, after the host.
std::vector<std::string_view> folders_of(std::string_view url) {
    std::vector<std::string_view> folders;
    const std::size_t scheme = url.find("://");
    std::size_t start = url.find('/', scheme == std::string_view::npos ? 0 : scheme + 3);
    while (start != std::string_view::npos) {
        const std::size_t end = url.find('/', start + 1);
        if (end == std::string_view::npos) break;
        folders.push_back(url.substr(start + 1, end - start - 1));
        start = end;
    }
    return folders;
}

}  // namespace

std::vector<std::string> manifest_warnings(const JsonValue& document) {
    std::vector<std::string> warnings;
    const JsonObject* members = document.as_object();
    if (!members) return warnings;

    std::vector<std::string_view> known;
    for (const ArchitectureFacts& facts : ARCHITECTURES) known.push_back(facts.asset_key);
    for (const JsonMember& member : *members)
        if (std::optional<std::string_view> meant = nearest_word(member.first, known))
            warnings.push_back(fill_template(
                "the installer reads no {}: is it a misspelling of {}?", {member.first, *meant}));

    const std::vector<std::optional<BuildEntry>> entries = own_entries(document);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (!entries[i]) continue;
        const BuildEntry& entry = *entries[i];
        for (std::string_view folder : folders_of(entry.url))
            if (parse_version(folder) && folder != entry.version)
                warnings.push_back(
                    fill_template("{} is version {}, but its address lies in the folder {}",
                                  {entry.asset, entry.version, folder}));
        for (Architecture other : ARCHITECTURES[i].also_takes) {
            const std::optional<BuildEntry>& taken = entries[architecture_row(other)];
            if (!taken) continue;
            if (*parse_version(taken->version) > *parse_version(entry.version))
                warnings.push_back(fill_template(
                    "{} {} is older than {} {}: {} computers take the {} build instead, "
                    "emulated",
                    {entry.asset, entry.version, taken->asset, taken->version,
                     ARCHITECTURES[i].name, architecture_facts(other).name}));
            if (taken->sha256 == entry.sha256 && taken->size == entry.size)
                warnings.push_back(fill_template(
                    "{} and {} have the same size and SHA-256: both are one archive, and {} "
                    "computers get no build of their own",
                    {taken->asset, entry.asset, ARCHITECTURES[i].name}));
        }
    }
    return warnings;
}

}  // namespace vantile
