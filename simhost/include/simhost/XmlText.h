// Text written into XML the host makes (outlines, reports): one escape for
// attribute values and character data alike.
#pragma once

#include <string>
#include <string_view>

namespace simhost {

// `text` with the five markup characters as entities and the control
// characters XML 1.0 cannot hold (all below U+0020 but tab, line feed and
// carriage return) as spaces, so that any string makes well-formed XML.
inline std::string xmlEscaped(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            case '\'': out += "&apos;"; break;
            case '\t': case '\n': case '\r': out += c; break;
            default: out += static_cast<unsigned char>(c) < 0x20 ? ' ' : c;
        }
    }
    return out;
}

}  // namespace simhost
