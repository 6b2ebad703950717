#ifndef QUARVEL_SRC_PLATFORM_BOUNDED_FILE_H
#define QUARVEL_SRC_PLATFORM_BOUNDED_FILE_H

#include <cstddef>
#include <optional>
#include <string>

namespace quarvel::detail {

// Reads a whole regular file of at most maxBytes bytes. Anything else (a
// null or empty path, a missing or unreadable file, a directory, a FIFO, a
// device such as /dev/zero, a larger file) gives nullopt without blocking.
std::optional<std::string> ReadBoundedRegularFile(const char* path, std::size_t maxBytes);

}  // namespace quarvel::detail

#endif
