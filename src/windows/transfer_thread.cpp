#include "windows/transfer_thread.h"

#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <atomic>
#include <exception>
#include <utility>

#include "base/scope_exit.h"
#include "windows/unique_handle.h"

namespace vantile {
namespace {

// How often a wait looks at the stop request: a cancel is seen within this time.
constexpr std::chrono::milliseconds STOP_POLL{50};

enum class Answer { Opened, Chunk, End, Failed, Threw };

// What the caller and the transfer thread share. Each holds one reference; the last one out
// frees it, so a thread that the caller gave up on still has its buffer and its source.
struct Channel {
    std::unique_ptr<BlockingSource> source;  // used by the transfer thread only
    std::unique_ptr<char[]> buffer;
    std::size_t buffer_size = 0;
    UniqueHandle go_on;     // auto-reset: the caller asks for the next read, or for the end
    UniqueHandle answered;  // auto-reset: the transfer thread has an answer
    std::atomic<bool> abandoned{false};

    // Written by the transfer thread before it sets `answered`, read by the caller after.
    Answer answer = Answer::Failed;
    std::size_t count = 0;
    std::string message;
    std::exception_ptr exception;
};

void give_answer(Channel& channel, Answer answer, std::size_t count = 0, std::string message = {}) {
    channel.answer = answer;
    channel.count = count;
    channel.message = std::move(message);
    SetEvent(channel.answered.get());
}

// The transfer thread's work: open, then read each time the caller asks, until the end, a
// failure, or the caller's "enough".
void serve(Channel& channel) {
    try {
        if (Status opened = channel.source->open(); !opened) {
            give_answer(channel, Answer::Failed, 0, opened.error());
            return;
        }
        give_answer(channel, Answer::Opened);
        for (;;) {
            WaitForSingleObject(channel.go_on.get(), INFINITE);
            if (channel.abandoned.load()) return;
            Result<std::size_t> read =
                channel.source->read(channel.buffer.get(), channel.buffer_size);
            if (!read) {
                give_answer(channel, Answer::Failed, 0, read.error());
                return;
            }
            if (read.value() == 0) {
                give_answer(channel, Answer::End);
                return;
            }
            give_answer(channel, Answer::Chunk, read.value());
        }
    } catch (...) {
        // Handed to the caller, who throws it again as if the call had been its own.
        channel.exception = std::current_exception();
        give_answer(channel, Answer::Threw);
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

enum class Waited { Signalled, Stalled, StopRequested };

// Waits for the object for at most the stall limit, and no longer once a stop is asked for.
Waited wait_for(HANDLE object, const TransferWait& wait) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + wait.stall_limit;
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        const auto slice = std::clamp(left, std::chrono::milliseconds{0}, STOP_POLL);
        const DWORD result = WaitForSingleObject(object, static_cast<DWORD>(slice.count()));
        if (result == WAIT_OBJECT_0) return Waited::Signalled;
        if (wait.stop_requested && wait.stop_requested()) return Waited::StopRequested;
        if (result != WAIT_TIMEOUT || Clock::now() >= deadline) return Waited::Stalled;
    }
}

}  // namespace

Result<TransferEnd> run_transfer_thread(std::unique_ptr<BlockingSource> source,
                                        std::size_t buffer_size, const ChunkConsumer& consumer,
                                        const TransferWait& wait,
                                        const AbandonMessage& abandon_message) {
    auto channel = std::make_shared<Channel>();
    channel->source = std::move(source);
    channel->buffer = std::make_unique<char[]>(buffer_size);
    channel->buffer_size = buffer_size;
    channel->go_on.reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    channel->answered.reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    if (!channel->go_on || !channel->answered)
        return fail(abandon_message(TransferStage::Starting, GetLastError()));

    auto handed = std::make_unique<std::shared_ptr<Channel>>(channel);
    UniqueHandle thread(CreateThread(nullptr, 0, transfer_thread, handed.get(), 0, nullptr));
    if (!thread) return fail(abandon_message(TransferStage::Starting, GetLastError()));
    handed.release();  // the thread owns its reference now
    // Tells the transfer thread that no more reads are wanted: it ends as soon as its current
    // call, if any, returns. Told at the latest when the caller leaves, whichever way it leaves.
    const auto no_more_reads = [&channel] {
        channel->abandoned.store(true);
        SetEvent(channel->go_on.get());
    };
    const ScopeExit tell_on_leaving(no_more_reads);

    // At an end that the thread reached by itself (or was told of between two reads), its
    // source is released in a moment. The caller waits for that, within the same limits, so
    // that one try's handles are closed before the next try opens its own.
    const auto wait_for_release = [&]() { wait_for(thread.get(), wait); };

    TransferStage stage = TransferStage::Opening;
    for (;;) {
        const Waited waited = wait_for(channel->answered.get(), wait);
        if (waited != Waited::Signalled) {
            const std::uint32_t code = waited == Waited::Stalled
                                           ? ERROR_INTERNET_TIMEOUT
                                           : ERROR_INTERNET_OPERATION_CANCELLED;
            return fail(abandon_message(stage, code));
        }
        switch (channel->answer) {
            case Answer::Opened:
                stage = TransferStage::Reading;
                break;
            case Answer::Chunk:
                if (!consumer(channel->buffer.get(), channel->count)) {
                    no_more_reads();
                    wait_for_release();
                    return TransferEnd::Stopped;
                }
                break;
            case Answer::End:
                wait_for_release();
                return TransferEnd::Complete;
            case Answer::Failed:
                wait_for_release();
                return fail(std::move(channel->message));
            case Answer::Threw:
                wait_for_release();
                std::rethrow_exception(channel->exception);
        }
        SetEvent(channel->go_on.get());
    }
}

}  // namespace vantile
