// Writing all of a buffer to a descriptor (a pipe, a terminal, standard
// output), going on after a signal interrupts the write.
#pragma once

#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <string>

namespace simhost_app {

// False when the descriptor refuses (a closed pipe, a full disk); errno says why.
inline bool writeAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

inline bool writeAll(int fd, const std::string& text) {
    return writeAll(fd, text.data(), text.size());
}

}  // namespace simhost_app
