// Error codes as people read them. Most codes are four-character codes
// ('PARM', 'SUIT'); one whose four bytes are not all printable ASCII is read
// as its number. The command line, the server, the validator and the error
// dialog's expected text all use these two.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "HostTypes.h"

namespace simhost {

// The code's four characters, most significant byte first, when every byte
// is printable ASCII (0x20 to 0x7E); nothing otherwise (0, small numbers and
// negative ones among them).
inline std::optional<std::string> codeCharacters(ASErr code) {
    const auto bits = static_cast<std::uint32_t>(code);
    std::string chars;
    for (int shift = 24; shift >= 0; shift -= 8) {
        const auto c = static_cast<unsigned char>((bits >> shift) & 0xFF);
        if (c < 0x20 || c > 0x7E) return std::nullopt;
        chars += static_cast<char>(c);
    }
    return chars;
}

// The four characters when they are printable, else the decimal number.
inline std::string codeText(ASErr code) {
    std::optional<std::string> chars = codeCharacters(code);
    return chars ? *chars : std::to_string(code);
}

}  // namespace simhost
