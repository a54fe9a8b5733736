#include "simhost/svg/SvgEdits.h"

#include <expat.h>

#include <algorithm>
#include <cctype>
#include <limits>
#include <memory>

#include "simhost/DocumentJson.h"

namespace simhost {

namespace {

constexpr const char* kOldSodipodiNamespace = "http://inkscape.sourceforge.net/DTD/sodipodi-0.dtd";

std::string_view localName(std::string_view qualified) {
    const std::size_t colon = qualified.rfind(':');
    return colon == std::string_view::npos ? qualified : qualified.substr(colon + 1);
}

bool isDefinition(std::string_view name) {
    static constexpr std::string_view kNames[] = {
        "defs",   "style",  "linearGradient", "radialGradient", "meshgradient", "meshGradient", "pattern",
        "clipPath", "mask", "marker",         "symbol",         "filter",       "font",         "font-face",
        "color-profile", "solidcolor", "hatch"};
    return std::find(std::begin(kNames), std::end(kNames), localName(name)) != std::end(kNames);
}

struct Scan {
    XML_Parser parser = nullptr;
    SvgElements* out = nullptr;
    std::vector<std::uint32_t> open;
};

void XMLCALL onStart(void* data, const XML_Char* name, const XML_Char** attrs) {
    Scan& scan = *static_cast<Scan*>(data);
    ElementSpan span;
    const XML_Index at = XML_GetCurrentByteIndex(scan.parser);
    span.start = static_cast<std::uint32_t>(at);
    span.tagEnd = static_cast<std::uint32_t>(at + XML_GetCurrentByteCount(scan.parser));
    span.definition = isDefinition(name);
    if (!scan.open.empty()) {
        span.parent = scan.open.back();
    } else {
        for (const XML_Char** a = attrs; *a != nullptr; a += 2) {
            const std::string_view attr = a[0];
            if (attr.rfind("xmlns:", 0) != 0) continue;
            if (std::string_view(a[1]) == kSodipodiNamespace || std::string_view(a[1]) == kOldSodipodiNamespace)
                scan.out->sodipodiPrefix = std::string(attr.substr(6));
        }
    }
    scan.open.push_back(static_cast<std::uint32_t>(scan.out->spans.size()));
    scan.out->spans.push_back(span);
}

void XMLCALL onEnd(void* data, const XML_Char*) {
    Scan& scan = *static_cast<Scan*>(data);
    ElementSpan& span = scan.out->spans[scan.open.back()];
    scan.open.pop_back();
    // An empty-element tag ends where it starts: its end has no bytes.
    const int count = XML_GetCurrentByteCount(scan.parser);
    span.end = count == 0 ? span.tagEnd : static_cast<std::uint32_t>(XML_GetCurrentByteIndex(scan.parser) + count);
}

// Offsets are all that is wanted: an encoding expat does not know is read
// byte for byte, which keeps every byte where it is.
int XMLCALL anyEncoding(void*, const XML_Char*, XML_Encoding* info) {
    for (int b = 0; b < 256; ++b) info->map[b] = b;
    info->data = nullptr;
    info->convert = nullptr;
    info->release = nullptr;
    return XML_STATUS_OK;
}

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && isSpace(text.front())) text.remove_prefix(1);
    while (!text.empty() && isSpace(text.back())) text.remove_suffix(1);
    return text;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

// One attribute of a start tag as written: [begin, end) from the white
// space before its name to its closing quote; the value between quotes.
struct RawAttribute {
    std::size_t begin = 0;
    std::size_t end = 0;
    std::string_view name;
    std::size_t valueBegin = 0;
    std::size_t valueEnd = 0;
};

std::vector<RawAttribute> attributesOf(std::string_view tag) {
    std::vector<RawAttribute> found;
    std::size_t i = 1;
    while (i < tag.size() && !isSpace(tag[i]) && tag[i] != '/' && tag[i] != '>') ++i;
    for (;;) {
        RawAttribute a;
        a.begin = i;
        while (i < tag.size() && isSpace(tag[i])) ++i;
        if (i >= tag.size() || tag[i] == '/' || tag[i] == '>') break;
        const std::size_t nameBegin = i;
        while (i < tag.size() && !isSpace(tag[i]) && tag[i] != '=') ++i;
        a.name = tag.substr(nameBegin, i - nameBegin);
        while (i < tag.size() && tag[i] != '"' && tag[i] != '\'') ++i;
        if (i >= tag.size()) break;
        const char quote = tag[i++];
        a.valueBegin = i;
        while (i < tag.size() && tag[i] != quote) ++i;
        a.valueEnd = i;
        a.end = ++i;
        found.push_back(a);
    }
    return found;
}

// Where new attributes go: after the last one (or the name), before any
// white space and the tag's end.
std::size_t insertionPoint(std::string_view tag, const std::vector<RawAttribute>& attributes) {
    if (!attributes.empty()) return attributes.back().end;
    std::size_t i = 1;
    while (i < tag.size() && !isSpace(tag[i]) && tag[i] != '/' && tag[i] != '>') ++i;
    return i;
}

// The declarations of a style attribute's value as written, split at the
// semicolons that end them (not those ending an entity reference).
std::vector<std::string_view> declarations(std::string_view value) {
    std::vector<std::string_view> parts;
    std::size_t from = 0;
    bool inEntity = false;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '&') inEntity = true;
        else if (value[i] == ';' && inEntity) inEntity = false;
        else if (value[i] == ';') {
            parts.push_back(value.substr(from, i - from));
            from = i + 1;
        }
    }
    parts.push_back(value.substr(from));
    return parts;
}

// The display declaration's value, or empty for another declaration.
std::string_view displayValue(std::string_view declaration) {
    const std::size_t colon = declaration.find(':');
    if (colon == std::string_view::npos || !equalsIgnoringCase(trimmed(declaration.substr(0, colon)), "display"))
        return {};
    std::string_view value = trimmed(declaration.substr(colon + 1));
    if (const std::size_t bang = value.find('!'); bang != std::string_view::npos) value = trimmed(value.substr(0, bang));
    return value.empty() ? std::string_view("?") : value;
}

bool isTrue(std::string_view value) {
    value = trimmed(value);
    return !value.empty() && !equalsIgnoringCase(value, "false") && value != "0";
}

bool isLockAttribute(std::string_view name, const std::string& prefix) {
    return !prefix.empty() && name.size() == prefix.size() + 12 && name.substr(0, prefix.size()) == prefix &&
           name.substr(prefix.size()) == ":insensitive";
}

// The style value with its display declarations gone and `display` (when
// not empty) in the first one's place, or at the end.
std::string styleWith(std::string_view value, std::string_view display) {
    std::vector<std::string_view> parts = declarations(value);
    std::string out;
    bool placed = false;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        std::string piece(parts[i]);
        if (!displayValue(parts[i]).empty()) {
            if (placed || display.empty()) continue;
            const std::size_t lead = parts[i].find_first_not_of(" \t\r\n");
            piece = std::string(parts[i].substr(0, lead)) + "display:" + std::string(display);
            placed = true;
        }
        if (trimmed(piece).empty() && i + 1 == parts.size() && !out.empty()) {
            out += ';';  // the value ended with a semicolon: keep it
            continue;
        }
        if (trimmed(piece).empty()) continue;
        if (!out.empty()) out += ';';
        out += piece;
    }
    if (!placed && !display.empty()) {
        if (!trimmed(out).empty() && out.back() != ';') out += ';';
        out += "display:" + std::string(display);
    }
    return trimmed(out) == ";" ? std::string() : out;
}

}  // namespace

SvgElements SvgElements::scan(std::string_view text, const std::string& origin) {
    if (text.size() >= std::numeric_limits<std::uint32_t>::max())
        throw DocumentError(origin + ": too large to edit");
    const bool utf16 = text.size() >= 2 && (text[0] == '\0' || text[1] == '\0' ||
                                            static_cast<unsigned char>(text[0]) == 0xFE ||
                                            static_cast<unsigned char>(text[0]) == 0xFF);
    if (utf16) throw DocumentError(origin + ": a UTF-16 drawing cannot be edited");
    SvgElements elements;
    Scan scan;
    scan.out = &elements;
    scan.parser = XML_ParserCreate(nullptr);
    if (scan.parser == nullptr) throw std::bad_alloc();
    std::unique_ptr<XML_ParserStruct, void (*)(XML_Parser)> guard(scan.parser, XML_ParserFree);
    XML_SetUserData(scan.parser, &scan);
    XML_SetElementHandler(scan.parser, onStart, onEnd);
    XML_SetUnknownEncodingHandler(scan.parser, anyEncoding, nullptr);
    constexpr std::size_t kChunk = std::size_t(1) << 30;
    for (std::size_t at = 0;;) {
        const std::size_t n = std::min(kChunk, text.size() - at);
        const bool last = at + n == text.size();
        if (XML_Parse(scan.parser, text.data() + at, static_cast<int>(n), last) != XML_STATUS_OK)
            throw DocumentError(origin + ": malformed XML: " + XML_ErrorString(XML_GetErrorCode(scan.parser)));
        at += n;
        if (last) break;
    }
    return elements;
}

TagForms formsOf(std::string_view startTag, const std::string& sodipodiPrefix) {
    TagForms forms;
    for (const RawAttribute& a : attributesOf(startTag)) {
        const std::string_view value = startTag.substr(a.valueBegin, a.valueEnd - a.valueBegin);
        if (a.name == "style") {
            // The last display declaration is the one that holds.
            for (const std::string_view declaration : declarations(value)) {
                const std::string_view display = displayValue(declaration);
                if (display.empty()) continue;
                forms.hidden = equalsIgnoringCase(display, "none");
                forms.shown = equalsIgnoringCase(display, "inline");
            }
        } else if (isLockAttribute(a.name, sodipodiPrefix)) {
            forms.locked = isTrue(value);
        }
    }
    return forms;
}

std::string withForms(std::string_view startTag, const TagForms& forms, const std::string& sodipodiPrefix) {
    const TagForms now = formsOf(startTag, sodipodiPrefix);
    const std::vector<RawAttribute> attributes = attributesOf(startTag);
    std::vector<Splice> changes;
    if (now.hidden != forms.hidden || now.shown != forms.shown) {
        const std::string_view display = forms.hidden ? "none" : forms.shown ? "inline" : "";
        const auto style = std::find_if(attributes.begin(), attributes.end(),
                                        [](const RawAttribute& a) { return a.name == "style"; });
        if (style == attributes.end()) {
            const auto at = static_cast<std::uint32_t>(insertionPoint(startTag, attributes));
            changes.push_back({at, at, " style=\"display:" + std::string(display) + "\""});
        } else {
            const std::string value =
                styleWith(startTag.substr(style->valueBegin, style->valueEnd - style->valueBegin), display);
            if (trimmed(value).empty())
                changes.push_back({static_cast<std::uint32_t>(style->begin), static_cast<std::uint32_t>(style->end), {}});
            else
                changes.push_back({static_cast<std::uint32_t>(style->valueBegin),
                                   static_cast<std::uint32_t>(style->valueEnd), value});
        }
    }
    if (now.locked != forms.locked) {
        for (const RawAttribute& a : attributes) {
            if (!isLockAttribute(a.name, sodipodiPrefix)) continue;
            // Unlocking removes the attribute; locking rewrites a false one.
            if (forms.locked)
                changes.push_back({static_cast<std::uint32_t>(a.valueBegin), static_cast<std::uint32_t>(a.valueEnd), "true"});
            else
                changes.push_back({static_cast<std::uint32_t>(a.begin), static_cast<std::uint32_t>(a.end), {}});
        }
        if (forms.locked && changes.end() == std::find_if(changes.begin(), changes.end(),
                                                          [](const Splice& s) { return s.text == "true"; })) {
            const auto at = static_cast<std::uint32_t>(insertionPoint(startTag, attributes));
            changes.push_back({at, at, " " + sodipodiPrefix + ":insensitive=\"true\""});
        }
    }
    return spliced(startTag, std::move(changes));
}

void cutElement(std::string_view text, const SvgElements& elements, std::uint32_t ordinal, std::vector<Splice>& out) {
    const ElementSpan& span = elements.spans[ordinal];
    // Its line too, when it stood alone on it: no blank line is left.
    std::uint32_t begin = span.start, end = span.end;
    std::uint32_t lineStart = begin;
    while (lineStart > 0 && (text[lineStart - 1] == ' ' || text[lineStart - 1] == '\t')) --lineStart;
    std::uint32_t lineEnd = end;
    while (lineEnd < text.size() && (text[lineEnd] == ' ' || text[lineEnd] == '\t')) ++lineEnd;
    if (lineStart > 0 && text[lineStart - 1] == '\n' && lineEnd < text.size() &&
        (text[lineEnd] == '\n' || text[lineEnd] == '\r')) {
        begin = lineStart;
        end = lineEnd + (text[lineEnd] == '\r' && lineEnd + 1 < text.size() && text[lineEnd + 1] == '\n' ? 2 : 1);
    }
    // Descendants follow their element in ordinal order, up to its end.
    std::uint32_t from = begin;
    for (std::size_t j = ordinal + 1; j < elements.spans.size() && elements.spans[j].start < span.end;) {
        const ElementSpan& inner = elements.spans[j];
        if (!inner.definition) {
            ++j;
            continue;
        }
        out.push_back({from, inner.start, {}});
        from = inner.end;
        while (j < elements.spans.size() && elements.spans[j].start < inner.end) ++j;
    }
    out.push_back({from, end, {}});
}

std::string spliced(std::string_view text, std::vector<Splice> splices) {
    std::sort(splices.begin(), splices.end(), [](const Splice& a, const Splice& b) {
        return a.begin != b.begin ? a.begin < b.begin : a.end > b.end;
    });
    std::string out;
    out.reserve(text.size());
    std::size_t at = 0;
    for (const Splice& s : splices) {
        if (s.begin < at) continue;  // inside a larger cut: gone with it
        out.append(text.substr(at, s.begin - at));
        out += s.text;
        at = s.end;
    }
    out.append(text.substr(at));
    return out;
}

std::string withSodipodiDeclared(std::string_view rootTag) {
    const std::vector<RawAttribute> attributes = attributesOf(rootTag);
    const auto at = static_cast<std::uint32_t>(insertionPoint(rootTag, attributes));
    return spliced(rootTag, {{at, at, std::string(" xmlns:sodipodi=\"") + kSodipodiNamespace + "\""}});
}

}  // namespace simhost
