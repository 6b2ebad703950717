#include "platform/bounded_file.h"

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quarvel::detail {
namespace {

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) noexcept : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const noexcept { return fd_; }

private:
    int fd_;
};

}  // namespace

std::optional<std::string> ReadBoundedRegularFile(const char* path, std::size_t maxBytes) {
    if (path == nullptr || *path == '\0') {
        return std::nullopt;
    }
    // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a
    // writer. The file type is checked on the open descriptor, so nothing
    // can swap the file between the check and the read.
    FileDescriptor fd(::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (fd.get() < 0) {
        return std::nullopt;
    }
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_size < 0 ||
        static_cast<unsigned long long>(info.st_size) > maxBytes) {
        return std::nullopt;
    }
    // Read one byte more than fstat reported: a file that grows while it is
    // read is refused rather than silently cut.
    const auto expected = static_cast<std::size_t>(info.st_size);
    std::string bytes(expected + 1, '\0');
    std::size_t used = 0;
    while (used < bytes.size()) {
        const ssize_t got = ::read(fd.get(), bytes.data() + used, bytes.size() - used);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return std::nullopt;
        }
        if (got == 0) {
            break;
        }
        used += static_cast<std::size_t>(got);
    }
    if (used > expected) {
        return std::nullopt;
    }
    bytes.resize(used);
    return bytes;
}

}  // namespace quarvel::detail
