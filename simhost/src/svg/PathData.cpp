#include "PathData.h"

#include <array>
#include <charconv>
#include <cstdint>

namespace simhost::svg {

namespace {

// What each byte can be in path data; a table, as every byte of every path
// of a large drawing passes here.
enum CharClass : std::uint8_t { kInvalid, kCommand, kNumber, kSeparator };

constexpr std::array<CharClass, 256> makeClasses() {
    std::array<CharClass, 256> table{};
    for (const char c : std::string_view("MmZzLlHhVvCcSsQqTtAa")) table[static_cast<unsigned char>(c)] = kCommand;
    for (const char c : std::string_view("0123456789.-+eE")) table[static_cast<unsigned char>(c)] = kNumber;
    for (const char c : std::string_view(" \t\n\r\f,")) table[static_cast<unsigned char>(c)] = kSeparator;
    return table;
}
constexpr std::array<CharClass, 256> kClasses = makeClasses();

CharClass classOf(char c) { return kClasses[static_cast<unsigned char>(c)]; }
bool isCommand(char c) { return classOf(c) == kCommand; }
bool isSeparator(char c) { return classOf(c) == kSeparator; }

// Reads the numbers of path data one at a time.
class Reader {
public:
    explicit Reader(std::string_view d) : d_(d) {}

    void skipSeparators() {
        while (i_ < d_.size() && isSeparator(d_[i_])) ++i_;
    }
    bool atEnd() {
        skipSeparators();
        return i_ >= d_.size();
    }
    char peek() {
        skipSeparators();
        return i_ < d_.size() ? d_[i_] : 0;
    }
    std::size_t position() const { return i_; }
    void advance() { ++i_; }

    bool number(double& value) {
        skipSeparators();
        std::size_t start = i_;
        if (start < d_.size() && d_[start] == '+') ++start;  // from_chars takes no plus sign
        const auto [end, ec] = std::from_chars(d_.data() + start, d_.data() + d_.size(), value);
        if (ec != std::errc()) return false;
        i_ = static_cast<std::size_t>(end - d_.data());
        return true;
    }
    // An arc flag: one digit, 0 or 1, which may run into what follows.
    bool flag() {
        skipSeparators();
        if (i_ >= d_.size() || (d_[i_] != '0' && d_[i_] != '1')) return false;
        ++i_;
        return true;
    }

private:
    std::string_view d_;
    std::size_t i_ = 0;
};

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

std::string formatPoint(double x, double y) {
    char buffer[64];
    auto put = [&](char* at, double v) { return std::to_chars(at, buffer + sizeof buffer, v).ptr; };
    char* end = put(buffer, x);
    *end++ = ' ';
    end = put(end, y);
    return std::string(buffer, end);
}

// Does a moveto's argument text hold more than one coordinate pair, that
// is, implicit linetos? Counts where numbers start: "1-2" and "1.5.5" are
// two numbers each, "1e-5" is one.
bool hasImplicitLineto(std::string_view args) {
    int count = 0;
    bool inNumber = false, seenDot = false, seenExponent = false;
    char previous = 0;
    for (const char c : args) {
        const CharClass kind = classOf(c);
        if (kind == kCommand || kind == kInvalid) break;
        if (kind == kSeparator) {
            inNumber = false;
            previous = c;
            continue;
        }
        if (c == 'e' || c == 'E') {
            seenExponent = inNumber;
            previous = c;
            continue;
        }
        const bool sign = c == '+' || c == '-';
        const bool starts = !inNumber || (sign && previous != 'e' && previous != 'E') ||
                            (c == '.' && (seenDot || seenExponent));
        if (starts) {
            if (++count > 2) return true;
            inNumber = true;
            seenDot = c == '.';
            seenExponent = false;
        } else if (c == '.') {
            seenDot = true;
        }
        previous = c;
    }
    return false;
}

}  // namespace

void scanSubpaths(std::string_view d, std::vector<bool>& closed) {
    closed.clear();
    bool inSubpath = false;
    bool drawn = false;  // the subpath has a segment: a lone moveto draws nothing
    bool lastWasClose = false;
    auto finish = [&] {
        if (inSubpath && drawn) closed.push_back(lastWasClose);
    };
    for (std::size_t i = 0; i < d.size(); ++i) {
        const char c = d[i];
        const CharClass kind = classOf(c);
        if (kind != kCommand) {
            if (kind != kInvalid) continue;
            break;  // not path data: a viewer draws up to here
        }
        if (c == 'Z' || c == 'z') {
            if (!inSubpath) break;  // data must begin with a moveto
            drawn = true;
            lastWasClose = true;
            continue;
        }
        const bool moveto = c == 'M' || c == 'm';
        if (!inSubpath && !moveto) break;
        if (moveto || lastWasClose) finish();
        inSubpath = true;
        lastWasClose = false;
        drawn = !moveto || hasImplicitLineto(d.substr(i + 1));
    }
    finish();
}

std::vector<std::string> splitSubpaths(std::string_view d) {
    std::vector<std::string> subpaths;
    Reader reader(d);
    double x = 0, y = 0, startX = 0, startY = 0;
    bool lastWasClose = false;
    std::string* current = nullptr;
    bool drawn = false;        // as in scanSubpaths: a lone moveto is no subpath
    std::size_t copyFrom = 0;  // where the current subpath's text resumes in d
    auto finish = [&](std::size_t end) {
        if (current != nullptr && end > copyFrom) current->append(d.substr(copyFrom, end - copyFrom));
        if (current != nullptr && !drawn) subpaths.pop_back();
        current = nullptr;
    };
    while (!reader.atEnd()) {
        const std::size_t at = reader.position();
        const char command = reader.peek();
        if (!isCommand(command)) break;
        reader.advance();
        const bool relative = command >= 'a';
        if (command == 'Z' || command == 'z') {
            if (current == nullptr) break;
            x = startX;
            y = startY;
            lastWasClose = true;
            drawn = true;
            continue;
        }
        const bool moveto = command == 'M' || command == 'm';
        if (current == nullptr && !moveto && subpaths.empty()) break;
        if (moveto || lastWasClose || current == nullptr) {
            finish(at);
            subpaths.emplace_back();
            current = &subpaths.back();
            copyFrom = at;
            drawn = false;
        }
        if (!moveto) drawn = true;
        lastWasClose = false;
        const int count = argumentCount(command);
        bool first = true;
        do {
            double v[7] = {0, 0, 0, 0, 0, 0, 0};
            for (int k = 0; k < count; ++k) {
                const bool ok = (command == 'A' || command == 'a') && (k == 3 || k == 4) ? reader.flag()
                                                                                        : reader.number(v[k]);
                if (!ok) {
                    finish(at);
                    return subpaths;
                }
            }
            switch (command) {
                case 'H': x = v[0]; break;
                case 'h': x += v[0]; break;
                case 'V': y = v[0]; break;
                case 'v': y += v[0]; break;
                default:
                    x = relative ? x + v[count - 2] : v[count - 2];
                    y = relative ? y + v[count - 1] : v[count - 1];
            }
            if (moveto && first) {
                // The subpath opens with an absolute moveto to its start;
                // further pairs of the moveto are linetos of the same kind.
                startX = x;
                startY = y;
                *current = "M" + formatPoint(x, y);
                copyFrom = reader.position();
                reader.skipSeparators();
                if (!reader.atEnd() && !isCommand(reader.peek())) {
                    *current += relative ? " l" : " L";
                    drawn = true;
                }
            } else if (first && current->empty()) {
                // A drawing command right after a closepath starts a subpath
                // where the last one started.
                *current = "M" + formatPoint(startX, startY) + " ";
            }
            first = false;
        } while (!reader.atEnd() && !isCommand(reader.peek()));
    }
    finish(d.size());
    return subpaths;
}

}  // namespace simhost::svg
