#include "release_tool/manifest_make.h"

#include <optional>
#include <utility>
#include <vector>

#include "base/text.h"
#include "flow/manifest_source.h"
#include "flow/trust_rules.h"
#include "flow/windows_paths.h"
#include "flow/json_writer.h"
#include "release_tool/tool_files.h"

namespace vantile {
namespace {

struct Archive {
    const ArchitectureFacts* facts;
    std::string path;
    std::string url;
    FileDigest digest;
};

std::string trusted_locations() {
    return fill_template("{}{} or {}{}", {STORAGE_DOWNLOAD_PREFIX, DOWNLOAD_PATH_PREFIX,
                                          CDN_DOWNLOAD_PREFIX, DOWNLOAD_PATH_PREFIX});
}

Status check_version(const std::string& version) {
    if (parse_version(version)) return {};
    return fail(fill_template(
        "The version {} is not one the installer reads: it must be major.minor.patch, three "
        "numbers of at most 2147483647, optionally followed by a hyphen and dot-separated "
        "letters and digits (1.4.0, 1.4.0-rc.1).",
        {version}));
}

// The archive's address under the base, judged by the installer's trust rules. When they
// refuse it, a probe name that they accept anywhere tells a wrong base from a wrong file name.
Result<std::string> published_address(const std::string& base, const std::string& path,
                                      const ManifestSource& manifest) {
    if (!starts_with_https(base) && !has_url_scheme(base))
        return fail(fill_template(
            "The base {} is not an https:// address. Give the address the archives are "
            "published under ({}), or --local for an offline folder.",
            {base, trusted_locations()}));
    const std::string folder = base.ends_with('/') ? base : base + "/";
    const std::string name = file_name_of(path);
    const std::string url = folder + name;
    Result<DownloadSource> source = resolve_download_source(url, manifest);
    if (source) return url;
    if (!resolve_download_source(folder + "vantile.zip", manifest))
        return fail(fill_template("{} Archives are published under {}.",
                                  {source.error(), trusted_locations()}));
    return fail(fill_template(
        "{} The file name {} is at fault: a download's path holds only ASCII letters, digits, "
        "hyphens, full stops and underscores. Rename the archive.",
        {source.error(), name}));
}

// The archive's path beside the manifest, as a local manifest names it. The installer reads
// it on Windows, so each part must be a name Windows holds as it is: a file named
// "..\x.zip" on Linux would climb out of the folder there.
Result<std::string> local_name(const std::string& path, const std::string& manifest) {
    std::optional<std::string> name = path_beside_manifest(path, manifest);
    if (!name)
        return fail(fill_template(
            "{} is not in the folder that holds {}: an offline folder must hold its archives, "
            "so that it can be copied whole.",
            {path, manifest}));
    std::string_view rest = *name;
    for (;;) {
        const std::size_t slash = rest.find('/');
        const std::string_view part = rest.substr(0, slash);
        if (std::optional<std::string> fault = windows_name_fault(part))
            return fail(fill_template(
                "The manifest would name {}, which Windows cannot read as it is meant: in {}, "
                "{}. Rename it.",
                {*name, part, *fault}));
        if (slash == std::string_view::npos) return *name;
        rest.remove_prefix(slash + 1);
    }
}

JsonValue entry_document(const std::string& version, const Archive& archive) {
    return JsonValue{JsonObject{
        {"version", JsonValue{version}},
        {"url", JsonValue{archive.url}},
        {"size", JsonValue{archive.digest.byte_count}},
        {"sha256", JsonValue{archive.digest.digest}},
    }};
}

// Two kinds of computer whose archives would be published under one address.
std::optional<std::string> shared_address(const std::vector<Archive>& archives) {
    for (std::size_t i = 0; i < archives.size(); ++i)
        for (std::size_t j = i + 1; j < archives.size(); ++j)
            if (archives[i].url == archives[j].url)
                return fill_template(
                    "The {} and {} archives would both be published as {}: each build needs a "
                    "file of its own.",
                    {archives[i].facts->name, archives[j].facts->name, archives[i].url});
    return std::nullopt;
}

// The build a kind of computer must choose: its own archive, else the first given of the
// builds it also takes (all of one version, so none after it is newer).
std::optional<std::string_view> meant_asset(const MakeRequest& request,
                                            const ArchitectureFacts& facts) {
    if (request.archives[architecture_row(facts.architecture)]) return facts.asset_key;
    for (Architecture other : facts.also_takes)
        if (request.archives[architecture_row(other)]) return architecture_facts(other).asset_key;
    return std::nullopt;
}

// Each kind of computer installs exactly the build meant for it.
bool installs_as_meant(const ManifestVerdict& verdict, const MakeRequest& request) {
    if (!verdict.installs_everywhere()) return false;
    for (const ComputerVerdict& computer : verdict.computers)
        if (computer.chosen->asset !=
            meant_asset(request, architecture_facts(computer.architecture)))
            return false;
    return true;
}

// Why the installer would not install the manifest as meant, in one line: the first
// computer's failure, with the archive it read and why, when the archive is at fault.
std::string refusal(const ManifestVerdict& verdict) {
    for (const ComputerVerdict& computer : verdict.computers) {
        if (!computer.failure || !computer.archive) continue;
        std::string message = fill_template(
            "The installer would not install {} on {} computers: {}",
            {*computer.archive, computer_name(computer.architecture), *computer.failure});
        for (std::size_t i = 0; i < computer.reasons.size(); ++i)
            message += (i == 0 ? " (" : "; ") + computer.reasons[i];
        return computer.reasons.empty() ? message : message + ")";
    }
    std::string message = "The installer would not install this manifest as meant:";
    for (const std::string& line : verdict.lines()) message += " " + line;
    return message;
}

}  // namespace

Result<MadeManifest> make_manifest(const MakeRequest& request, ArchiveAccess access) {
    if (Status version = check_version(request.version); !version)
        return std::move(version).failure();

    const ManifestSource manifest_source = LocalFile{request.out};
    std::vector<Archive> archives;
    for (const ArchitectureFacts& facts : ARCHITECTURES)
        if (const std::optional<std::string>& path =
                request.archives[architecture_row(facts.architecture)])
            archives.push_back({&facts, *path, {}, {}});

    for (Archive& archive : archives) {
        Result<std::string> url =
            request.base ? published_address(*request.base, archive.path, manifest_source)
                         : local_name(archive.path, request.out);
        if (!url) return std::move(url).failure();
        archive.url = url.value();
        Result<FileDigest> digest = measure_archive(archive.path);
        if (!digest) return std::move(digest).failure();
        archive.digest = digest.value();
    }
    if (std::optional<std::string> clash = shared_address(archives)) return fail(*clash);

    JsonObject document;
    for (const Archive& archive : archives)
        document.push_back(
            {std::string(archive.facts->asset_key), entry_document(request.version, archive)});
    std::string text = json_text(JsonValue{std::move(document)}) + "\n";

    // What the installer would make of it, read back with its own parser and rules, and its
    // archives read as the installer reads them.
    for (const Archive& archive : archives)
        if (request.base) access.given_archives.push_back({archive.url, archive.path});
    // Each archive was measured above; reading it for its digest again would only cost time.
    access.hash = [&archives, hash = access.hash](const std::string& path, std::string_view named,
                                                  std::int64_t expected_size) {
        for (const Archive& archive : archives)
            if (archive.path == path &&
                archive.digest.byte_count == static_cast<std::uint64_t>(expected_size))
                return Result<FileDigest>(archive.digest);
        return hash(path, named, expected_size);
    };
    ManifestVerdict verdict = check_manifest(text, manifest_source, access);
    if (!installs_as_meant(verdict, request)) return fail(refusal(verdict));
    return MadeManifest{std::move(text), std::move(verdict)};
}

}  // namespace vantile
