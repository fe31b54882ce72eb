#include "windows/download.h"

#include <windows.h>
#include <wininet.h>

#include <cstdint>
#include <memory>
#include <optional>

#include "base/text.h"
#include "base/version.h"
#include "windows/error_text.h"
#include "windows/file_access.h"
#include "flow/file_messages.h"
#include "windows/unique_handle.h"
#include "windows/wide_text.h"

namespace vantile {
namespace {

// Asked of WinINet for connecting, receiving and sending. Wine applies only the first, so
// the transfer thread's own limit for a stalled answer is the same.
constexpr DWORD TRANSFER_TIMEOUT_MS = 30000;
static_assert(STALL_LIMIT.count() == TRANSFER_TIMEOUT_MS);

// Reload, no cache write, TLS, no redirects, no cookies, no UI, pragma no-cache.
constexpr DWORD OPEN_URL_FLAGS = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE |
                                 INTERNET_FLAG_SECURE | INTERNET_FLAG_NO_AUTO_REDIRECT |
                                 INTERNET_FLAG_NO_COOKIES | INTERNET_FLAG_NO_UI |
                                 INTERNET_FLAG_PRAGMA_NOCACHE;
static_assert(OPEN_URL_FLAGS == 0x84A80300);
static_assert(TRANSFER_BUFFER_SIZE <= MAXDWORD);

// One zero-filled buffer per transfer, reused for every read.
std::unique_ptr<char[]> make_transfer_buffer() {
    return std::make_unique<char[]>(TRANSFER_BUFFER_SIZE);
}

std::string last_internet_error() {
    return windows_error_text(GetLastError());
}

// The messages of a WinINet call that failed, or that was given up on with that error text.
std::string download_failed_message(const std::string& address, const std::string& error) {
    return fill_template("Could not download {}: {}", {address, error});
}
std::string download_stopped_message(const std::string& address, const std::string& error) {
    return fill_template("The download of {} stopped: {}", {address, error});
}
std::string start_failed_message(const std::string& error) {
    return fill_template("Could not start a download: {}", {error});
}

// One https address through WinINet. Every call, and the closing of both handles, happens on
// the transfer thread.
class InternetSource final : public BlockingSource {
  public:
    explicit InternetSource(std::string address) : address_(std::move(address)) {}

    Status open() override {
        const std::wstring agent = to_wide(fill_template("Vantile-Install/{}", {PROGRAM_VERSION}));
        root_.reset(
            InternetOpenW(agent.c_str(), INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
        if (!root_) return fail(start_failed_message(last_internet_error()));

        // Best effort: WinINet's defaults are used if an option is refused.
        for (const DWORD option :
             {DWORD{INTERNET_OPTION_CONNECT_TIMEOUT}, DWORD{INTERNET_OPTION_RECEIVE_TIMEOUT},
              DWORD{INTERNET_OPTION_SEND_TIMEOUT}}) {
            DWORD timeout = TRANSFER_TIMEOUT_MS;
            InternetSetOptionW(root_.get(), option, &timeout, sizeof timeout);
        }

        const std::wstring wide_address = to_wide(address_);
        request_.reset(
            InternetOpenUrlW(root_.get(), wide_address.c_str(), nullptr, 0, OPEN_URL_FLAGS, 0));
        if (!request_) return fail(download_failed_message(address_, last_internet_error()));

        DWORD status = 0;
        DWORD length = sizeof status;
        if (!HttpQueryInfoW(request_.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER,
                            &status, &length, nullptr)) {
            return fail(fill_template("{} sent no answer Vantile could read: {}.",
                                      {address_, last_internet_error()}));
        }
        if (status != HTTP_STATUS_OK) {
            return fail(fill_template("{} answered HTTP {}, not the file.",
                                      {address_, std::to_string(status)}));
        }
        return {};
    }

    Result<std::size_t> read(char* buffer, std::size_t capacity) override {
        DWORD read = 0;
        if (!InternetReadFile(request_.get(), buffer, static_cast<DWORD>(capacity), &read))
            return fail(download_stopped_message(address_, last_internet_error()));
        return std::size_t{read};
    }

  private:
    const std::string address_;
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
            return fail(fill_template("Could not write {}: {}", {path, last_os_error_text()}));
        }
        if (written == 0) {
            return fail(
                fill_template("Could not write {}: {}", {path, "failed to write whole buffer"}));
        }
        data += written;
        size -= written;
    }
    return {};
}

Result<TransferEnd> copy_local_file(const std::string& source_path, const ChunkConsumer& consumer) {
    UniqueFile source = open_for_reading(source_path);
    if (!source) {
        return fail(unreadable_file_message(source_path, last_os_error_text()));
    }
    const auto buffer = make_transfer_buffer();
    for (;;) {
        DWORD read = 0;
        if (!ReadFile(source.get(), buffer.get(), static_cast<DWORD>(TRANSFER_BUFFER_SIZE), &read,
                      nullptr)) {
            return fail(unreadable_file_message(source_path, last_os_error_text()));
        }
        if (read == 0) return TransferEnd::Complete;
        if (!consumer(buffer.get(), read)) return TransferEnd::Stopped;
    }
}

// A fetch that gave up at that stage ends like a WinINet call that failed there with that code.
std::string abandoned_fetch_message(const std::string& address, TransferStage stage,
                                    std::uint32_t code) {
    const std::string error = windows_error_text(code);
    switch (stage) {
        case TransferStage::Starting:
            return start_failed_message(error);
        case TransferStage::Opening:
            return download_failed_message(address, error);
        case TransferStage::Reading:
            break;
    }
    return download_stopped_message(address, error);
}

}  // namespace

Result<TransferEnd> fetch_address(const std::string& address, const ChunkConsumer& consumer,
                                  const TransferWait& wait) {
    const AbandonMessage abandon_message = [&address](TransferStage stage, std::uint32_t code) {
        return abandoned_fetch_message(address, stage, code);
    };
    return run_transfer_thread(std::make_unique<InternetSource>(address), TRANSFER_BUFFER_SIZE,
                               consumer, wait, abandon_message);
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

    Result<TransferEnd> transfer = is_address(source)
                                       ? fetch_address(source_text(source), consumer, wait)
                                       : copy_local_file(source_text(source), consumer);
    // A failed write is the real reason even when the transfer only reports that it stopped.
    if (write_error) return fail(*write_error);
    return transfer;
}

}  // namespace vantile
