#include "platform/x_socket.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace quarvel::detail {
namespace {

// __SO_ACCEPTCON in /proc/net/unix's Flags column: a listening socket.
constexpr unsigned long kListening = 0x10000;

bool AllDigits(std::string_view s) {
    if (s.empty()) {
        return false;
    }
    for (const char c : s) {
        if (c < '0' || c > '9') {
            return false;
        }
    }
    return true;
}

}  // namespace

std::string XSocketPath(std::string_view name) {
    // [protocol/]host:display[.screen]
    const std::size_t colon = name.rfind(':');
    if (colon == std::string_view::npos) {
        return {};
    }
    std::string_view host = name.substr(0, colon);
    std::string_view display = name.substr(colon + 1);
    if (const std::size_t dot = display.find('.'); dot != std::string_view::npos) {
        display = display.substr(0, dot);
    }
    if (!AllDigits(display)) {
        return {};
    }
    if (!host.empty() && host.front() == '/') {
        return std::string(name.substr(0, colon));  // a socket path of its own
    }
    if (host.size() >= 5 && host.substr(host.size() - 5) == "/unix") {
        host = host.substr(0, host.size() - 5);
    } else if (host.substr(0, 5) == "unix/") {
        host = host.substr(5);
    }
    if (!host.empty() && host != "unix") {
        return {};  // TCP
    }
    return "/tmp/.X11-unix/X" + std::string(display);
}

bool SomeoneListensOn(const std::string& path) noexcept {
    std::FILE* table = std::fopen("/proc/net/unix", "re");
    if (table == nullptr) {
        return true;
    }
    bool listening = false;
    char line[4096];
    // Num RefCount Protocol Flags Type St Inode Path ("@" for abstract ones)
    while (!listening && std::fgets(line, sizeof line, table) != nullptr) {
        unsigned long flags = 0;
        int pathAt = -1;
        if (std::sscanf(line, "%*s %*s %*s %lx %*s %*s %*s %n", &flags, &pathAt) < 1 || pathAt < 0) {
            continue;
        }
        const char* found = line + pathAt;
        if (*found == '@') {
            ++found;
        }
        std::size_t length = std::strcspn(found, "\r\n");
        listening = (flags & kListening) != 0 && length == path.size() && std::memcmp(found, path.data(), length) == 0;
    }
    std::fclose(table);
    return listening;
}

}  // namespace quarvel::detail
