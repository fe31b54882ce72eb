#pragma once
// A test double for a network share that hangs: a named pipe whose path opens like a file and
// whose reads block until the test writes to it or lets it go.
#include <windows.h>

#include <atomic>
#include <string>
#include <thread>

#include "windows/unique_handle.h"
#include "windows/wide_text.h"

namespace vantile {

class BlockingPipe {
  public:
    BlockingPipe() {
        static std::atomic<int> made{0};
        path_ = "\\\\.\\pipe\\vantile-test-" + std::to_string(GetCurrentProcessId()) + "-" +
                std::to_string(made++);
        server_.reset(CreateNamedPipeW(to_wide(path_).c_str(), PIPE_ACCESS_OUTBOUND,
                                       PIPE_TYPE_BYTE | PIPE_WAIT, 1, 65536, 0, 0, nullptr));
    }
    ~BlockingPipe() { let_go(); }
    BlockingPipe(const BlockingPipe&) = delete;
    BlockingPipe& operator=(const BlockingPipe&) = delete;

    bool ready() const { return static_cast<bool>(server_); }
    const std::string& path() const { return path_; }

    // Hands bytes to the reader as soon as it has opened the pipe, on a thread of its own; then
    // the pipe hangs again.
    void write_when_opened(std::string bytes) {
        writer_ = std::thread([this, bytes = std::move(bytes)] {
            if (!ConnectNamedPipe(server_.get(), nullptr) && GetLastError() != ERROR_PIPE_CONNECTED)
                return;
            DWORD written = 0;
            wrote_ = WriteFile(server_.get(), bytes.data(), static_cast<DWORD>(bytes.size()),
                               &written, nullptr) &&
                     written == bytes.size();
        });
    }
    bool wrote() const { return wrote_; }

    // Closes the pipe: a read still waiting fails (the pipe is broken) and so ends.
    void let_go() {
        if (writer_.joinable()) writer_.join();
        server_.reset();
    }

  private:
    std::string path_;
    UniqueHandle server_;
    std::thread writer_;
    std::atomic<bool> wrote_{false};
};

}  // namespace vantile
