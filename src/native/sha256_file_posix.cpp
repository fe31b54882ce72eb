#include "flow/sha256.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace vantile {
namespace {

class OpenFile {
  public:
    explicit OpenFile(int descriptor) : descriptor_(descriptor) {}
    OpenFile(const OpenFile&) = delete;
    OpenFile& operator=(const OpenFile&) = delete;
    ~OpenFile() {
        if (descriptor_ >= 0) close(descriptor_);
    }
    int get() const { return descriptor_; }

  private:
    int descriptor_;
};

}  // namespace

Result<FileDigest> sha256_of_file(const std::string& path) {
    OpenFile file(open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (file.get() < 0) return fail(unreadable_file_message(path, errno_text(errno)));

    Result<std::unique_ptr<Sha256>> started = start_sha256();
    if (!started) return fail(unreadable_file_message(path, started.error()));

    return sha256_of_stream(path, *started.value(),
                            [&](std::uint8_t* buffer, std::size_t capacity) -> Result<std::size_t> {
                                for (;;) {
                                    ssize_t got = read(file.get(), buffer, capacity);
                                    if (got >= 0) return static_cast<std::size_t>(got);
                                    if (errno != EINTR) return fail(errno_text(errno));
                                }
                            });
}

}  // namespace vantile
