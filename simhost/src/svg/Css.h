// The part of CSS that decides what the document model needs of an SVG
// element: declarations of five properties (fill, stroke, stroke-dasharray,
// display, visibility), and <style> sheets with the selectors drawings use.
//
// Selectors: type (path, svg|path matches by local name), universal, #id,
// .class, attribute tests ([a], [a=v], [a~=v], [a^=v], [a$=v], [a*=v],
// [a|=v]), :root, :first-child, :last-child, :only-child, :nth-child(),
// :nth-of-type(), :first-of-type, :not() of compound selectors, and the
// combinators descendant, >, + and ~, in selector lists. Dynamic
// pseudo-classes (:hover, :focus, :visited...) and pseudo-elements are valid
// and match nothing in a drawing nobody points at. A selector this code does
// not know drops its whole rule, as a browser drops a rule with an invalid
// selector. The rules of an @media block apply when its query holds for a
// screen in the light colour scheme (see mediaQueryMatches); @import is never
// fetched, and the other at-rules (@font-face, @supports...) are passed over.
// Custom properties (--name) are kept and var() is substituted.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace simhost::svg {

// kCustom: a custom property (--name), which only var() reads.
enum class Prop : std::uint8_t { kFill, kStroke, kDashArray, kDisplay, kVisibility, kCustom };
constexpr int kPropCount = 5;  // the properties before kCustom

// The property a declaration or presentation attribute name stands for.
std::optional<Prop> propertyNamed(std::string_view name);

std::string_view trim(std::string_view text);

// Is `value` one the property can take? A declaration whose value does not
// parse is dropped, so the cascaded or inherited value stays. A value with
// var() in it is none here: the caller takes it as it is (see usesVar) and
// checks it once substituted.
bool isValidValue(Prop prop, std::string_view value);

// The dash count of a stroke-dasharray value: the number of entries as
// written (an odd list is drawn twice over, but the count is the author's);
// 0 for none and for a list whose entries sum to zero (drawn solid); -1 when
// the value is no list at all (junk, stray commas) or has a negative entry,
// which drops the declaration, so an inherited dash stays.
int dashCount(std::string_view value);

// CSS-wide keywords.
bool isCssWideKeyword(std::string_view value);
// ASCII case-insensitive equality, as CSS compares keywords.
bool equalsIgnoringCase(std::string_view a, std::string_view b);

// Does the value use var()?
bool usesVar(std::string_view value);

// A custom property's value as the element has it, or null.
using CustomLookup = const std::string* (*)(const void* context, std::string_view name);
// `value` with each var(--name[, fallback]) replaced by the property's value
// or, when the element has no such property, by the fallback; nullopt when
// neither is there (the declaration is then invalid where it is used) or the
// var() is malformed.
std::optional<std::string> substituteVars(std::string_view value, CustomLookup lookup, const void* context);

// Does a @media prelude's query list (what follows "@media") hold for the
// reader: a screen in the light colour scheme on which no other media
// feature holds? A list holds when any of its queries does; an empty list
// holds; a query that does not parse does not.
bool mediaQueryMatches(std::string_view queries);

// Does a systemLanguage value hold for a viewer whose language is
// `language` ("en", "en-US")? An entry of the comma-separated list holds when
// it is the language or starts with it and a '-' (ASCII case ignored,
// whitespace around entries too): for "en", "en" and "en-GB" hold; for
// "en-US", "en-US" and "en-US-x" do, "en" does not. An empty list holds
// nowhere.
bool systemLanguageMatches(std::string_view list, std::string_view language);

struct Declaration {
    Prop prop;
    std::string_view value;
    bool important;
    std::string_view name = {};  // a custom property's name, with its dashes
};

// Splits "name: value; name: value !important" into the declarations of the
// five properties and the custom properties, in order. Values are views into
// `text`.
void parseDeclarations(std::string_view text, std::vector<Declaration>& out);

// Where a declaration comes from, ordered by how strongly it applies.
enum class Origin : std::uint8_t {
    kPresentation = 0,  // fill="none"
    kRule = 1,          // a <style> rule
    kStyleAttribute = 2,
    kImportantRule = 3,
    kImportantStyleAttribute = 4,
};

// Orders competing declarations of one property: origin, then specificity,
// then the rule's position in the sheet.
constexpr std::uint64_t priorityOf(Origin origin, std::uint32_t specificity = 0, std::uint32_t order = 0) {
    return (std::uint64_t(origin) << 56) | (std::uint64_t(specificity & 0xFFFFFF) << 32) | order;
}

// What a selector can ask of an element, and of its ancestors and previous
// sibling.
struct ElementInfo {
    std::string name;  // local name
    std::string id;
    std::string classes;
    std::vector<std::pair<std::string, std::string>> attributes;  // kept when the sheet tests attributes
    bool root = false;
    bool last = false;             // the last element child of its parent, when known
    std::uint32_t position = 0;    // among its parent's element children, from 1
    std::uint32_t typePosition = 0;  // among those of its name, from 1
    const ElementInfo* parent = nullptr;
    const ElementInfo* previous = nullptr;  // kept when the sheet has + or ~ combinators

    std::string_view attribute(std::string_view name) const;
    bool hasAttribute(std::string_view name) const;
};

class Stylesheet {
public:
    Stylesheet();
    ~Stylesheet();

    // Adds the rules of one <style> element's text.
    void add(std::string_view css);
    bool empty() const;
    std::size_t size() const;  // rules
    // What an ElementInfo must carry for this sheet.
    bool testsAttributes() const;
    bool testsSiblings() const;
    // Does a rule need to know which element is its parent's last child?
    // A stream learns that only at the parent's end.
    bool testsLastChild() const;

    struct Match {
        Prop prop;
        std::string_view value;  // valid while the sheet lives, as is name
        std::uint64_t priority;
        std::string_view name;   // a custom property's
    };
    // The declarations of every rule that matches `element`.
    void match(const ElementInfo& element, std::vector<Match>& out) const;

private:
    struct Rules;
    std::unique_ptr<Rules> rules_;
};

}  // namespace simhost::svg
