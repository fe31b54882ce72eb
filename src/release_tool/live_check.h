#pragma once
// check on the live release: the manifest read from its address (or, at hand, compared with
// what the release host serves at the installer's address), and every archive a computer
// would choose read from the release host, as the installer reads them.
#include "base/result.h"
#include "release_tool/manifest_check.h"
#include "release_tool/online_check.h"
#include "release_tool/tool_arguments.h"

namespace vantile {

// Is this a check of the live release: an https manifest, or --online?
bool checks_live(const CheckRequest& check);

// The verdict, or the publisher's mistake (an address that is not https, a manifest address
// that cannot be reached at all) as one message.
Result<ManifestVerdict> check_live(const CheckRequest& check, const FetchSettings& settings,
                                   const ProgressReport& progress);

}  // namespace vantile
