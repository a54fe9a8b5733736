#include "PathData.h"

#include <array>
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <type_traits>

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
// follows the current point, which only splitting and bounds need; scanning
// a large drawing reads no number's value.
template <bool kValues, typename OnSpan, typename OnPoint>
class Parser {
public:
    Parser(std::string_view d, OnSpan& onSpan, OnPoint& onPoint)
        : d_(d), begin_(d.data()), end_(d.data() + d.size()), p_(begin_), onSpan_(onSpan), onPoint_(onPoint) {}

    // Reads the data; returns how many bytes of it are drawn.
    std::size_t run() {
        skipSpaces();
        while (p_ < end_ && classOf(*p_) == kCommand) {
            const char command = *p_;
            const std::size_t at = offset();
            ++p_;
            if (!command_(command, at)) return finish(drawnEnd_), drawnEnd_;
        }
        const std::size_t drawn = p_ >= end_ ? d_.size() : drawnEnd_;
        finish(drawn);
        return drawn;
    }

private:
    std::size_t offset() const { return static_cast<std::size_t>(p_ - begin_); }

    void skipSpaces() {
        while (p_ < end_ && classOf(*p_) == kSpace) ++p_;
    }

    // Optional whitespace with at most one comma in it.
    bool commaSpace() {
        skipSpaces();
        if (p_ >= end_ || *p_ != ',') return false;
        ++p_;
        skipSpaces();
        return true;
    }

    void finish(std::size_t at) {
        if (!open_) return;
        span_.end = at;
        if (span_.drawn) onSpan_(span_, d_);
        open_ = false;
    }

    bool number(double& value) {
        const char* start = p_;
        if (p_ < end_ && (*p_ == '+' || *p_ == '-')) ++p_;
        const char* digits = p_;
        while (p_ < end_ && classOf(*p_) == kDigit) ++p_;
        bool any = p_ > digits;
        if (p_ < end_ && *p_ == '.') {
            const char* fraction = ++p_;
            while (p_ < end_ && classOf(*p_) == kDigit) ++p_;
            any = any || p_ > fraction;
        }
        if (!any) return false;
        if (p_ < end_ && (*p_ == 'e' || *p_ == 'E')) {
            const char* mark = p_++;
            if (p_ < end_ && (*p_ == '+' || *p_ == '-')) ++p_;
            const char* exponent = p_;
            while (p_ < end_ && classOf(*p_) == kDigit) ++p_;
            if (p_ == exponent) p_ = mark;  // no exponent: the 'e' is an error of its own
        }
        if constexpr (kValues) {
            if (*start == '+') ++start;  // from_chars takes no plus sign
            std::from_chars(start, p_, value);
        }
        return true;
    }

    // One command with all its argument groups; false at an error.
    bool command_(char command, std::size_t at) {
        if (command == 'Z' || command == 'z') {
            if (!open_) return false;  // data must begin with a moveto
            span_.closed = span_.drawn = true;
            cx_ = span_.x;
            cy_ = span_.y;
            drawnEnd_ = offset();
            skipSpaces();
            return true;  // a number or a comma after it is an error, found as no command
        }
        const bool moveto = command == 'M' || command == 'm';
        if (!moveto && !open_) return false;  // data must begin with a moveto
        if (!moveto && span_.closed) {
            // A drawing command right after a closepath starts a subpath
            // where the last one started.
            const double x = span_.x, y = span_.y;
            finish(at);
            span_ = Span{at, at, 0, false, false, false, false, x, y};
            open_ = true;
        }
        skipSpaces();
        for (bool first = true;; first = false) {
            double v[7] = {0, 0, 0, 0, 0, 0, 0};
            if (!arguments(command, v)) return false;
            segment(command, v, moveto && first, at);
            drawnEnd_ = offset();
            const bool comma = commaSpace();
            if (p_ >= end_ || classOf(*p_) == kCommand) return !comma;  // no comma before a command or the end
        }
    }

    bool arguments(char command, double* v) {
        const int count = argumentCount(command);
        for (int k = 0; k < count; ++k) {
            if (k > 0) commaSpace();
            if ((command == 'A' || command == 'a') && (k == 3 || k == 4)) {
                if (p_ >= end_ || (*p_ != '0' && *p_ != '1')) return false;
                v[k] = *p_++ - '0';
            } else if (!number(v[k])) {
                return false;
            }
        }
        return true;
    }

    // A complete argument group: the current point moves, a subpath opens.
    void segment(char command, const double* v, bool opensSubpath, std::size_t at) {
        const bool relative = command >= 'a';
        const int count = argumentCount(command);
        double x = cx_, y = cy_;
        switch (command) {
            case 'H': x = v[0]; break;
            case 'h': x += v[0]; break;
            case 'V': y = v[0]; break;
            case 'v': y += v[0]; break;
            default:
                x = relative ? cx_ + v[count - 2] : v[count - 2];
                y = relative ? cy_ + v[count - 1] : v[count - 1];
        }
        if constexpr (kValues) bounds(command, v, x, y);
        cx_ = x;
        cy_ = y;
        if (opensSubpath) {
            finish(at);
            span_ = Span{at, offset(), 0, false, false, true, relative, x, y};
            open_ = true;
        } else {
            span_.drawn = true;
            span_.closed = false;
        }
    }

    // The segment's control points, whose hull holds the curve; an arc may
    // bulge out to its radius past its ends.
    void bounds(char command, const double* v, double x, double y) {
        const bool relative = command >= 'a';
        const int count = argumentCount(command);
        const double ox = relative ? cx_ : 0, oy = relative ? cy_ : 0;
        if (command == 'C' || command == 'c' || command == 'S' || command == 's' || command == 'Q' || command == 'q')
            for (int k = 0; k + 2 < count; k += 2) onPoint_(ox + v[k], oy + v[k + 1]);
        if (command == 'A' || command == 'a') {
            const double r = std::max(std::abs(v[0]), std::abs(v[1]));
            onPoint_((cx_ + x) / 2 - r, (cy_ + y) / 2 - r);
            onPoint_((cx_ + x) / 2 + r, (cy_ + y) / 2 + r);
        }
        onPoint_(x, y);
    }

    std::string_view d_;
    const char* const begin_;
    const char* const end_;
    const char* p_;
    OnSpan& onSpan_;
    OnPoint& onPoint_;
    std::size_t drawnEnd_ = 0;
    double cx_ = 0, cy_ = 0;
    Span span_;
    bool open_ = false;
};

template <bool kValues, typename OnSpan, typename OnPoint>
std::size_t parse(std::string_view d, OnSpan&& onSpan, OnPoint&& onPoint) {
    return Parser<kValues, std::remove_reference_t<OnSpan>, std::remove_reference_t<OnPoint>>(d, onSpan, onPoint).run();
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
