#ifndef QUARVEL_SRC_PLATFORM_X_SOCKET_H
#define QUARVEL_SRC_PLATFORM_X_SOCKET_H

#include <string>
#include <string_view>

namespace quarvel::detail {

// The local socket an X display name connects through: ":N", "unix:N"
// and "/unix:N" name /tmp/.X11-unix/XN; a name whose host part is a path
// ("/path/to/socket:N") names that path. Empty for TCP displays
// ("host:N") and names that do not parse.
std::string XSocketPath(std::string_view displayName);

// Whether any process listens on `path` (as a file or abstract socket),
// from the kernel's table of Unix sockets (/proc/net/unix), without
// connecting: a connection would count as a client of the server and make
// one that resets when its last client leaves reset again. True when the
// table cannot be read (the caller then assumes a server may be there).
bool SomeoneListensOn(const std::string& path) noexcept;

}  // namespace quarvel::detail

#endif
