// SVG drawings as host documents.
//
// The reader maps an SVG file (plain or gzip-compressed) onto the host's
// document model the way a viewer sees the drawing:
//
//   - layers: the top-level <g inkscape:groupmode="layer"> elements, or, in
//     a drawing without them, every top-level <g>; other top-level art goes
//     to one default layer, placed where its first object appears. A layer
//     hidden by display:none is not visible; one carrying
//     sodipodi:insensitive is not editable;
//   - objects: g, a, switch and nested svg are groups; a path with one
//     subpath is a path (closed when the subpath ends with z), with several a
//     compound path holding one path per subpath; rect, circle, ellipse and
//     polygon are closed paths, line and polyline open ones; an image with a
//     data: URI is a raster, any other image a placed object; use is a symbol
//     instance; a shape filled with a mesh gradient is a mesh; text is text;
//     foreignObject is an object of a kind no command selects. Nothing in
//     defs, symbol, clipPath, mask, pattern, marker or any element the reader
//     does not know is art;
//   - style: presentation attributes, <style> rules (which reach the root
//     too), the style attribute and inheritance give each shape its fill and
//     stroke flags (on unless the computed paint is none, or a paint server
//     that paints nothing) and its dash count (entries of stroke-dasharray,
//     0 when they sum to zero); a declaration whose value does not parse
//     (a negative dash among them) is dropped;
//   - hidden (attribute bit 4): display:none on the object or an ancestor
//     below the layer, computed visibility hidden or collapse, or a child of
//     a switch that the switch does not render, or with conditions
//     (systemLanguage, requiredExtensions) that fail;
//     locked (bit 2):
//     sodipodi:insensitive on the object or an ancestor below the layer;
//   - guides: each sodipodi:guide of the named view is a guide path on a
//     layer "Guides" of its own, after the drawing's layers; locked when the
//     named view locks guides or the guide is locked, hidden when the named
//     view hides guides. The sodipodi namespace is read under its current
//     name and the one Inkscape wrote before 0.47.
//   - path data ends at its first error, as a viewer draws it.
//
// Ids are the element's id, else a path from the root such as
// /svg/g[2]/path[5] (the fifth path child of the second g child); a subpath
// of a compound path adds /subpath[k] to its path's id.
//
// Single-byte encodings that expat does not know are read through iconv.
//
// The reader streams the file through expat, holding only the document it
// builds, never the text or a tree of it. It follows no external reference
// (no external entity, DTD or network access; expat's own guard stops entity
// amplification), and refuses elements nested more than 1024 levels deep.
// Most drawings are read in one pass; one that declares a style sheet, a
// paint server or an Inkscape layer after content it applies to is read a
// second time with what the first pass learnt.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "simhost/Document.h"
#include "simhost/DocumentJson.h"

namespace simhost {

// Documents larger than this, after decompression, are refused.
constexpr std::uint64_t kMaxSvgBytes = std::uint64_t(2) << 30;

struct SvgDocument {
    Document document;
    // Per object (by ArtIndex): its element's position among all elements of
    // the file in document order, from 0, or kNoElement for objects without
    // an element of their own (the roots of the default and guide layers).
    std::vector<std::uint32_t> elementOrdinal;
    // Per object: the subpath of its element it stands for, from 1; 0 for
    // the whole element.
    std::vector<std::uint32_t> subpath;
    // Per object: the last step of its path id ("path[5]" as a name from
    // `stepNames` and a position), from which idOf() builds an id on demand,
    // so that deep drawings do not hold a long path for every object.
    struct Step {
        std::uint32_t name = 0;
        std::uint32_t position = 0;
    };
    std::vector<Step> steps;
    std::vector<std::string> stepNames;

    static constexpr std::uint32_t kNoElement = ~std::uint32_t(0);

    // The object's id: its element's id, else its path from the root.
    std::string idOf(ArtIndex index) const;
};

// Reads the file whole, inflating gzip data (recognised by its magic bytes,
// whatever the file is called). "-" is standard input; pipes and devices are
// read as streams, the size limit checked as the bytes come. Throws
// DocumentError for a missing, unreadable, empty or too large (over
// kMaxSvgBytes) file, or broken (or truncated) compressed data.
std::string readDocumentBytes(const std::string& path);

// Throws DocumentError naming `origin` and, for malformed XML, the line.
SvgDocument svgDocumentFromText(std::string text, const std::string& origin);
SvgDocument loadSvgDocument(const std::string& path);
// Reads a drawing as its bytes arrive: `read(buffer, capacity)` gives up to
// `capacity` bytes, 0 at the end. A drawing that needs a second pass is read
// again from `whole`, which must hold every byte by the end of the first.
// `expectedBytes` (about the text's length) sizes the document.
SvgDocument svgDocumentFromStream(const std::function<std::size_t(char*, std::size_t)>& read, const std::string& whole,
                                  std::uint64_t expectedBytes, const std::string& origin);

// The drawing with the given objects marked: `text` (what `svg` was read
// from) unchanged, with one outline per object, in the order given, added on
// top as the last child of the root element. Outlines carry the class
// "simhost-outline" and the object's id in data-simhost-id.
std::string markedSvg(const SvgDocument& svg, const std::string& text, const std::vector<ArtIndex>& objects);

// A picture of the selection.
struct PictureOptions {
    enum class Area {
        kPage,       // the page (the root's view box or size)
        kDrawing,    // everything drawn, on the page or off it
        kSelection,  // the selected objects
    };
    Area area = Area::kDrawing;
    int width = 1024;                // pixels; the height follows the area
    std::string background = "white";  // a CSS colour; "none" keeps it transparent
    bool dim = true;                 // veil what is not selected
};

// The drawing to render for the picture: marked as markedSvg() marks it,
// its outlines two pixels wide at the picture's size whatever the drawing's
// scale, each object's bounding box drawn, the rest veiled, and the root's
// viewport framing the area. `height`, when given, receives the picture's
// height in pixels.
std::string selectionPictureSvg(const SvgDocument& svg, const std::string& text, const std::vector<ArtIndex>& objects,
                                const PictureOptions& options, int* height = nullptr);

// Renders that picture to `pngPath` with rsvg-convert (Debian's
// librsvg2-bin). Linked files resolve against the folder of `sourcePath`
// (the file the drawing was read from; empty for none). Throws DocumentError.
void writeSelectionPng(const SvgDocument& svg, const std::string& text, const std::string& sourcePath,
                       const std::vector<ArtIndex>& objects, const PictureOptions& options, const std::string& pngPath);

// Reads an option value: "page", "drawing" or "selection".
inline bool parsePictureArea(const std::string& text, PictureOptions::Area& area) {
    if (text == "page") area = PictureOptions::Area::kPage;
    else if (text == "drawing") area = PictureOptions::Area::kDrawing;
    else if (text == "selection") area = PictureOptions::Area::kSelection;
    else return false;
    return true;
}

}  // namespace simhost
