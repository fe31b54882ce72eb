#include "windows/download.h"

#include <windows.h>
#include <wininet.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>

#include "base/text.h"
#include "windows/error_text.h"
#include "windows/file_access.h"
#include "windows/portable/download_messages.h"
#include "flow/file_messages.h"
#include "windows/unique_handle.h"
#include "windows/wide_text.h"

namespace vantile {
namespace {

// Asked of WinINet for connecting, receiving and sending. Wine applies only the first, so
// the transfer thread's own limit for a stalled answer is the same.
constexpr DWORD TRANSFER_TIMEOUT_MS = 30000;
static_assert(STALL_LIMIT.count() == TRANSFER_TIMEOUT_MS);

// Caches bypassed both ways, TLS only, redirects not followed, no cookies, no UI.
constexpr DWORD OPEN_URL_FLAGS = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE |
                                 INTERNET_FLAG_SECURE | INTERNET_FLAG_NO_AUTO_REDIRECT |
                                 INTERNET_FLAG_NO_COOKIES | INTERNET_FLAG_NO_UI |
                                 INTERNET_FLAG_PRAGMA_NOCACHE;
static_assert(TRANSFER_BUFFER_SIZE <= MAXDWORD);
static_assert(HTTP_STATUS_PROXY_SIGN_IN == HTTP_STATUS_PROXY_AUTH_REQ);

// What the status callback saw of the last answer before the open returned: its security flags,
// read as its head arrived, while the connection that carried it is still held. (Read after the
// open, a zero-length answer's connection may already be released and its flags lost.)
struct AnswerEvidence {
    bool flags_read = false;
    DWORD security_flags = 0;
};

// Status callbacks come on the calling thread for a synchronous handle, and only for a handle
// whose context is not zero: the context is the source's AnswerEvidence.
void CALLBACK note_answer(HINTERNET handle, DWORD_PTR context, DWORD status, void*, DWORD) {
    if (status != INTERNET_STATUS_RESPONSE_RECEIVED || context == 0) return;
    auto& evidence = *reinterpret_cast<AnswerEvidence*>(context);
    DWORD flags = 0;
    DWORD length = sizeof flags;
    evidence.flags_read =
        InternetQueryOptionW(handle, INTERNET_OPTION_SECURITY_FLAGS, &flags, &length) != FALSE;
    evidence.security_flags = evidence.flags_read ? flags : 0;
}

// Whether the root's requests go straight to the servers: only then can no proxy have answered.
bool configured_direct(HINTERNET root) {
    DWORD size = 0;
    InternetQueryOptionW(root, INTERNET_OPTION_PROXY, nullptr, &size);
    if (size < sizeof(INTERNET_PROXY_INFO)) return false;
    const auto buffer = std::make_unique<unsigned char[]>(size);
    if (!InternetQueryOptionW(root, INTERNET_OPTION_PROXY, buffer.get(), &size)) return false;
    INTERNET_PROXY_INFO info{};
    std::memcpy(&info, buffer.get(), sizeof info);
    return info.dwAccessType == INTERNET_OPEN_TYPE_DIRECT;
}

// Only an answer that came over TLS from the server has SECURITY_FLAG_SECURE.
// (INTERNET_OPTION_SECURITY_CERTIFICATE_STRUCT is never read here: on a proxy's answer it
// crashes Wine's wininet.)
Answerer answered_by(bool direct, DWORD status, const AnswerEvidence& evidence) {
    std::optional<bool> came_over_tls;
    if (evidence.flags_read) came_over_tls = (evidence.security_flags & SECURITY_FLAG_SECURE) != 0;
    return answerer_of(direct, status, came_over_tls);
}

// One https address through WinINet. Every call, and the closing of both handles, happens on
// the transfer thread.
class InternetSource final : public BlockingSource {
  public:
    explicit InternetSource(std::string address) : address_(std::move(address)) {}

    Status open() override {
        root_ = open_internet_root();
        if (!root_) return fail(start_failed_message(last_windows_error_text()));
        // Refused, the evidence stays unread and a status other than 200 names neither party.
        InternetSetStatusCallbackW(root_.get(), note_answer);
        request_ =
            open_internet_address(root_.get(), address_, reinterpret_cast<DWORD_PTR>(&evidence_));
        if (!request_) return fail(download_failed_message(address_, last_windows_error_text()));

        DWORD status = 0;
        DWORD length = sizeof status;
        if (!HttpQueryInfoW(request_.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER,
                            &status, &length, nullptr)) {
            return fail(fill_template("{} sent no answer Vantile could read: {}.",
                                      {address_, last_windows_error_text()}));
        }
        if (status != HTTP_STATUS_OK)
            return fail(answer_message(
                address_, status, answered_by(configured_direct(root_.get()), status, evidence_)));
        return {};
    }

    Result<std::size_t> read(char* buffer, std::size_t capacity) override {
        DWORD read = 0;
        if (!InternetReadFile(request_.get(), buffer, static_cast<DWORD>(capacity), &read))
            return fail(download_stopped_message(address_, last_windows_error_text()));
        return std::size_t{read};
    }

  private:
    const std::string address_;
    // Filled by the status callback; it outlives both handles, whose closing may call back.
    AnswerEvidence evidence_;
    // Declared first so that it is closed last, after the request.
    UniqueInternet root_;
    UniqueInternet request_;
};

// Writes every byte of the chunk. A write that makes no progress has no error code of
// its own, so it gets a fixed description instead.
Status write_whole(HANDLE file, const std::string& path, const char* data, std::size_t size) {
    while (size > 0) {
        DWORD written = 0;
        if (!WriteFile(file, data, static_cast<DWORD>(size), &written, nullptr)) {
            return fail(unwritable_file_message(path, last_os_error_text()));
        }
        if (written == 0) {
            return fail(unwritable_file_message(path, "failed to write whole buffer"));
        }
        data += written;
        size -= written;
    }
    return {};
}

// A local file, opened and read on the transfer thread.
class LocalFileSource final : public BlockingSource {
  public:
    LocalFileSource(std::string path, UnreadableMessage unreadable,
                    std::function<Status()> check_before_open)
        : path_(std::move(path)),
          unreadable_(std::move(unreadable)),
          check_before_open_(std::move(check_before_open)) {}

    Status open() override {
        if (check_before_open_) {
            if (Status checked = check_before_open_(); !checked) return checked;
        }
        file_ = open_for_reading(path_);
        if (!file_) return fail(unreadable_(last_os_error_text()));
        return {};
    }

    Result<std::size_t> read(char* buffer, std::size_t capacity) override {
        DWORD read = 0;
        if (!ReadFile(file_.get(), buffer, static_cast<DWORD>(capacity), &read, nullptr))
            return fail(unreadable_(last_os_error_text()));
        return std::size_t{read};
    }

  private:
    const std::string path_;
    const UnreadableMessage unreadable_;
    const std::function<Status()> check_before_open_;
    UniqueFile file_;
};

// A local read that ended without the file's answer, in the os error form of every other file
// failure: a stall as the system's time-out, a stop as its cancel.
AbandonWords local_read_words(const UnreadableMessage& unreadable) {
    return {[unreadable](std::uint32_t code) { return unreadable(os_error_text(code)); },
            [unreadable](TransferStage, Abandoned why) {
                return unreadable(
                    os_error_text(why == Abandoned::Stalled ? ERROR_TIMEOUT : ERROR_CANCELLED));
            }};
}

// A fetch that gave up at a stage ends like a WinINet call that failed there: with WinINet's
// time-out after a stall, its cancel after a stop.
AbandonWords fetch_words(const std::string& address) {
    return {[](std::uint32_t code) { return start_failed_message(windows_error_text(code)); },
            [address](TransferStage stage, Abandoned why) {
                const std::string error = windows_error_text(
                    why == Abandoned::Stalled ? ERROR_INTERNET_TIMEOUT
                                              : ERROR_INTERNET_OPERATION_CANCELLED);
                switch (stage) {
                    case TransferStage::Opening:
                        return download_failed_message(address, error);
                    case TransferStage::Reading:
                        break;
                }
                return download_stopped_message(address, error);
            }};
}

}  // namespace

UniqueInternet open_internet_root() {
    const std::wstring agent = to_wide(installer_user_agent());
    UniqueInternet root(
        InternetOpenW(agent.c_str(), INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    if (!root) return root;
    // Best effort: WinINet's defaults are used if an option is refused.
    for (const DWORD option :
         {DWORD{INTERNET_OPTION_CONNECT_TIMEOUT}, DWORD{INTERNET_OPTION_RECEIVE_TIMEOUT},
          DWORD{INTERNET_OPTION_SEND_TIMEOUT}}) {
        DWORD timeout = TRANSFER_TIMEOUT_MS;
        InternetSetOptionW(root.get(), option, &timeout, sizeof timeout);
    }
    // A server may compress a stored object whoever asks (Content-Encoding: gzip); WinINet then
    // hands over the decoded bytes, which the size limits and the digest are about.
    BOOL decode = TRUE;
    InternetSetOptionW(root.get(), INTERNET_OPTION_HTTP_DECODING, &decode, sizeof decode);
    return root;
}

UniqueInternet open_internet_address(HINTERNET root, const std::string& address,
                                     DWORD_PTR context) {
    return UniqueInternet(
        InternetOpenUrlW(root, to_wide(address).c_str(), nullptr, 0, OPEN_URL_FLAGS, context));
}

Result<TransferEnd> fetch_address(const std::string& address, const ChunkConsumer& consumer,
                                  const TransferWait& wait) {
    return run_transfer_thread(std::make_unique<InternetSource>(address), TRANSFER_BUFFER_SIZE,
                               consumer, wait, fetch_words(address));
}

Result<TransferEnd> read_local_file(const std::string& path, const ChunkConsumer& consumer,
                                    const TransferWait& wait, const UnreadableMessage& unreadable,
                                    const std::function<Status()>& check_before_open) {
    return run_transfer_thread(
        std::make_unique<LocalFileSource>(path, unreadable, check_before_open),
        TRANSFER_BUFFER_SIZE, consumer, wait, local_read_words(unreadable));
}

Result<TransferEnd> download_to_file(const DownloadSource& source, const std::string& destination,
                                     const ProgressObserver& observer, const TransferWait& wait) {
    const std::wstring wide_destination = to_wide(destination);
    UniqueFile file(CreateFileW(wide_destination.c_str(), GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        return fail(uncreatable_path_message(destination, last_os_error_text()));
    }

    std::uint64_t total = 0;
    std::optional<std::string> write_error;
    const ChunkConsumer consumer = [&](const char* data, std::size_t size) {
        if (Status written = write_whole(file.get(), destination, data, size); !written) {
            write_error = written.error();
            return false;
        }
        total += size;
        return observer(total);
    };

    Result<TransferEnd> transfer =
        is_address(source)
            ? fetch_address(source_text(source), consumer, wait)
            : read_local_file(source_text(source), consumer, wait,
                              [path = source_text(source)](const std::string& error) {
                                  return unreadable_file_message(path, error);
                              });
    // A failed write is the real reason even when the transfer only reports that it stopped.
    if (write_error) return fail(*write_error);
    return transfer;
}

}  // namespace vantile
