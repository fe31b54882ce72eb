// A transfer run on a thread of its own: chunks reach the consumer on the caller's thread, the
// caller stops waiting after the stall limit or at once for a stop request, and a call it gave
// up on ends on the transfer thread, which only then releases the source.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "windows/transfer_thread.h"
#include "windows/unique_handle.h"

namespace vantile {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// One call of the scripted source: it hands over bytes, fails, throws, or first waits (a fixed
// time, or until the test lets it go).
struct Call {
    enum Kind { Give, Fail, Throw, Delay, Block } kind = Give;
    std::string text;  // the bytes given, or the failure's message
    DWORD delay_ms = 0;
};

Call give(std::string bytes) {
    return {Call::Give, std::move(bytes), 0};
}
Call failing(std::string message) {
    return {Call::Fail, std::move(message), 0};
}
Call delayed(std::string bytes, DWORD ms) {
    return {Call::Delay, std::move(bytes), ms};
}
Call blocked(std::string bytes = "late") {
    return {Call::Block, std::move(bytes), 0};
}
Call throwing() {
    return {Call::Throw, {}, 0};
}

// What the source did, kept apart from it: the source lives and dies on the transfer thread.
struct SourceRecord {
    UniqueHandle released{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    UniqueHandle let_go{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    std::atomic<int> reads{0};
    std::atomic<DWORD> calling_thread{0};
    std::atomic<DWORD> releasing_thread{0};

    bool was_released(DWORD wait_ms = 0) const {
        return WaitForSingleObject(released.get(), wait_ms) == WAIT_OBJECT_0;
    }
};

class ScriptedSource final : public BlockingSource {
  public:
    ScriptedSource(std::shared_ptr<SourceRecord> record, Call open, std::vector<Call> reads)
        : record_(std::move(record)), open_(std::move(open)), reads_(std::move(reads)) {}
    ~ScriptedSource() override {
        record_->releasing_thread = GetCurrentThreadId();
        SetEvent(record_->released.get());
    }

    Status open() override {
        Result<std::string> outcome = perform(open_);
        if (!outcome) return fail(outcome.error());
        return {};
    }
    Result<std::size_t> read(char* buffer, std::size_t capacity) override {
        const std::size_t index = static_cast<std::size_t>(record_->reads++);
        if (index >= reads_.size()) return std::size_t{0};
        Result<std::string> outcome = perform(reads_[index]);
        if (!outcome) return fail(outcome.error());
        const std::string& bytes = outcome.value();
        EXPECT_LE(bytes.size(), capacity);
        bytes.copy(buffer, capacity);
        return bytes.size();
    }

  private:
    Result<std::string> perform(const Call& call) {
        record_->calling_thread = GetCurrentThreadId();
        switch (call.kind) {
            case Call::Fail:
                return fail(call.text);
            case Call::Throw:
                throw std::bad_alloc();
            case Call::Delay:
                Sleep(call.delay_ms);
                break;
            case Call::Block:
                WaitForSingleObject(record_->let_go.get(), 20000);
                break;
            case Call::Give:
                break;
        }
        return call.text;
    }

    std::shared_ptr<SourceRecord> record_;
    Call open_;
    std::vector<Call> reads_;
};

std::string stage_name(TransferStage stage) {
    return stage == TransferStage::Opening ? "opening" : "reading";
}

// Words that tell the test where and why the caller stopped waiting.
std::string stage_and_why(TransferStage stage, Abandoned why) {
    return stage_name(stage) + (why == Abandoned::Stalled ? " stalled" : " stopped");
}
const AbandonWords TEST_WORDS{
    [](std::uint32_t code) { return "not started " + std::to_string(code); }, stage_and_why};

// A transfer of a scripted source, and what its consumer saw.
struct ScriptedTransfer {
    std::shared_ptr<SourceRecord> record = std::make_shared<SourceRecord>();
    std::string received;
    std::vector<DWORD> consumer_threads;
    bool consumer_answer = true;

    Result<TransferEnd> transfer(Call open, std::vector<Call> reads, TransferWait wait = {}) {
        return run_transfer_thread(
            std::make_unique<ScriptedSource>(record, std::move(open), std::move(reads)), 64,
            [this](const char* data, std::size_t size) {
                received.append(data, size);
                consumer_threads.push_back(GetCurrentThreadId());
                return consumer_answer;
            },
            wait, TEST_WORDS);
    }
};

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

TEST(TransferThread, HandsEveryChunkToTheConsumerOnTheCallersThread) {
    ScriptedTransfer run;
    Result<TransferEnd> end = run.transfer(give(""), {give("abc"), give("defg")});

    ASSERT_TRUE(end.ok()) << end.error();
    EXPECT_EQ(end.value(), TransferEnd::Complete);
    EXPECT_EQ(run.received, "abcdefg");
    EXPECT_EQ(run.consumer_threads, std::vector<DWORD>(2, GetCurrentThreadId()));
    // The source was called, and released, on the transfer thread, before the caller went on.
    EXPECT_NE(run.record->calling_thread.load(), GetCurrentThreadId());
    EXPECT_TRUE(run.record->was_released());
    EXPECT_EQ(run.record->releasing_thread.load(), run.record->calling_thread.load());
}

TEST(TransferThread, FailuresArePassedOnUnchangedAfterTheSourceIsReleased) {
    struct Case {
        Call open;
        std::vector<Call> reads;
        const char* message;
        const char* received;
    };
    const Case cases[] = {
        {failing("no answer"), {}, "no answer", ""},
        {give(""), {give("ab"), failing("cut off")}, "cut off", "ab"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        ScriptedTransfer run;
        Result<TransferEnd> end = run.transfer(c.open, c.reads);
        ASSERT_FALSE(end.ok());
        EXPECT_EQ(end.error(), c.message);
        EXPECT_EQ(run.received, c.received);
        EXPECT_TRUE(run.record->was_released());
    }
}

TEST(TransferThread, AConsumerThatSaysStopGetsNoFurtherChunk) {
    ScriptedTransfer run;
    run.consumer_answer = false;
    std::vector<Call> reads{give("ab")};
    reads.resize(3 * TRANSFER_BUFFER_COUNT, give("cd"));
    Result<TransferEnd> end = run.transfer(give(""), reads);

    ASSERT_TRUE(end.ok()) << end.error();
    EXPECT_EQ(end.value(), TransferEnd::Stopped);
    EXPECT_EQ(run.received, "ab");
    // No read beyond those that filled the buffers while the consumer held its chunk.
    EXPECT_LE(run.record->reads.load(), static_cast<int>(TRANSFER_BUFFER_COUNT));
    EXPECT_TRUE(run.record->was_released());
}

TEST(TransferThread, TheNextChunkIsReadWhileTheConsumerHoldsThisOne) {
    auto record = std::make_shared<SourceRecord>();
    std::string received;
    bool read_meanwhile = false;
    Result<TransferEnd> end = run_transfer_thread(
        std::make_unique<ScriptedSource>(record, give(""),
                                         std::vector<Call>{give("ab"), give("cd")}),
        64,
        [&](const char* data, std::size_t size) {
            if (received.empty()) {
                // The second read starts without the consumer giving this chunk back.
                const auto until = Clock::now() + std::chrono::seconds{10};
                while (record->reads.load() < 2 && Clock::now() < until) Sleep(1);
                read_meanwhile = record->reads.load() >= 2;
            }
            received.append(data, size);
            return true;
        },
        {}, TEST_WORDS);

    ASSERT_TRUE(end.ok()) << end.error();
    EXPECT_TRUE(read_meanwhile);
    EXPECT_EQ(received, "abcd");
}

TEST(TransferThread, SlowChunksEachWithinTheLimitAreWaitedFor) {
    ScriptedTransfer run;
    const auto started = Clock::now();
    Result<TransferEnd> end =
        run.transfer(delayed("", 200), {delayed("a", 200), delayed("b", 200), delayed("c", 200)},
                     TransferWait{{}, milliseconds{500}});

    ASSERT_TRUE(end.ok()) << end.error();
    EXPECT_EQ(run.received, "abc");
    EXPECT_GT(seconds_since(started), 0.5);  // longer than one limit in all
}

// A call that blocks: the caller gives up on it and returns, the call later ends on its own, and
// only then is the source released, while its late bytes reach nobody.
void expect_given_up_call_ends_on_its_own(ScriptedTransfer& run) {
    EXPECT_FALSE(run.record->was_released()) << "released while its call still ran";
    const std::string received = run.received;
    SetEvent(run.record->let_go.get());
    EXPECT_TRUE(run.record->was_released(10000));
    EXPECT_NE(run.record->releasing_thread.load(), GetCurrentThreadId());
    EXPECT_EQ(run.received, received);
}

struct BlockedCase {
    Call open;
    std::vector<Call> reads;
    TransferStage stage;
    const char* received;
};
const BlockedCase BLOCKED_CASES[] = {
    {blocked(), {}, TransferStage::Opening, ""},
    {give(""), {give("ab"), blocked()}, TransferStage::Reading, "ab"},
};

TEST(TransferThread, AWaitLongerThanTheStallLimitEndsAsStalled) {
    for (const BlockedCase& c : BLOCKED_CASES) {
        SCOPED_TRACE(stage_name(c.stage));
        ScriptedTransfer run;
        const auto started = Clock::now();
        Result<TransferEnd> end =
            run.transfer(c.open, c.reads, TransferWait{{}, milliseconds{300}});
        const double waited = seconds_since(started);

        ASSERT_FALSE(end.ok());
        EXPECT_EQ(end.error(), stage_and_why(c.stage, Abandoned::Stalled));
        // No upper bound: the call never ends by itself, so returning at all is giving up,
        // and a loaded machine may return late.
        EXPECT_GE(waited, 0.3);
        EXPECT_EQ(run.received, c.received);
        expect_given_up_call_ends_on_its_own(run);
    }
}

TEST(TransferThread, AStopRequestEndsAWaitAtOnceWhateverTheLimit) {
    for (const BlockedCase& c : BLOCKED_CASES) {
        SCOPED_TRACE(stage_name(c.stage));
        ScriptedTransfer run;
        const auto started = Clock::now();
        const auto asked_at = started + milliseconds{200};
        Result<TransferEnd> end = run.transfer(
            c.open, c.reads, TransferWait{[&] { return Clock::now() >= asked_at; }, STALL_LIMIT});
        const double after_asking = seconds_since(asked_at);

        ASSERT_FALSE(end.ok());
        EXPECT_EQ(end.error(), stage_and_why(c.stage, Abandoned::Stopped));
        // Ended by the stop, not by the limit of 30 s: the outcome says which, on any load.
        EXPECT_GE(after_asking, 0.0);
        EXPECT_EQ(run.received, c.received);
        expect_given_up_call_ends_on_its_own(run);
    }
}

TEST(TransferThread, AnExceptionOnTheTransferThreadReachesTheCaller) {
    ScriptedTransfer run;
    EXPECT_THROW((void)run.transfer(give(""), {give("ab"), throwing()}), std::bad_alloc);
    EXPECT_EQ(run.received, "ab");
    EXPECT_TRUE(run.record->was_released(10000));
}

}  // namespace
}  // namespace vantile
