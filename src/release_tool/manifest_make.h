#pragma once
// Makes a release manifest from the built archives, refusing anything the installer would
// refuse or pass over.
#include <string>

#include "base/result.h"
#include "release_tool/manifest_check.h"
#include "release_tool/tool_arguments.h"

namespace vantile {

struct MadeManifest {
    std::string text;         // the manifest as written
    ManifestVerdict verdict;  // what the installer would do with it
};

// Works out the manifest and checks it to the end, its archives read through `access` as
// check --files reads them; writes nothing.
[[nodiscard]] Result<MadeManifest> make_manifest(const MakeRequest& request, ArchiveAccess access);

}  // namespace vantile
