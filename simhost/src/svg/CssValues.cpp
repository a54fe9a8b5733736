// Which values fill, stroke, stroke-dasharray, display and visibility can
// take, as a browser parses them.
#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>

#include "Css.h"

namespace simhost::svg {

namespace {

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

bool isOneOf(std::string_view value, std::initializer_list<std::string_view> words) {
    return std::any_of(words.begin(), words.end(), [&](std::string_view w) { return equalsIgnoringCase(value, w); });
}

// Sorted, lower case: the CSS colour keywords and the system colours.
constexpr std::array<std::string_view, 187> kColorNames = {
    "activeborder", "activecaption", "aliceblue", "antiquewhite", "appworkspace", "aqua", "aquamarine", "azure",
    "background", "beige", "bisque", "black", "blanchedalmond", "blue", "blueviolet", "brown", "burlywood",
    "buttonborder", "buttonface", "buttonhighlight", "buttonshadow", "buttontext", "cadetblue", "canvas",
    "canvastext", "captiontext", "chartreuse", "chocolate", "coral", "cornflowerblue", "cornsilk", "crimson",
    "currentcolor", "cyan", "darkblue", "darkcyan", "darkgoldenrod", "darkgray", "darkgreen", "darkgrey",
    "darkkhaki", "darkmagenta", "darkolivegreen", "darkorange", "darkorchid", "darkred", "darksalmon",
    "darkseagreen", "darkslateblue", "darkslategray", "darkslategrey", "darkturquoise", "darkviolet", "deeppink",
    "deepskyblue", "dimgray", "dimgrey", "dodgerblue", "field", "fieldtext", "firebrick", "floralwhite",
    "forestgreen", "fuchsia", "gainsboro", "ghostwhite", "gold", "goldenrod", "gray", "graytext", "green",
    "greenyellow", "grey", "highlight", "highlighttext", "honeydew", "hotpink", "inactiveborder",
    "inactivecaption", "inactivecaptiontext", "indianred", "indigo", "infobackground", "infotext", "ivory",
    "khaki", "lavender", "lavenderblush", "lawngreen", "lemonchiffon", "lightblue", "lightcoral", "lightcyan",
    "lightgoldenrodyellow", "lightgray", "lightgreen", "lightgrey", "lightpink", "lightsalmon", "lightseagreen",
    "lightskyblue", "lightslategray", "lightslategrey", "lightsteelblue", "lightyellow", "lime", "limegreen",
    "linen", "linktext", "magenta", "mark", "marktext", "maroon", "mediumaquamarine", "mediumblue",
    "mediumorchid", "mediumpurple", "mediumseagreen", "mediumslateblue", "mediumspringgreen", "mediumturquoise",
    "mediumvioletred", "menu", "menutext", "midnightblue", "mintcream", "mistyrose", "moccasin", "navajowhite",
    "navy", "oldlace", "olive", "olivedrab", "orange", "orangered", "orchid", "palegoldenrod", "palegreen",
    "paleturquoise", "palevioletred", "papayawhip", "peachpuff", "peru", "pink", "plum", "powderblue", "purple",
    "rebeccapurple", "red", "rosybrown", "royalblue", "saddlebrown", "salmon", "sandybrown", "scrollbar",
    "seagreen", "seashell", "sienna", "silver", "skyblue", "slateblue", "slategray", "slategrey", "snow",
    "springgreen", "steelblue", "tan", "teal", "thistle", "threeddarkshadow", "threedface", "threedhighlight",
    "threedlightshadow", "threedshadow", "tomato", "transparent", "turquoise", "violet", "visitedtext",
    "wheat", "white", "whitesmoke", "window", "windowframe", "windowtext", "yellow", "yellowgreen"};

std::string lowered(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

// A CSS number at `i`, with an optional unit or percent sign; advances past
// it. `negative` tells whether it had a minus sign.
bool readDimension(std::string_view text, std::size_t& i, bool& negative, double& value) {
    const std::size_t start = i;
    negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    std::size_t digits = 0;
    while (i < text.size() && isDigit(text[i])) ++i, ++digits;
    if (i < text.size() && text[i] == '.') {
        ++i;
        std::size_t fraction = 0;
        while (i < text.size() && isDigit(text[i])) ++i, ++fraction;
        if (fraction == 0) return false;
        digits += fraction;
    }
    if (digits == 0) return false;
    if (i + 1 < text.size() && (text[i] == 'e' || text[i] == 'E') &&
        (isDigit(text[i + 1]) || ((text[i + 1] == '+' || text[i + 1] == '-') && i + 2 < text.size() && isDigit(text[i + 2])))) {
        i += 2;
        while (i < text.size() && isDigit(text[i])) ++i;
    }
    const char* from = text.data() + start + (text[start] == '+' ? 1 : 0);  // from_chars takes no plus sign
    std::from_chars(from, text.data() + i, value);
    if (i < text.size() && text[i] == '%') {
        ++i;
        return true;
    }
    const std::size_t unit = i;
    while (i < text.size() && std::isalpha(static_cast<unsigned char>(text[i]))) ++i;
    return unit == i || isOneOf(text.substr(unit, i - unit), {"px", "pt", "pc", "mm", "cm", "in", "q", "em", "ex", "ch",
                                                                "rem", "vw", "vh", "vmin", "vmax", "deg", "rad",
                                                                "grad", "turn"});
}

bool isHexColor(std::string_view v) {
    if (v.size() < 2 || v[0] != '#') return false;
    const std::size_t n = v.size() - 1;
    if (n != 3 && n != 4 && n != 6 && n != 8) return false;
    return std::all_of(v.begin() + 1, v.end(), [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
    });
}

// rgb(), hsl() and the other colour functions: numbers, percentages, angles
// and `none`, separated by commas, spaces or a slash.
bool isColorFunction(std::string_view v) {
    const std::size_t open = v.find('(');
    if (open == std::string_view::npos || v.back() != ')') return false;
    if (!isOneOf(trim(v.substr(0, open)), {"rgb", "rgba", "hsl", "hsla", "hwb", "lab", "lch", "oklab", "oklch"}))
        return false;
    const std::string_view body = v.substr(open + 1, v.size() - open - 2);
    int count = 0;
    for (std::size_t i = 0; i < body.size();) {
        const char c = body[i];
        if (isSpace(c) || c == ',' || c == '/') {
            ++i;
            continue;
        }
        if (body.compare(i, 4, "none") == 0) {
            i += 4;
        } else {
            bool negative = false;
            double value = 0;
            if (!readDimension(body, i, negative, value)) return false;
        }
        ++count;
    }
    return count >= 3 && count <= 4;
}

bool isColor(std::string_view v) {
    if (v.empty()) return false;
    if (v[0] == '#') return isHexColor(v);
    if (v.find('(') != std::string_view::npos) return isColorFunction(v);
    const std::string name = lowered(v);
    return std::binary_search(kColorNames.begin(), kColorNames.end(), std::string_view(name));
}

bool isPaint(std::string_view v) {
    if (!v.empty() && v[0] == '#' && isHexColor(v)) return true;  // the usual case, first
    if (isOneOf(v, {"none", "context-fill", "context-stroke"})) return true;
    if (v.size() >= 4 && equalsIgnoringCase(v.substr(0, 4), "url(")) {
        const std::size_t close = v.find(')');
        if (close == std::string_view::npos) return false;
        const std::string_view fallback = trim(v.substr(close + 1));
        return fallback.empty() || equalsIgnoringCase(fallback, "none") || isPaint(fallback);
    }
    // A colour may carry an ICC colour after it, as SVG 1.1 allows.
    const std::size_t icc = v.find("icc-color(");
    if (icc != std::string_view::npos && icc > 0) return isColor(trim(v.substr(0, icc))) && v.back() == ')';
    return isColor(v);
}

bool isDisplay(std::string_view v) {
    if (equalsIgnoringCase(v, "none")) return true;
    std::size_t i = 0, words = 0;
    while (i < v.size()) {
        while (i < v.size() && isSpace(v[i])) ++i;
        std::size_t end = i;
        while (end < v.size() && !isSpace(v[end])) ++end;
        if (end == i) break;
        if (!isOneOf(v.substr(i, end - i),
                     {"inline", "block", "run-in", "flow", "flow-root", "table", "flex", "grid", "ruby", "list-item",
                      "contents", "inline-block", "inline-table", "inline-flex", "inline-grid", "table-row-group",
                      "table-header-group", "table-footer-group", "table-row", "table-cell", "table-column-group",
                      "table-column", "table-caption", "ruby-base", "ruby-text", "ruby-base-container",
                      "ruby-text-container", "compact", "marker"}))
            return false;
        ++words;
        i = end;
    }
    return words >= 1 && words <= 3;
}

}  // namespace

bool isCssWideKeyword(std::string_view value) {
    return isOneOf(value, {"inherit", "initial", "unset", "revert", "revert-layer"});
}

int dashCount(std::string_view value) {
    value = trim(value);
    if (equalsIgnoringCase(value, "none")) return 0;
    int count = 0;
    double sum = 0;
    std::size_t i = 0;
    while (i < value.size()) {
        if (count > 0) {  // a separator: whitespace with at most one comma in it
            const std::size_t before = i;
            while (i < value.size() && isSpace(value[i])) ++i;
            if (i < value.size() && value[i] == ',') ++i;
            while (i < value.size() && isSpace(value[i])) ++i;
            if (i == before || i >= value.size()) return -1;  // "5qq" runs on; "5," ends on a comma
        }
        bool entryNegative = false;
        double entry = 0;
        if (!readDimension(value, i, entryNegative, entry)) return -1;
        if (entryNegative && entry != 0) return -1;
        sum += entry;
        ++count;
    }
    if (count == 0) return -1;
    return sum == 0 ? 0 : count;
}

namespace {

// Does a var( open at value[at], the parenthesis?
bool isVarAt(std::string_view value, std::size_t at) {
    if (at < 3 || !equalsIgnoringCase(value.substr(at - 3, 3), "var")) return false;
    return at == 3 || !(std::isalnum(static_cast<unsigned char>(value[at - 4])) || value[at - 4] == '-' ||
                        value[at - 4] == '_');
}

// Fallbacks nest at most this deep.
constexpr int kMaxVarNesting = 32;

std::optional<std::string> substitute(std::string_view value, CustomLookup lookup, const void* context, int depth) {
    if (depth > kMaxVarNesting) return std::nullopt;
    std::string out;
    std::size_t done = 0;
    for (std::size_t at = value.find('('); at != std::string_view::npos; at = value.find('(', at + 1)) {
        if (!isVarAt(value, at)) continue;
        // The arguments run to the matching parenthesis; an unclosed one
        // closes at the end, as CSS closes what the text leaves open.
        std::size_t close = at + 1;
        for (int level = 1; close < value.size(); ++close) {
            if (value[close] == '(') ++level;
            else if (value[close] == ')' && --level == 0) break;
        }
        const std::string_view arguments = value.substr(at + 1, std::min(close, value.size()) - at - 1);
        const std::size_t comma = arguments.find(',');
        const std::string_view name = trim(arguments.substr(0, comma));
        if (name.size() < 3 || name[0] != '-' || name[1] != '-') return std::nullopt;
        out.append(value.substr(done, at - 3 - done));
        if (const std::string* found = lookup(context, name)) {
            out += *found;
        } else if (comma != std::string_view::npos) {
            const auto fallback = substitute(trim(arguments.substr(comma + 1)), lookup, context, depth + 1);
            if (!fallback) return std::nullopt;
            out += *fallback;
        } else {
            return std::nullopt;
        }
        done = std::min(close + 1, value.size());
        at = done - 1;
    }
    out.append(value.substr(done));
    return std::string(trim(out));
}

}  // namespace

bool usesVar(std::string_view value) {
    for (std::size_t at = value.find('('); at != std::string_view::npos; at = value.find('(', at + 1))
        if (isVarAt(value, at)) return true;
    return false;
}

std::optional<std::string> substituteVars(std::string_view value, CustomLookup lookup, const void* context) {
    return substitute(value, lookup, context, 0);
}

bool isValidValue(Prop prop, std::string_view value) {
    if (isCssWideKeyword(value) || prop == Prop::kCustom) return true;
    switch (prop) {
        case Prop::kFill:
        case Prop::kStroke: return isPaint(value);
        case Prop::kDashArray: return dashCount(value) >= 0;
        case Prop::kDisplay: return isDisplay(value);
        case Prop::kVisibility: return isOneOf(value, {"visible", "hidden", "collapse"});
        case Prop::kCustom: break;
    }
    return false;
}

}  // namespace simhost::svg
