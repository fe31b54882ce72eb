#include "release_tool/online_fetch.h"
#include "windows/download.h"

namespace vantile {

// The installer's own download code: what reaches the consumer is what the installer gets
// (WinINet's decoding included). Its messages say what failed; the headers are WinINet's.
HostAnswer fetch_from_host(const std::string& address, const ChunkConsumer& consumer,
                           const FetchSettings& settings) {
    HostAnswer answer;
    const Result<TransferEnd> fetched =
        fetch_address(address, consumer, TransferWait{{}, settings.stall_limit});
    if (!fetched) {
        answer.failure = fetched.error();
        answer.host_did = "see the installer's message above: WinINet gives no more";
        return answer;
    }
    answer.status = 200;
    answer.complete = true;
    return answer;
}

}  // namespace vantile
