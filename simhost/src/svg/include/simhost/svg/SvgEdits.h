// Edits of a drawing's text: where each element's bytes lie, the two forms
// in a start tag that hide and lock an object as Inkscape writes them, and
// the text written again with elements cut and start tags replaced, every
// other byte as it was.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace simhost {

// The namespace of sodipodi: attributes (Inkscape's "locked" among them).
inline constexpr const char* kSodipodiNamespace = "http://sodipodi.sourceforge.net/DTD/sodipodi-0.dtd";

// Where one element lies in the text, in byte offsets into the text as
// read: its start tag [start, tagEnd), the whole element [start, end).
struct ElementSpan {
    std::uint32_t start = 0;
    std::uint32_t tagEnd = 0;
    std::uint32_t end = 0;
    std::uint32_t parent = ~std::uint32_t(0);  // its parent element's ordinal
    // A definition (defs, a gradient, a clip path, a style sheet...) that
    // objects elsewhere may use: kept when an element holding it is cut.
    bool definition = false;
};

// Every element of the text, by its ordinal (its position among all
// elements in document order, from 0: the reader's elementOrdinal), found
// by one expat pass without building a tree.
struct SvgElements {
    std::vector<ElementSpan> spans;
    // The prefix the root binds to the sodipodi namespace; empty when the
    // root binds none.
    std::string sodipodiPrefix;
    // Throws DocumentError naming `origin` when the text is not XML expat
    // reads byte for byte (UTF-16, say) or is larger than 4 GiB.
    static SvgElements scan(std::string_view text, const std::string& origin);
};

// The forms of a start tag that hide and lock its object.
struct TagForms {
    bool hidden = false;  // display:none in the style attribute
    bool locked = false;  // sodipodi:insensitive, any value but false or 0
    bool shown = false;   // display:inline in the style attribute (a layer
                          // shown over what else hides it)
    bool operator==(const TagForms& o) const { return hidden == o.hidden && locked == o.locked && shown == o.shown; }
    bool operator!=(const TagForms& o) const { return !(*this == o); }
};

TagForms formsOf(std::string_view startTag, const std::string& sodipodiPrefix);
// `startTag` with `forms`: the style's display declaration and the
// insensitive attribute added, changed or removed, every other byte kept
// (attribute order, quotes, white space, entities).
std::string withForms(std::string_view startTag, const TagForms& forms, const std::string& sodipodiPrefix);

// One change of the text: the bytes [begin, end) become `text`.
struct Splice {
    std::uint32_t begin = 0;
    std::uint32_t end = 0;
    std::string text;
};

// The splices that cut element `ordinal` out, keeping the definitions it
// holds where they were, and the line its start tag stood on when nothing
// else was on it.
void cutElement(std::string_view text, const SvgElements& elements, std::uint32_t ordinal, std::vector<Splice>& out);

// `text` with `splices` (any order; one inside another's range is dropped,
// as what a cut element held goes with it) applied.
std::string spliced(std::string_view text, std::vector<Splice> splices);

// The root's start tag with the sodipodi namespace bound to "sodipodi".
std::string withSodipodiDeclared(std::string_view rootTag);

}  // namespace simhost
