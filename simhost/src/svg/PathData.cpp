#include "PathData.h"

#include <array>
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>

namespace simhost::svg {

namespace {

// What each byte can be in path data; a table, as every byte of every path
// of a large drawing passes here.
enum CharClass : std::uint8_t { kOther, kCommand, kDigit, kSpace };

constexpr std::array<CharClass, 256> makeClasses() {
    std::array<CharClass, 256> table{};
    for (const char c : std::string_view("MmZzLlHhVvCcSsQqTtAa")) table[static_cast<unsigned char>(c)] = kCommand;
    for (const char c : std::string_view("0123456789")) table[static_cast<unsigned char>(c)] = kDigit;
    for (const char c : std::string_view(" \t\n\r\f")) table[static_cast<unsigned char>(c)] = kSpace;
    return table;
}
constexpr std::array<CharClass, 256> kClasses = makeClasses();

CharClass classOf(char c) { return kClasses[static_cast<unsigned char>(c)]; }

int argumentCount(char command) {
    switch (command) {
        case 'M': case 'm': case 'L': case 'l': case 'T': case 't': return 2;
        case 'H': case 'h': case 'V': case 'v': return 1;
        case 'C': case 'c': return 6;
        case 'S': case 's': case 'Q': case 'q': return 4;
        case 'A': case 'a': return 7;
        default: return 0;
    }
}

// One subpath as found in the data.
struct Span {
    std::size_t begin = 0;       // its first command letter
    std::size_t afterStart = 0;  // past the moveto's first pair; `begin` when no moveto opened it
    std::size_t end = 0;         // where the next subpath begins or the drawn data ends
    bool closed = false;
    bool drawn = false;          // has a segment: a lone moveto is no subpath
    bool moveto = false;         // opened by a moveto
    bool relative = false;       // by a relative one
    double x = 0, y = 0;         // where it starts, when coordinates are wanted
};

// The path data grammar, read the way viewers read it. `kValues` also
// follows the current point, which only splitting needs; scanning a large
// drawing reads no number's value.
template <bool kValues, typename OnSpan, typename OnPoint>
std::size_t parse(std::string_view d, OnSpan&& onSpan, OnPoint&& onPoint) {
    const char* const begin = d.data();
    const char* const end = begin + d.size();
    const char* p = begin;
    std::size_t drawnEnd = 0;
    double cx = 0, cy = 0;
    Span span;
    bool open = false;
    auto skipSpaces = [&] {
        while (p < end && classOf(*p) == kSpace) ++p;
    };
    auto finish = [&](std::size_t at) {
        if (!open) return;
        span.end = at;
        if (span.drawn) onSpan(span, d);
        open = false;
    };
    auto number = [&](double& value) {
        const char* start = p;
        if (p < end && (*p == '+' || *p == '-')) ++p;
        const char* digits = p;
        while (p < end && classOf(*p) == kDigit) ++p;
        bool any = p > digits;
        if (p < end && *p == '.') {
            const char* fraction = ++p;
            while (p < end && classOf(*p) == kDigit) ++p;
            any = any || p > fraction;
        }
        if (!any) return false;
        if (p < end && (*p == 'e' || *p == 'E')) {
            const char* mark = p++;
            if (p < end && (*p == '+' || *p == '-')) ++p;
            const char* exponent = p;
            while (p < end && classOf(*p) == kDigit) ++p;
            if (p == exponent) p = mark;  // no exponent: the 'e' is an error of its own
        }
        if constexpr (kValues) {
            if (*start == '+') ++start;  // from_chars takes no plus sign
            std::from_chars(start, p, value);
        }
        return true;
    };
    // Optional whitespace with at most one comma in it.
    auto commaSpace = [&] {
        skipSpaces();
        if (p < end && *p == ',') {
            ++p;
            skipSpaces();
            return true;
        }
        return false;
    };

    skipSpaces();
    while (p < end) {
        const char command = *p;
        if (classOf(command) != kCommand) break;
        const std::size_t at = static_cast<std::size_t>(p - begin);
        ++p;
        if (command == 'Z' || command == 'z') {
            if (!open) break;  // data must begin with a moveto
            span.closed = span.drawn = true;
            cx = span.x;
            cy = span.y;
            drawnEnd = static_cast<std::size_t>(p - begin);
            skipSpaces();
            continue;  // a number or a comma after it is an error, found as no command
        }
        const bool moveto = command == 'M' || command == 'm';
        const bool relative = command >= 'a';
        if (!moveto && !open) break;  // data must begin with a moveto
        if (!moveto && span.closed) {
            // A drawing command right after a closepath starts a subpath
            // where the last one started.
            const double x = span.x, y = span.y;
            finish(at);
            span = Span{at, at, 0, false, false, false, false, x, y};
            open = true;
        }
        const int count = argumentCount(command);
        bool firstGroup = true;
        skipSpaces();
        for (;;) {
            double v[7] = {0, 0, 0, 0, 0, 0, 0};
            for (int k = 0; k < count; ++k) {
                if (k > 0) commaSpace();
                if ((command == 'A' || command == 'a') && (k == 3 || k == 4)) {
                    if (p >= end || (*p != '0' && *p != '1')) return finish(drawnEnd), drawnEnd;
                    v[k] = *p++ - '0';
                } else if (!number(v[k])) {
                    return finish(drawnEnd), drawnEnd;
                }
            }
            double x = cx, y = cy;
            switch (command) {
                case 'H': x = v[0]; break;
                case 'h': x += v[0]; break;
                case 'V': y = v[0]; break;
                case 'v': y += v[0]; break;
                default:
                    x = relative ? cx + v[count - 2] : v[count - 2];
                    y = relative ? cy + v[count - 1] : v[count - 1];
            }
            if constexpr (kValues) {
                // The segment's control points, whose hull holds the curve;
                // an arc may bulge out to its radius past its ends.
                const double ox = relative ? cx : 0, oy = relative ? cy : 0;
                if (command == 'C' || command == 'c' || command == 'S' || command == 's' || command == 'Q' ||
                    command == 'q')
                    for (int k = 0; k + 2 < count; k += 2) onPoint(ox + v[k], oy + v[k + 1]);
                if (command == 'A' || command == 'a') {
                    const double r = std::max(std::abs(v[0]), std::abs(v[1]));
                    onPoint((cx + x) / 2 - r, (cy + y) / 2 - r);
                    onPoint((cx + x) / 2 + r, (cy + y) / 2 + r);
                }
                onPoint(x, y);
            }
            cx = x;
            cy = y;
            if (moveto && firstGroup) {
                finish(at);
                span = Span{at, static_cast<std::size_t>(p - begin), 0, false, false, true, relative, x, y};
                open = true;
            } else {
                span.drawn = true;
                span.closed = false;
            }
            firstGroup = false;
            drawnEnd = static_cast<std::size_t>(p - begin);
            const bool comma = commaSpace();
            if (p >= end || classOf(*p) == kCommand) {
                if (comma) return finish(drawnEnd), drawnEnd;  // a comma before a command or the end
                break;
            }
        }
    }
    finish(p >= end ? d.size() : drawnEnd);
    return p >= end ? d.size() : drawnEnd;
}

std::string formatPoint(double x, double y) {
    char buffer[64];
    auto put = [&](char* at, double v) { return std::to_chars(at, buffer + sizeof buffer, v).ptr; };
    char* end = put(buffer, x);
    *end++ = ' ';
    end = put(end, y);
    return std::string(buffer, end);
}

}  // namespace

std::size_t scanSubpaths(std::string_view d, std::vector<bool>& closed) {
    closed.clear();
    return parse<false>(d, [&closed](const Span& span, std::string_view) { closed.push_back(span.closed); },
                        [](double, double) {});
}

std::string_view drawnPathData(std::string_view d) {
    return d.substr(0, parse<false>(d, [](const Span&, std::string_view) {}, [](double, double) {}));
}

std::vector<std::string> splitSubpaths(std::string_view d) {
    std::vector<std::string> subpaths;
    parse<true>(d, [&subpaths](const Span& span, std::string_view data) {
        std::string text = "M" + formatPoint(span.x, span.y);
        if (!span.moveto) {
            text += " ";
        } else if (span.afterStart < span.end) {
            // Further pairs of the moveto are linetos of the same kind.
            std::size_t next = span.afterStart;
            while (next < span.end && (classOf(data[next]) == kSpace || data[next] == ',')) ++next;
            if (next < span.end && classOf(data[next]) != kCommand) text += span.relative ? " l" : " L";
        }
        text.append(data.substr(span.afterStart, span.end - span.afterStart));
        subpaths.push_back(std::move(text));
    }, [](double, double) {});
    return subpaths;
}

void pathPoints(std::string_view d, const std::function<void(double, double)>& point) {
    parse<true>(d, [](const Span&, std::string_view) {}, point);
}

}  // namespace simhost::svg
