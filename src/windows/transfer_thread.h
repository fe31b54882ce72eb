#pragma once
// A transfer whose blocking calls run on a thread of their own. The attempt waits for each call
// only as long as it chooses: at most the stall limit, and no longer once a stop is asked for.
// A call it gave up on ends (or never does) on that thread alone, which then releases what the
// source holds; nothing waits for it, not even the end of the process. The chunks reach the
// consumer on the caller's thread, so an abandoned call never touches what the attempt uses.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "base/result.h"
#include "flow/transfer.h"

namespace vantile {

// How long a transfer waits for one answer: the server's reply, or the next chunk.
inline constexpr std::chrono::milliseconds STALL_LIMIT{30000};

// When the caller stops waiting for a transfer. Tests shorten the limit.
struct TransferWait {
    StopQuery stop_requested;
    std::chrono::milliseconds stall_limit = STALL_LIMIT;
};

// A source whose calls may block for as long as the other side likes. The caller makes it; from
// then on it is used, and destroyed, on the transfer thread only. Its destructor releases what it
// holds.
class BlockingSource {
  public:
    virtual ~BlockingSource() = default;
    // Connects and reads the answer's head: success, or a complete message.
    virtual Status open() = 0;
    // Reads up to `capacity` bytes into `buffer`: how many (0 at the end), or a complete message.
    virtual Result<std::size_t> read(char* buffer, std::size_t capacity) = 0;
};

// Where the caller stopped waiting: in open() or in read().
enum class TransferStage { Opening, Reading };

// Why the caller stopped waiting: the stall limit passed, or a stop was asked for.
enum class Abandoned { Stalled, Stopped };

// A source's own words for the ends that are not its answer, said on the caller's thread: its
// transfer thread could not start (with the system's error code), or the caller stopped waiting.
struct AbandonWords {
    std::function<std::string(std::uint32_t error_code)> not_started;
    std::function<std::string(TransferStage stage, Abandoned why)> abandoned;
};

// Zero-filled buffers of one transfer, filled by the source in turn: it reads ahead while the
// consumer has the chunks already read.
inline constexpr std::size_t TRANSFER_BUFFER_COUNT = 8;

// Opens the source and hands every chunk to the consumer: Complete at the end of the body,
// Stopped when the consumer answered false, or the message of a failure or of a wait that was
// given up. After a false from the consumer, no further chunk reaches it (the reads that filled
// the other buffers may already have run). At every end but a given-up wait, it first waits
// (within the same limits) for the source to be released.
Result<TransferEnd> run_transfer_thread(std::unique_ptr<BlockingSource> source,
                                        std::size_t buffer_size, const ChunkConsumer& consumer,
                                        const TransferWait& wait, const AbandonWords& words);

}  // namespace vantile
