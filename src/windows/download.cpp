#include "download.h"
// Placeholder until downloads are built.
namespace vantile {
Status fetch_address(const std::string&, const ChunkConsumer&) { return fail("Downloads are not built yet."); }
Status download_to_file(const DownloadSource&, const std::string&, const ProgressObserver&) {
    return fail("Downloads are not built yet.");
}
}  // namespace vantile
