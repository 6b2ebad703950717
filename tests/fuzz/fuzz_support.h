#ifndef QUARVEL_TESTS_FUZZ_FUZZ_SUPPORT_H
#define QUARVEL_TESTS_FUZZ_FUZZ_SUPPORT_H

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// FNV-1a over the whole input: chooses which inputs take a target's costly
// path, evenly over every input the fuzzer tries.
inline std::uint32_t InputHash(const std::uint8_t* data, std::size_t size) {
    std::uint32_t h = 2166136261u;
    for (std::size_t i = 0; i < size; ++i) {
        h = (h ^ data[i]) * 16777619u;
    }
    return h;
}

// Bytes as a regular file that lives in memory (memfd), reachable by path
// through /proc/self/fd, so that every fuzz input goes through the real
// file-reading path without touching the disk.
class MemoryFile {
public:
    explicit MemoryFile(std::string_view bytes) : fd_(memfd_create("quarvel-fuzz", MFD_CLOEXEC)) {
        if (fd_ < 0) {
            return;
        }
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = write(fd_, bytes.data() + done, bytes.size() - done);
            if (n <= 0) {
                break;
            }
            done += static_cast<std::size_t>(n);
        }
        path_ = "/proc/self/fd/" + std::to_string(fd_);
    }
    ~MemoryFile() {
        if (fd_ >= 0) {
            close(fd_);
        }
    }
    MemoryFile(const MemoryFile&) = delete;
    MemoryFile& operator=(const MemoryFile&) = delete;
    const char* path() const { return path_.c_str(); }

private:
    int fd_;
    std::string path_;
};

#endif
