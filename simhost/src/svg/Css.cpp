#include "Css.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>

namespace simhost::svg {

namespace {

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }

bool isIdentChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
           static_cast<unsigned char>(c) >= 0x80;
}

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// The position of the next of the (one or two) `stops` characters outside
// quotes, parentheses and brackets, or text.size().
std::size_t findTopLevel(std::string_view text, std::size_t from, std::string_view stops) {
    int depth = 0;
    char quote = 0;
    for (std::size_t i = from; i < text.size(); ++i) {
        const char c = text[i];
        if (quote != 0) {
            if (c == '\\') ++i;
            else if (c == quote) quote = 0;
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == '(' || c == '[') {
            ++depth;
        } else if ((c == ')' || c == ']') && depth > 0) {
            --depth;
        } else if (depth == 0 && (c == stops[0] || (stops.size() > 1 && c == stops[1]))) {
            return i;
        }
    }
    return text.size();
}

std::string withoutComments(std::string_view css) {
    std::string out;
    out.reserve(css.size());
    for (std::size_t i = 0; i < css.size();) {
        if (css.compare(i, 2, "/*") == 0) {
            const std::size_t end = css.find("*/", i + 2);
            if (end == std::string_view::npos) break;
            i = end + 2;
            out += ' ';
        } else {
            out += css[i++];
        }
    }
    return out;
}

// ---- Selectors ----------------------------------------------------------

struct AttributeTest {
    std::string name;
    char op = 0;  // 0: present; '=', '~', '^', '$', '*', '|'
    std::string value;
};

// :nth-child(an+b) and its kin: matches positions a*n+b for n >= 0.
struct Nth {
    int a = 0;
    int b = 0;
    bool fromEnd = false;  // :nth-last-child, :last-child
    bool ofType = false;   // counts only the siblings of the element's name
};

struct Compound {
    std::string tag;  // empty: any element
    std::string id;
    std::vector<std::string> classes;
    std::vector<AttributeTest> attributes;
    std::vector<Nth> positions;
    std::vector<Compound> nots;  // :not(A, B): none of them
    bool root = false;
    bool never = false;          // a dynamic pseudo-class or a pseudo-element
};

struct Selector {
    std::vector<Compound> compounds;  // left to right
    std::vector<char> combinators;    // between compounds i and i+1: ' ', '>', '+', '~'
    std::uint32_t specificity = 0;
};

std::string readIdent(std::string_view text, std::size_t& i) {
    std::string ident;
    while (i < text.size()) {
        if (text[i] == '\\' && i + 1 < text.size()) {
            ident += text[i + 1];
            i += 2;
        } else if (isIdentChar(text[i])) {
            ident += text[i++];
        } else {
            break;
        }
    }
    return ident;
}

bool parseAttributeTest(std::string_view text, std::size_t& i, AttributeTest& test) {
    const std::size_t end = text.find(']', i);
    if (end == std::string_view::npos) return false;
    std::string_view body = trim(text.substr(i, end - i));
    i = end + 1;
    const std::size_t eq = body.find('=');
    if (eq == std::string_view::npos) {
        test.name = std::string(body);
        return !test.name.empty();
    }
    std::size_t nameEnd = eq;
    if (eq > 0 && std::strchr("~^$*|", body[eq - 1]) != nullptr) {
        test.op = body[eq - 1];
        nameEnd = eq - 1;
    } else {
        test.op = '=';
    }
    test.name = std::string(trim(body.substr(0, nameEnd)));
    std::string_view value = trim(body.substr(eq + 1));
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
        value = value.substr(1, value.size() - 2);
    test.value = std::string(value);
    return !test.name.empty();
}

bool parseSelector(std::string_view text, Selector& selector);

// "odd", "even", "3", "2n+1", "-n + 3": the argument of :nth-child().
bool parseNth(std::string_view text, Nth& nth) {
    std::string t;
    for (const char c : text)
        if (!isSpace(c)) t += lower(c);
    if (t == "odd") return nth.a = 2, nth.b = 1, true;
    if (t == "even") return nth.a = 2, nth.b = 0, true;
    const std::size_t n = t.find('n');
    auto integer = [](std::string_view s, int& out) {
        if (s.empty()) return false;
        std::size_t i = s[0] == '+' || s[0] == '-' ? 1 : 0;
        if (i == s.size()) return false;
        long value = 0;
        for (; i < s.size(); ++i) {
            if (s[i] < '0' || s[i] > '9') return false;
            value = std::min(value * 10 + (s[i] - '0'), 1000000L);
        }
        out = static_cast<int>(s[0] == '-' ? -value : value);
        return true;
    };
    if (n == std::string::npos) return nth.a = 0, integer(t, nth.b);
    const std::string_view a = std::string_view(t).substr(0, n);
    if (a.empty() || a == "+") nth.a = 1;
    else if (a == "-") nth.a = -1;
    else if (!integer(a, nth.a)) return false;
    const std::string_view b = std::string_view(t).substr(n + 1);
    nth.b = 0;
    return b.empty() || ((b[0] == '+' || b[0] == '-') && integer(b, nth.b));
}

// The text inside the parentheses that open at `i`; advances past them.
bool readArgument(std::string_view text, std::size_t& i, std::string_view& argument) {
    if (i >= text.size() || text[i] != '(') return false;
    const std::size_t close = findTopLevel(text, i + 1, ")");
    if (close >= text.size()) return false;
    argument = text.substr(i + 1, close - i - 1);
    i = close + 1;
    return true;
}

// A pseudo-class or pseudo-element at text[i] (a ':').
bool parsePseudo(std::string_view text, std::size_t& i, Compound& compound, std::uint32_t& ids,
                 std::uint32_t& classes, std::uint32_t& tags) {
    ++i;
    const bool element = i < text.size() && text[i] == ':';
    if (element) ++i;
    const std::string name = readIdent(text, i);
    auto is = [&](std::initializer_list<std::string_view> names) {
        for (std::string_view n : names)
            if (equalsIgnoringCase(name, n)) return true;
        return false;
    };
    // Parts of an element (::before) and states nobody puts a static
    // drawing in: valid, matching nothing.
    if (is({"before", "after", "first-line", "first-letter"}) ||
        (element && is({"marker", "selection", "placeholder", "backdrop"}))) {
        compound.never = true;
        ++tags;
        return true;
    }
    if (element) return false;
    ++classes;
    if (is({"hover", "active", "focus", "focus-within", "focus-visible", "visited", "target", "target-within"})) {
        compound.never = true;
    } else if (is({"root"})) {
        compound.root = true;
    } else if (is({"first-child"})) {
        compound.positions.push_back({0, 1, false});
    } else if (is({"last-child"})) {
        compound.positions.push_back({0, 1, true});
    } else if (is({"only-child"})) {
        compound.positions.push_back({0, 1, false});
        compound.positions.push_back({0, 1, true});
    } else if (is({"first-of-type"})) {
        compound.positions.push_back({0, 1, false, true});
    } else if (is({"nth-child", "nth-of-type"})) {
        std::string_view argument;
        Nth nth;
        nth.ofType = is({"nth-of-type"});
        if (!readArgument(text, i, argument) || !parseNth(argument, nth)) return false;
        compound.positions.push_back(nth);
    } else if (is({"not"})) {
        std::string_view argument;
        if (!readArgument(text, i, argument)) return false;
        std::uint32_t most = 0;
        for (std::size_t s = 0; s <= argument.size();) {
            const std::size_t comma = findTopLevel(argument, s, ",");
            Selector inner;
            if (!parseSelector(argument.substr(s, comma - s), inner) || inner.compounds.size() != 1) return false;
            most = std::max(most, inner.specificity);
            compound.nots.push_back(std::move(inner.compounds.front()));
            s = comma + 1;
        }
        --classes;  // :not() counts as its most specific argument
        ids += most >> 16;
        classes += (most >> 8) & 0xFF;
        tags += most & 0xFF;
    } else {
        return false;
    }
    return true;
}

// Parses one selector of a list; false when it is not one this reader can
// match (it then matches nothing).
bool parseSelector(std::string_view text, Selector& selector) {
    text = trim(text);
    if (text.empty()) return false;
    std::uint32_t ids = 0, classes = 0, tags = 0;
    char pending = 0;  // combinator before the next compound
    std::size_t i = 0;
    while (i < text.size()) {
        if (isSpace(text[i])) {
            if (!selector.compounds.empty() && pending == 0) pending = ' ';
            ++i;
            continue;
        }
        if (text[i] == '>' || text[i] == '+' || text[i] == '~') {
            if (selector.compounds.empty()) return false;
            pending = text[i++];
            continue;
        }
        Compound compound;
        bool any = false;
        while (i < text.size() && !isSpace(text[i]) && text[i] != '>' && text[i] != '+' && text[i] != '~') {
            const char c = text[i];
            if (c == '*') {
                ++i;
                any = true;
                if (i < text.size() && text[i] == '|') ++i;  // *|path: any namespace
            } else if (isIdentChar(c) || c == '\\' || c == '|') {
                std::string name = c == '|' ? std::string() : readIdent(text, i);
                if (i < text.size() && text[i] == '|') {  // svg|path: a namespace prefix
                    ++i;
                    name = readIdent(text, i);
                }
                if (name.empty()) return false;
                compound.tag = name;
                ++tags;
                any = true;
            } else if (c == '#') {
                ++i;
                compound.id = readIdent(text, i);
                if (compound.id.empty()) return false;
                ++ids;
                any = true;
            } else if (c == '.') {
                ++i;
                std::string name = readIdent(text, i);
                if (name.empty()) return false;
                compound.classes.push_back(std::move(name));
                ++classes;
                any = true;
            } else if (c == '[') {
                ++i;
                AttributeTest test;
                if (!parseAttributeTest(text, i, test)) return false;
                compound.attributes.push_back(std::move(test));
                ++classes;
                any = true;
            } else if (c == ':') {
                if (!parsePseudo(text, i, compound, ids, classes, tags)) return false;
                any = true;
            } else {
                return false;
            }
        }
        if (!any) return false;
        if (!selector.compounds.empty()) selector.combinators.push_back(pending == 0 ? ' ' : pending);
        selector.compounds.push_back(std::move(compound));
        pending = 0;
    }
    if (selector.compounds.empty() || pending != 0) return false;
    selector.specificity = (std::min(ids, 255u) << 16) | (std::min(classes, 255u) << 8) | std::min(tags, 255u);
    return true;
}

bool hasWord(std::string_view list, std::string_view word) {
    std::size_t i = 0;
    while (i < list.size()) {
        while (i < list.size() && isSpace(list[i])) ++i;
        std::size_t end = i;
        while (end < list.size() && !isSpace(list[end])) ++end;
        if (end > i && list.substr(i, end - i) == word) return true;
        i = end;
    }
    return false;
}

bool attributeMatches(const ElementInfo& element, const AttributeTest& test) {
    if (!element.hasAttribute(test.name)) return false;
    const std::string_view value = element.attribute(test.name);
    const std::string_view wanted = test.value;
    switch (test.op) {
        case 0: return true;
        case '=': return value == wanted;
        case '~': return hasWord(value, wanted);
        case '^': return !wanted.empty() && value.substr(0, wanted.size()) == wanted;
        case '$': return !wanted.empty() && value.size() >= wanted.size() &&
                         value.substr(value.size() - wanted.size()) == wanted;
        case '*': return !wanted.empty() && value.find(wanted) != std::string_view::npos;
        case '|': return value == wanted || (value.size() > wanted.size() && value.substr(0, wanted.size()) == wanted &&
                                             value[wanted.size()] == '-');
    }
    return false;
}

bool nthMatches(const Nth& nth, long position) {
    const long offset = position - nth.b;
    if (nth.a == 0) return offset == 0;
    return offset % nth.a == 0 && offset / nth.a >= 0;
}

bool compoundMatches(const Compound& compound, const ElementInfo& element) {
    if (!compound.tag.empty() && element.name != compound.tag) return false;
    if (!compound.id.empty() && compound.id != element.id) return false;
    for (const std::string& name : compound.classes)
        if (!hasWord(element.classes, name)) return false;
    for (const AttributeTest& test : compound.attributes)
        if (!attributeMatches(element, test)) return false;
    if (compound.root && !element.root) return false;
    if (compound.never) return false;
    for (const Nth& nth : compound.positions) {
        // From the end, the stream knows only whether the element is last.
        if (nth.fromEnd) {
            if (!element.last) return false;
        } else if (!nthMatches(nth, static_cast<long>(nth.ofType ? element.typePosition : element.position))) {
            return false;
        }
    }
    for (const Compound& inner : compound.nots)
        if (compoundMatches(inner, element)) return false;
    return true;
}

// Does compounds[0..k] match with compounds[k] on `element`? Right to left;
// a descendant combinator tries every ancestor.
bool selectorMatches(const Selector& selector, std::size_t k, const ElementInfo* element) {
    if (element == nullptr || !compoundMatches(selector.compounds[k], *element)) return false;
    if (k == 0) return true;
    switch (selector.combinators[k - 1]) {
        case '>': return selectorMatches(selector, k - 1, element->parent);
        case '+': return selectorMatches(selector, k - 1, element->previous);
        case '~':
            for (const ElementInfo* n = element->previous; n != nullptr; n = n->previous)
                if (selectorMatches(selector, k - 1, n)) return true;
            return false;
        default:
            for (const ElementInfo* n = element->parent; n != nullptr; n = n->parent)
                if (selectorMatches(selector, k - 1, n)) return true;
            return false;
    }
}

struct StoredDeclaration {
    Prop prop;
    std::string value;
    bool important;
    std::string name;  // a custom property's
};

}  // namespace

// ---- Declarations ---------------------------------------------------------

std::string_view trim(std::string_view text) {
    while (!text.empty() && isSpace(text.front())) text.remove_prefix(1);
    while (!text.empty() && isSpace(text.back())) text.remove_suffix(1);
    return text;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (lower(a[i]) != lower(b[i])) return false;
    return true;
}

std::optional<Prop> propertyNamed(std::string_view name) {
    switch (name.size()) {
        case 4: if (equalsIgnoringCase(name, "fill")) return Prop::kFill; break;
        case 6: if (equalsIgnoringCase(name, "stroke")) return Prop::kStroke; break;
        case 7: if (equalsIgnoringCase(name, "display")) return Prop::kDisplay; break;
        case 10: if (equalsIgnoringCase(name, "visibility")) return Prop::kVisibility; break;
        case 16: if (equalsIgnoringCase(name, "stroke-dasharray")) return Prop::kDashArray; break;
        default: break;
    }
    return std::nullopt;
}

void parseDeclarations(std::string_view text, std::vector<Declaration>& out) {
    std::size_t i = 0;
    while (i < text.size()) {
        // Most declarations hold no quote, parenthesis or bracket: they end
        // at the next semicolon.
        std::size_t end = i;
        while (end < text.size() && text[end] != ';' && text[end] != '"' && text[end] != '\'' && text[end] != '(' &&
               text[end] != '[')
            ++end;
        if (end < text.size() && text[end] != ';') end = findTopLevel(text, i, ";");
        const std::string_view item = text.substr(i, end - i);
        i = end + 1;
        const std::size_t colon = item.find(':');
        if (colon == std::string_view::npos) continue;
        const std::string_view name = trim(item.substr(0, colon));
        const bool custom = name.size() > 2 && name[0] == '-' && name[1] == '-';
        const auto prop = custom ? Prop::kCustom : propertyNamed(name);
        if (!prop) continue;
        std::string_view value = trim(item.substr(colon + 1));
        bool important = false;
        if (const std::size_t bang = value.rfind('!'); bang != std::string_view::npos &&
                                                       equalsIgnoringCase(trim(value.substr(bang + 1)), "important")) {
            important = true;
            value = trim(value.substr(0, bang));
        }
        if (value.empty() && !custom) continue;  // an invalid declaration is dropped
        out.push_back({*prop, value, important, custom ? name : std::string_view()});
    }
}

// ---- Media queries and languages -------------------------------------------

namespace {

// A media query as words ("screen", "and") and parenthesised groups (their
// inside), lower case; false when it holds anything else.
bool mediaTokens(std::string_view query, std::vector<std::pair<std::string, bool>>& tokens) {
    for (std::size_t i = 0; i < query.size();) {
        if (isSpace(query[i])) {
            ++i;
        } else if (query[i] == '(') {
            const std::size_t close = findTopLevel(query, i + 1, ")");
            if (close >= query.size()) return false;
            std::string group(trim(query.substr(i + 1, close - i - 1)));
            for (char& c : group) c = lower(c);
            tokens.emplace_back(std::move(group), true);
            i = close + 1;
        } else if (isIdentChar(query[i])) {
            std::string word = readIdent(query, i);
            for (char& c : word) c = lower(c);
            tokens.emplace_back(std::move(word), false);
        } else {
            return false;
        }
    }
    return true;
}

bool mediaCondition(const std::vector<std::pair<std::string, bool>>& tokens, std::size_t from, int depth);

// "(prefers-color-scheme: light)", or a nested condition such as
// "(not (color))". The reader has no window, pointer or colour depth to ask
// about: no other feature holds.
bool mediaGroup(const std::string& inside, int depth) {
    if (depth > 8) return false;
    if (!inside.empty() && (inside[0] == '(' || (inside.compare(0, 3, "not") == 0 && inside.size() > 3 &&
                                                 (isSpace(inside[3]) || inside[3] == '(')))) {
        std::vector<std::pair<std::string, bool>> tokens;
        return mediaTokens(inside, tokens) && mediaCondition(tokens, 0, depth + 1);
    }
    const std::size_t colon = inside.find(':');
    const std::string_view name = trim(std::string_view(inside).substr(0, colon));
    if (name != "prefers-color-scheme") return false;
    return colon == std::string::npos || trim(std::string_view(inside).substr(colon + 1)) == "light";
}

// "not (a)", "(a) and (b) and ...", "(a) or (b) or ..." from tokens[from].
bool mediaCondition(const std::vector<std::pair<std::string, bool>>& tokens, std::size_t from, int depth) {
    if (from >= tokens.size()) return false;
    if (!tokens[from].second) {
        return tokens[from].first == "not" && from + 2 == tokens.size() && tokens[from + 1].second &&
               !mediaGroup(tokens[from + 1].first, depth);
    }
    const std::string joint = from + 1 < tokens.size() ? tokens[from + 1].first : "and";
    if (joint != "and" && joint != "or") return false;
    bool any = false, all = true;
    for (std::size_t k = from; k < tokens.size(); k += 2) {
        if (!tokens[k].second || (k + 1 < tokens.size() && (tokens[k + 1].second || tokens[k + 1].first != joint)) ||
            k + 1 == tokens.size() - 1)
            return false;
        const bool holds = mediaGroup(tokens[k].first, depth);
        any = any || holds;
        all = all && holds;
    }
    return joint == "and" ? all : any;
}

// One query of a list: "[not|only] type [and condition]", or a condition.
bool mediaQuery(std::string_view query) {
    std::vector<std::pair<std::string, bool>> tokens;
    if (!mediaTokens(query, tokens) || tokens.empty()) return false;
    if (tokens[0].second || (tokens[0].first == "not" && tokens.size() > 1 && tokens[1].second))
        return mediaCondition(tokens, 0, 0);
    std::size_t k = 0;
    const bool negated = tokens[0].first == "not";
    if (negated || tokens[0].first == "only") ++k;
    if (k >= tokens.size() || tokens[k].second) return false;
    const std::string& type = tokens[k].first;
    if (type == "not" || type == "only" || type == "and" || type == "or") return false;
    bool holds = type == "all" || type == "screen";
    if (++k < tokens.size()) {
        if (tokens[k].first != "and" || tokens[k].second || k + 1 >= tokens.size()) return false;
        const bool condition = mediaCondition(tokens, k + 1, 0);
        // "screen and (a) or (b)" does not parse: the type binds with and only.
        for (std::size_t j = k + 1; j < tokens.size(); ++j)
            if (!tokens[j].second && tokens[j].first == "or") return false;
        holds = holds && condition;
    }
    return negated ? !holds : holds;
}

}  // namespace

bool mediaQueryMatches(std::string_view queries) {
    if (trim(queries).empty()) return true;
    for (std::size_t s = 0; s <= queries.size();) {
        const std::size_t comma = findTopLevel(queries, s, ",");
        if (mediaQuery(queries.substr(s, comma - s))) return true;
        s = comma + 1;
    }
    return false;
}

bool systemLanguageMatches(std::string_view list, std::string_view language) {
    for (std::size_t s = 0; s <= list.size();) {
        const std::size_t comma = std::min(list.find(',', s), list.size());
        const std::string_view entry = trim(list.substr(s, comma - s));
        if (entry.size() >= language.size() && !language.empty() &&
            equalsIgnoringCase(entry.substr(0, language.size()), language) &&
            (entry.size() == language.size() || entry[language.size()] == '-'))
            return true;
        s = comma + 1;
    }
    return false;
}

std::string_view ElementInfo::attribute(std::string_view name) const {
    for (const auto& [key, value] : attributes)
        if (key == name) return value;
    return {};
}

bool ElementInfo::hasAttribute(std::string_view name) const {
    for (const auto& entry : attributes)
        if (entry.first == name) return true;
    return false;
}

// ---- Stylesheet -------------------------------------------------------------

struct Stylesheet::Rules {
    struct Rule {
        Selector selector;
        std::uint32_t block;  // its declarations, in `blocks`
        std::uint32_t order;
    };
    std::vector<Rule> rules;
    std::vector<std::vector<StoredDeclaration>> blocks;
    // Rules by the key of their rightmost compound, so an element is tested
    // only against rules that can match it.
    std::unordered_map<std::string, std::vector<std::uint32_t>> byId, byClass, byTag;
    std::vector<std::uint32_t> universal;
    bool attributes = false;
    bool siblings = false;
    bool lastChild = false;

    static bool testsAttributes(const Compound& c) {
        if (!c.attributes.empty()) return true;
        for (const Compound& inner : c.nots)
            if (testsAttributes(inner)) return true;
        return false;
    }

    static bool usesEnd(const Compound& c) {
        for (const Nth& nth : c.positions)
            if (nth.fromEnd) return true;
        for (const Compound& inner : c.nots)
            if (usesEnd(inner)) return true;
        return false;
    }

    // The rules of a sheet's text, or of an @media block's; blocks nest at
    // most this deep, which no real sheet comes near.
    static constexpr int kMaxNesting = 32;

    void parse(std::string_view text, int depth) {
        std::size_t i = 0;
        while (i < text.size()) {
            while (i < text.size() && isSpace(text[i])) ++i;
            if (i >= text.size()) break;
            if (text.compare(i, 4, "<!--") == 0 || text.compare(i, 3, "-->") == 0) {
                i += text[i] == '<' ? 4 : 3;
                continue;
            }
            const std::size_t open = findTopLevel(text, i, text[i] == '@' ? "{;" : "{");
            if (open >= text.size()) break;
            const bool atRule = text[i] == '@';
            const std::string_view prelude = text.substr(i, open - i);
            if (text[open] == ';') {  // @import url(...);: another file, never fetched
                i = open + 1;
                continue;
            }
            // The block runs to its matching brace.
            std::size_t close = open + 1;
            for (int level = 1; close < text.size(); ++close) {
                if (text[close] == '{') ++level;
                else if (text[close] == '}' && --level == 0) break;
            }
            const std::string_view block = text.substr(open + 1, std::min(close, text.size()) - open - 1);
            i = close + 1;
            if (!atRule) {
                addStyleRule(prelude, block);
            } else if (depth < kMaxNesting && startsWithAtKeyword(prelude, "media") &&
                       mediaQueryMatches(prelude.substr(6))) {
                parse(block, depth + 1);
            }
        }
    }

    static bool startsWithAtKeyword(std::string_view prelude, std::string_view name) {
        return prelude.size() > name.size() && equalsIgnoringCase(prelude.substr(1, name.size()), name) &&
               (prelude.size() == name.size() + 1 || !isIdentChar(prelude[name.size() + 1]));
    }

    void addStyleRule(std::string_view prelude, std::string_view block) {
        std::vector<Selector> selectors;
        for (std::size_t s = 0; s <= prelude.size();) {
            const std::size_t comma = findTopLevel(prelude, s, ",");
            Selector selector;
            // One selector this reader cannot match drops the whole rule, as
            // a browser drops a rule with an invalid selector.
            if (!parseSelector(prelude.substr(s, comma - s), selector)) return;
            selectors.push_back(std::move(selector));
            s = comma + 1;
        }
        std::vector<Declaration> declarations;
        parseDeclarations(block, declarations);
        if (declarations.empty()) return;
        std::vector<StoredDeclaration> stored;
        for (const Declaration& d : declarations)
            stored.push_back({d.prop, std::string(d.value), d.important, std::string(d.name)});
        const auto blockIndex = static_cast<std::uint32_t>(blocks.size());
        blocks.push_back(std::move(stored));
        for (Selector& selector : selectors) addRule(std::move(selector), blockIndex);
    }

    void addRule(Selector selector, std::uint32_t block) {
        const auto index = static_cast<std::uint32_t>(rules.size());
        for (const Compound& c : selector.compounds) attributes = attributes || testsAttributes(c);
        for (const char c : selector.combinators) siblings = siblings || c == '+' || c == '~';
        for (const Compound& c : selector.compounds) lastChild = lastChild || usesEnd(c);
        const Compound& key = selector.compounds.back();
        if (!key.id.empty()) byId[key.id].push_back(index);
        else if (!key.classes.empty()) byClass[key.classes.front()].push_back(index);
        else if (!key.tag.empty()) byTag[key.tag].push_back(index);
        else universal.push_back(index);
        rules.push_back({std::move(selector), block, index});
    }
};

Stylesheet::Stylesheet() : rules_(std::make_unique<Rules>()) {}
Stylesheet::~Stylesheet() = default;

bool Stylesheet::empty() const { return rules_->rules.empty(); }
std::size_t Stylesheet::size() const { return rules_->rules.size(); }
bool Stylesheet::testsAttributes() const { return rules_->attributes; }
bool Stylesheet::testsSiblings() const { return rules_->siblings; }
bool Stylesheet::testsLastChild() const { return rules_->lastChild; }

void Stylesheet::add(std::string_view source) {
    const std::string css = withoutComments(source);
    rules_->parse(css, 0);
}

void Stylesheet::match(const ElementInfo& element, std::vector<Match>& out) const {
    const Rules& r = *rules_;
    auto tryRules = [&](const std::vector<std::uint32_t>& indices) {
        for (std::uint32_t index : indices) {
            const Rules::Rule& rule = r.rules[index];
            if (!selectorMatches(rule.selector, rule.selector.compounds.size() - 1, &element)) continue;
            for (const StoredDeclaration& d : r.blocks[rule.block]) {
                const Origin origin = d.important ? Origin::kImportantRule : Origin::kRule;
                out.push_back({d.prop, d.value, priorityOf(origin, rule.selector.specificity, rule.order), d.name});
            }
        }
    };
    auto tryKey = [&](const std::unordered_map<std::string, std::vector<std::uint32_t>>& map,
                      const std::string& key) {
        if (map.empty() || key.empty()) return;
        const auto it = map.find(key);
        if (it != map.end()) tryRules(it->second);
    };
    tryRules(r.universal);
    tryKey(r.byTag, element.name);
    tryKey(r.byId, element.id);
    if (!r.byClass.empty()) {
        const std::string_view list = element.classes;
        std::size_t i = 0;
        while (i < list.size()) {
            while (i < list.size() && isSpace(list[i])) ++i;
            std::size_t end = i;
            while (end < list.size() && !isSpace(list[end])) ++end;
            // A class named twice in the list must not apply its rules twice.
            const std::string_view name = list.substr(i, end - i);
            if (end > i && !hasWord(list.substr(0, i), name)) tryKey(r.byClass, std::string(name));
            i = end;
        }
    }
}

}  // namespace simhost::svg
