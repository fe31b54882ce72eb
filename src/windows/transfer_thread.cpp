#include "windows/transfer_thread.h"

#include <windows.h>

#include <algorithm>
#include <array>
#include <exception>
#include <utility>

#include "base/scope_exit.h"
#include "windows/unique_handle.h"

namespace vantile {
namespace {

// How often a wait with nothing arriving looks at the stop request: a cancel is seen within
// this time.
constexpr std::chrono::milliseconds STOP_POLL{50};

// Filled chunks that wake a waiting caller. Fewer are taken at its next look at the stop request,
// so a fast transfer wakes it once every few chunks (each wake costs a context switch), and a
// slow one hands each chunk over late by STOP_POLL at most.
constexpr std::size_t WAKE_AT = TRANSFER_BUFFER_COUNT / 2;

// How the transfer thread's work ended, once it did.
enum class Ending { Running, Complete, Failed, Threw };

// What the caller and the transfer thread share. Each holds one reference; the last one out
// frees it, so a thread that the caller gave up on still has its buffers and its source. The
// hand-over uses an SRW lock and condition variables, which stay inside the process (no kernel
// object per chunk).
struct Channel {
    std::unique_ptr<BlockingSource> source;  // used by the transfer thread only
    std::array<std::unique_ptr<char[]>, TRANSFER_BUFFER_COUNT> buffers;
    std::size_t buffer_size = 0;

    SRWLOCK lock = SRWLOCK_INIT;
    CONDITION_VARIABLE answered = CONDITION_VARIABLE_INIT;  // for the caller
    CONDITION_VARIABLE room = CONDITION_VARIABLE_INIT;      // for the transfer thread
    // Guarded by `lock`. Filled buffers are taken, all that are filled at a time, in the order
    // they were filled, and given back together.
    bool opened = false;
    std::size_t filled = 0;
    std::array<std::size_t, TRANSFER_BUFFER_COUNT> counts{};
    Ending ending = Ending::Running;
    std::string message;
    std::exception_ptr exception;
    bool abandoned = false;
};

class Locked {
  public:
    explicit Locked(SRWLOCK& lock) : lock_(lock) { AcquireSRWLockExclusive(&lock_); }
    ~Locked() { ReleaseSRWLockExclusive(&lock_); }
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;

  private:
    SRWLOCK& lock_;
};

void finish(Channel& channel, Ending ending, std::string message = {},
            std::exception_ptr exception = nullptr) {
    const Locked locked(channel.lock);
    channel.ending = ending;
    channel.message = std::move(message);
    channel.exception = std::move(exception);
    WakeConditionVariable(&channel.answered);
}

// Waits for a free buffer: true, or false once no more reads are wanted.
bool wait_for_room(Channel& channel) {
    const Locked locked(channel.lock);
    while (channel.filled == TRANSFER_BUFFER_COUNT && !channel.abandoned)
        SleepConditionVariableSRW(&channel.room, &channel.lock, INFINITE, 0);
    return !channel.abandoned;
}

// The transfer thread's work: open, then read ahead into whichever buffer is free, until the
// end, a failure, or the caller's "enough".
void serve(Channel& channel) {
    try {
        if (Status opened = channel.source->open(); !opened) {
            finish(channel, Ending::Failed, opened.error());
            return;
        }
        {
            const Locked locked(channel.lock);
            channel.opened = true;
            WakeConditionVariable(&channel.answered);
        }
        for (std::size_t next = 0;; next = (next + 1) % TRANSFER_BUFFER_COUNT) {
            if (!wait_for_room(channel)) return;
            Result<std::size_t> read =
                channel.source->read(channel.buffers[next].get(), channel.buffer_size);
            if (!read) {
                finish(channel, Ending::Failed, read.error());
                return;
            }
            if (read.value() == 0) {
                finish(channel, Ending::Complete);
                return;
            }
            const Locked locked(channel.lock);
            channel.counts[next] = read.value();
            if (++channel.filled >= WAKE_AT) WakeConditionVariable(&channel.answered);
        }
    } catch (...) {
        // Handed to the caller, who throws it again as if the call had been its own.
        finish(channel, Ending::Threw, {}, std::current_exception());
    }
}

DWORD WINAPI transfer_thread(void* parameter) {
    std::shared_ptr<Channel> channel;
    {
        std::unique_ptr<std::shared_ptr<Channel>> handed(
            static_cast<std::shared_ptr<Channel>*>(parameter));
        channel = std::move(*handed);
    }
    serve(*channel);
    // Only now, when no call of the source can still be running, does it release what it holds.
    channel->source.reset();
    return 0;
}

enum class Waited { Answered, Stalled, StopRequested };

// Waits, holding the channel's lock, until `ready` holds: for at most the stall limit, and no
// longer once a stop is asked for.
template <class Ready>
Waited wait_for_answer(Channel& channel, const TransferWait& wait, Ready ready) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + wait.stall_limit;
    while (!ready()) {
        if (wait.stop_requested && wait.stop_requested()) return Waited::StopRequested;
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) return Waited::Stalled;
        const auto slice = std::min(left, STOP_POLL);
        SleepConditionVariableSRW(&channel.answered, &channel.lock,
                                  static_cast<DWORD>(slice.count()), 0);
    }
    return Waited::Answered;
}

// Waits for the thread to end within the same limits.
void wait_for_thread(HANDLE thread, const TransferWait& wait) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + wait.stall_limit;
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        const auto slice = std::clamp(left, std::chrono::milliseconds{0}, STOP_POLL);
        if (WaitForSingleObject(thread, static_cast<DWORD>(slice.count())) != WAIT_TIMEOUT) return;
        if (wait.stop_requested && wait.stop_requested()) return;
        if (Clock::now() >= deadline) return;
    }
}

Abandoned abandoned_for(Waited waited) {
    return waited == Waited::Stalled ? Abandoned::Stalled : Abandoned::Stopped;
}

}  // namespace

Result<TransferEnd> run_transfer_thread(std::unique_ptr<BlockingSource> source,
                                        std::size_t buffer_size, const ChunkConsumer& consumer,
                                        const TransferWait& wait, const AbandonWords& words) {
    auto channel = std::make_shared<Channel>();
    channel->source = std::move(source);
    for (auto& buffer : channel->buffers) buffer = std::make_unique<char[]>(buffer_size);
    channel->buffer_size = buffer_size;

    auto handed = std::make_unique<std::shared_ptr<Channel>>(channel);
    UniqueHandle thread(CreateThread(nullptr, 0, transfer_thread, handed.get(), 0, nullptr));
    if (!thread) return fail(words.not_started(GetLastError()));
    handed.release();  // the thread owns its reference now
    // Tells the transfer thread that no more reads are wanted: it ends as soon as its current
    // call, if any, returns. Told at the latest when the caller leaves, whichever way it leaves.
    const auto no_more_reads = [&channel] {
        const Locked locked(channel->lock);
        channel->abandoned = true;
        WakeConditionVariable(&channel->room);
    };
    const ScopeExit tell_on_leaving(no_more_reads);
    // At an end that the thread reached by itself (or was told of between two reads), its
    // source is released in a moment. The caller waits for that, within the same limits, so
    // that one try's handles are closed before the next try opens its own.
    const auto wait_for_release = [&] { wait_for_thread(thread.get(), wait); };

    {
        const Locked locked(channel->lock);
        const Waited waited = wait_for_answer(
            *channel, wait, [&] { return channel->opened || channel->ending != Ending::Running; });
        if (waited != Waited::Answered)
            return fail(words.abandoned(TransferStage::Opening, abandoned_for(waited)));
    }

    for (std::size_t next = 0;;) {
        std::size_t ready = 0;
        Ending ending = Ending::Running;
        {
            const Locked locked(channel->lock);
            // Chunks read before an end or a failure still reach the consumer first.
            const Waited waited = wait_for_answer(*channel, wait, [&] {
                return channel->filled > 0 || channel->ending != Ending::Running;
            });
            if (waited != Waited::Answered)
                return fail(words.abandoned(TransferStage::Reading, abandoned_for(waited)));
            ready = channel->filled;
            ending = channel->ending;
        }
        if (ready == 0) {
            // Nothing filled, so the thread has ended: complete, failed or thrown.
            wait_for_release();
            if (ending == Ending::Failed) return fail(std::move(channel->message));
            if (ending == Ending::Threw) std::rethrow_exception(channel->exception);
            return TransferEnd::Complete;
        }
        // The filled buffers are the caller's until it gives them back.
        for (std::size_t taken = 0; taken < ready;
             ++taken, next = (next + 1) % TRANSFER_BUFFER_COUNT) {
            if (!consumer(channel->buffers[next].get(), channel->counts[next])) {
                no_more_reads();
                wait_for_release();
                return TransferEnd::Stopped;
            }
        }
        const Locked locked(channel->lock);
        channel->filled -= ready;
        WakeConditionVariable(&channel->room);
    }
}

}  // namespace vantile
