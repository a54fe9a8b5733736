#include "stringUtils.h"

#include <cstring>

unsigned char* SUctopstr(char* buffer) {
    if (buffer == nullptr) return nullptr;
    // strnlen, not strlen: a buffer without a zero in its first 256 bytes is
    // too long anyway and must not be read past.
    const std::size_t n = strnlen(buffer, 256);
    if (n > 255) return nullptr;
    if (n > 0) std::memmove(buffer + 1, buffer, n);
    auto* pascal = reinterpret_cast<unsigned char*>(buffer);
    pascal[0] = static_cast<unsigned char>(n);
    return pascal;
}

char* SUptocstr(unsigned char* buffer) {
    if (buffer == nullptr) return nullptr;
    const std::size_t n = buffer[0];
    if (n > 0) std::memmove(buffer, buffer + 1, n);
    buffer[n] = 0;
    return reinterpret_cast<char*>(buffer);
}
