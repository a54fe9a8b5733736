// The drawing with its selection marked: one outline per selected object,
// drawn over the unchanged drawing.
//
// An outline is the object's own geometry again (a path's data, a
// rectangle's corners, an image's frame, a group's or symbol instance's
// shapes), stroked thin in a colour of its own and filled with nothing, so
// it shows the object's shape whatever its own style. It is placed in the
// object's coordinate system by the transforms of the object's ancestors.
#include <iconv.h>

#include <cctype>
#include <cerrno>
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <unordered_map>

#include <pugixml.hpp>

#include "Css.h"
#include "Geometry.h"
#include "PathData.h"
#include "simhost/XmlText.h"
#include "simhost/svg/SvgDocument.h"

namespace simhost {

namespace {

using namespace svg;

// Stroked at the same width at any zoom, so that it shows on icons and
// posters alike. Shapes solid, containers dashed.
const char* const kShapeStyle =
    "fill:none;stroke:#ff00c8;stroke-width:1.5px;stroke-dasharray:none;vector-effect:non-scaling-stroke;"
    "opacity:1;display:inline;visibility:visible";
const char* const kContainerStyle =
    "fill:none;stroke:#00a0ff;stroke-width:1.5px;stroke-dasharray:4,3;vector-effect:non-scaling-stroke;"
    "opacity:1;display:inline;visibility:visible";

// An outline repeats at most this many shapes of one container, and follows
// references this deep, so a pathological drawing cannot blow it up.
constexpr std::size_t kMaxShapesPerOutline = 100000;
constexpr int kMaxDepth = 1024;

std::string_view localName(const char* qualified) {
    const char* colon = std::strchr(qualified, ':');
    return colon != nullptr ? std::string_view(colon + 1) : std::string_view(qualified);
}

std::string number(double value) {
    char buffer[32];
    const auto end = std::to_chars(buffer, buffer + sizeof buffer, value).ptr;
    return std::string(buffer, end);
}

bool isListSpace(char c) { return c == ' ' || c == ',' || c == '\t' || c == '\n' || c == '\r'; }

// `text` past its first `count` numbers.
std::string_view skipNumbers(std::string_view text, int count) {
    for (int k = 0; k < count; ++k) {
        while (!text.empty() && isListSpace(text.front())) text.remove_prefix(1);
        if (!text.empty() && text.front() == '+') text.remove_prefix(1);
        double value = 0;
        const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
        if (ec != std::errc()) return {};
        text.remove_prefix(static_cast<std::size_t>(end - text.data()));
    }
    return text;
}

bool parseNumbers(std::string_view text, double* values, int count) {
    for (int k = 0; k < count; ++k) {
        while (!text.empty() && (text.front() == ' ' || text.front() == ',' || text.front() == '\t' ||
                                 text.front() == '\n' || text.front() == '\r'))
            text.remove_prefix(1);
        if (!text.empty() && text.front() == '+') text.remove_prefix(1);
        const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), values[k]);
        if (ec != std::errc()) return false;
        text.remove_prefix(static_cast<std::size_t>(end - text.data()));
    }
    return true;
}

// A length in user units; false for a percentage, which would need the
// parent viewport.
bool parseLength(const char* text, double& value) {
    const std::string_view t = trim(text);
    if (t.empty() || t.back() == '%') return false;
    return parseNumbers(t, &value, 1);
}

// How a viewport of `width` by `height` at (x, y) shows `viewBox`: the
// transform from the box's coordinates to the outside, for nested svg and
// symbol elements.
std::string viewportTransform(pugi::xml_node element, double width, double height, bool sized) {
    double x = 0, y = 0;
    parseLength(element.attribute("x").value(), x);
    parseLength(element.attribute("y").value(), y);
    std::string transform;
    if (x != 0 || y != 0) transform = "translate(" + number(x) + " " + number(y) + ")";
    double box[4];
    if (!sized || !parseNumbers(element.attribute("viewBox").value(), box, 4) || box[2] <= 0 || box[3] <= 0)
        return transform;
    double sx = width / box[2], sy = height / box[3];
    double tx = 0, ty = 0;
    const std::string_view aspect = trim(element.attribute("preserveAspectRatio").value());
    if (aspect.substr(0, 4) != "none") {
        const bool slice = aspect.find("slice") != std::string_view::npos;
        const double s = slice ? std::max(sx, sy) : std::min(sx, sy);
        sx = sy = s;
        const std::string_view align = aspect.empty() ? "xMidYMid" : aspect.substr(0, 8);
        const double freeX = width - box[2] * s, freeY = height - box[3] * s;
        if (align.substr(0, 4) == "xMid") tx = freeX / 2;
        else if (align.substr(0, 4) == "xMax") tx = freeX;
        if (align.substr(4, 4) == "YMid") ty = freeY / 2;
        else if (align.substr(4, 4) == "YMax") ty = freeY;
    }
    if (!transform.empty()) transform += " ";
    transform += "translate(" + number(tx) + " " + number(ty) + ") scale(" + number(sx) + " " + number(sy) +
                 ") translate(" + number(-box[0]) + " " + number(-box[1]) + ")";
    return transform;
}

std::string nestedSvgTransform(pugi::xml_node element) {
    double width = 0, height = 0;
    const bool sized =
        parseLength(element.attribute("width").value(), width) && parseLength(element.attribute("height").value(), height);
    return viewportTransform(element, width, height, sized);
}

// How outlines are stroked: for -o, a fixed style that viewers keep at one
// width on screen; for a picture, a width in the root's units, divided by
// each shape's own scale (the renderer has no non-scaling strokes).
struct Pen {
    std::string style = kShapeStyle;  // with no stroke-width when `width` is set
    double width = 0;                 // in the root's user units; 0: `style` says it all
};

std::string withWidth(const Pen& pen, double scale) {
    if (pen.width <= 0) return pen.style;
    return pen.style + ";stroke-width:" + number(scale > 0 ? pen.width / scale : pen.width);
}

class Outliner {
public:
    // Numbers the elements as the reader does: in document order, the root
    // first.
    Outliner(pugi::xml_node root, const std::string& xlinkHref) : root_(root), xlinkHref_(xlinkHref) {
        for (pugi::xml_node n = root; n;) {
            if (n.type() == pugi::node_element) {
                byOrdinal_.push_back(n);
                if (const char* id = n.attribute("id").value(); *id != 0) byId_.emplace(id, n);
            }
            if (n.first_child()) {
                n = n.first_child();
                continue;
            }
            while (n && !n.next_sibling() && n != root) n = n.parent();
            if (!n || n == root) break;
            n = n.next_sibling();
        }
    }

    pugi::xml_node at(std::uint32_t ordinal) const {
        return ordinal < byOrdinal_.size() ? byOrdinal_[ordinal] : pugi::xml_node();
    }

    std::size_t elementCount() const { return byOrdinal_.size(); }

    void setPen(Pen pen) { pen_ = std::move(pen); }
    // The box of every shape outlined since the last reset, in the root's
    // user units.
    const Box& box() const { return box_; }

    // The transform from `element`'s parent's coordinates to the root's.
    Matrix ancestorMatrix(pugi::xml_node element) const { return parseTransform(ancestorTransform(element)); }

    // The transforms from the root's coordinates to those of `element`'s
    // parent, outermost first.
    std::string ancestorTransform(pugi::xml_node element) const {
        std::vector<std::string> parts;
        for (pugi::xml_node n = element.parent(); n && n != root_; n = n.parent()) {
            if (localName(n.name()) == "svg") parts.push_back(nestedSvgTransform(n));
            parts.push_back(n.attribute("transform").value());
        }
        std::string out;
        for (auto it = parts.rbegin(); it != parts.rend(); ++it) {
            if (it->empty()) continue;
            if (!out.empty()) out += ' ';
            out += *it;
        }
        return out;
    }

    // The geometry of `element` as outline markup; `ctm` maps the
    // coordinates `element` is in to the root's.
    void outline(std::string& out, pugi::xml_node element, int depth, const Matrix& ctm) {
        if (depth > kMaxDepth || shapes_ > kMaxShapesPerOutline) return;
        const std::string_view name = localName(element.name());
        const std::string transform = element.attribute("transform").value();
        if (name == "path") {
            // What a viewer draws of the data, as the reader counted it.
            shape(out, "path", {{"d", std::string(drawnPathData(element.attribute("d").value()))}}, transform, ctm);
        } else if (name == "rect" || name == "image") {
            shape(out, "rect", copied(element, {"x", "y", "width", "height", name == "rect" ? "rx" : "", name == "rect" ? "ry" : ""}), transform, ctm);
        } else if (name == "circle") {
            shape(out, "circle", copied(element, {"cx", "cy", "r"}), transform, ctm);
        } else if (name == "ellipse") {
            shape(out, "ellipse", copied(element, {"cx", "cy", "rx", "ry"}), transform, ctm);
        } else if (name == "line") {
            shape(out, "line", copied(element, {"x1", "y1", "x2", "y2"}), transform, ctm);
        } else if (name == "polyline" || name == "polygon") {
            shape(out, std::string(name), copied(element, {"points"}), transform, ctm);
        } else if (name == "use") {
            useOutline(out, element, depth, ctm);
        } else if (name == "g" || name == "a" || name == "switch" || name == "svg" || name == "symbol") {
            std::string inner = transform;
            if (name == "svg" && depth > 0) inner = joined(transform, nestedSvgTransform(element));
            children(out, element, inner, depth, ctm);
        }
        // Text and anything else: no geometry this outline can repeat.
    }

    // A subpath of a compound path on its own.
    void subpathOutline(std::string& out, pugi::xml_node path, std::uint32_t subpath, const Matrix& ctm) {
        const std::vector<std::string> parts = splitSubpaths(path.attribute("d").value());
        if (subpath == 0 || subpath > parts.size()) return;
        shape(out, "path", {{"d", parts[subpath - 1]}}, path.attribute("transform").value(), ctm);
    }

    void reset() {
        shapes_ = 0;
        box_ = Box();
    }
    // The shape count alone: the cap holds per outline, the box goes on.
    void resetCount() { shapes_ = 0; }

private:
    using Attrs = std::vector<std::pair<std::string, std::string>>;

    static std::string joined(const std::string& a, const std::string& b) {
        if (a.empty()) return b;
        if (b.empty()) return a;
        return a + " " + b;
    }

    static Attrs copied(pugi::xml_node element, std::initializer_list<const char*> names) {
        Attrs attrs;
        for (const char* name : names)
            if (*name != 0)
                if (pugi::xml_attribute a = element.attribute(name)) attrs.emplace_back(name, a.value());
        return attrs;
    }

    // A group of `element`'s children's outlines under `transform`.
    void children(std::string& out, pugi::xml_node element, const std::string& transform, int depth,
                  const Matrix& ctm) {
        out += "<g";
        if (!transform.empty()) out += " transform=\"" + xmlEscaped(transform) + "\"";
        out += ">";
        const Matrix inner = ctm.then(parseTransform(transform));
        for (pugi::xml_node child = element.first_child(); child; child = child.next_sibling())
            if (child.type() == pugi::node_element) outline(out, child, depth + 1, inner);
        out += "</g>";
    }

    void shape(std::string& out, const std::string& tag, const Attrs& attrs, const std::string& transform,
               const Matrix& ctm) {
        ++shapes_;
        const Matrix full = ctm.then(parseTransform(transform));
        box_.add(shapeBox(tag, attrs), full);
        out += "<" + tag;
        for (const auto& [name, value] : attrs) out += " " + name + "=\"" + xmlEscaped(value) + "\"";
        if (!transform.empty()) out += " transform=\"" + xmlEscaped(transform) + "\"";
        out += " style=\"" + withWidth(pen_, full.scale()) + "\"/>";
    }

    static Box shapeBox(const std::string& tag, const Attrs& attrs) {
        auto get = [&](const char* name) {
            double value = 0;
            for (const auto& [key, text] : attrs)
                if (key == name) parseLength(text.c_str(), value);
            return value;
        };
        Box box;
        if (tag == "path") {
            for (const auto& [key, text] : attrs) pathPoints(text, [&box](double x, double y) { box.add(x, y); });
        } else if (tag == "rect") {
            box.add(get("x"), get("y"));
            box.add(get("x") + get("width"), get("y") + get("height"));
        } else if (tag == "circle" || tag == "ellipse") {
            const double rx = tag == "circle" ? get("r") : get("rx"), ry = tag == "circle" ? get("r") : get("ry");
            box.add(get("cx") - rx, get("cy") - ry);
            box.add(get("cx") + rx, get("cy") + ry);
        } else if (tag == "line") {
            box.add(get("x1"), get("y1"));
            box.add(get("x2"), get("y2"));
        } else if (!attrs.empty()) {  // polyline, polygon: pairs of numbers
            std::string_view points = attrs.front().second;
            double xy[2];
            while (parseNumbers(points, xy, 2)) {
                box.add(xy[0], xy[1]);
                points = skipNumbers(points, 2);
            }
        }
        return box;
    }

    void useOutline(std::string& out, pugi::xml_node use, int depth, const Matrix& ctm) {
        const char* href = use.attribute("href").value();
        if (*href == 0) href = use.attribute(xlinkHref_.c_str()).value();
        const std::string_view ref = trim(href);
        double x = 0, y = 0;
        parseLength(use.attribute("x").value(), x);
        parseLength(use.attribute("y").value(), y);
        std::string transform = use.attribute("transform").value();
        if (x != 0 || y != 0) transform = joined(transform, "translate(" + number(x) + " " + number(y) + ")");
        out += "<g";
        if (!transform.empty()) out += " transform=\"" + xmlEscaped(transform) + "\"";
        out += ">";
        const Matrix inner = ctm.then(parseTransform(transform));
        if (ref.size() > 1 && ref.front() == '#') {
            const auto it = byId_.find(std::string(ref.substr(1)));
            if (it != byId_.end()) {
                const pugi::xml_node target = it->second;
                if (localName(target.name()) == "symbol") {
                    // A symbol's viewport is the use's size, 100% by default.
                    double width = 0, height = 0;
                    const bool sized = parseLength(use.attribute("width").value(), width) &&
                                       parseLength(use.attribute("height").value(), height);
                    children(out, target, viewportTransform(target, width, height, sized), depth, inner);
                } else {
                    outline(out, target, depth + 1, inner);
                }
            }
        }
        out += "</g>";
    }

    pugi::xml_node root_;
    std::string xlinkHref_;
    std::vector<pugi::xml_node> byOrdinal_;
    std::unordered_map<std::string, pugi::xml_node> byId_;
    std::size_t shapes_ = 0;
    Pen pen_;
    Box box_;
};

// A guide of the named view: a line through its position, across the
// drawing. The named view keeps guide positions with the y axis pointing up
// from the bottom of the view box. Inkscape writes "x,y" with the line's
// normal in `orientation`; before 0.47 it wrote one number, a y for a
// "horizontal" guide and an x for a "vertical" one.
std::string guideOutline(pugi::xml_node guide, pugi::xml_node root, const Pen& pen) {
    double position[2] = {0, 0}, normal[2] = {0, 1}, box[4] = {0, 0, 0, 0};
    const char* orientation = guide.attribute("orientation").value();
    const std::string_view word = trim(orientation);
    if (equalsIgnoringCase(word, "horizontal") || equalsIgnoringCase(word, "vertical")) {
        const bool horizontal = equalsIgnoringCase(word, "horizontal");
        if (!parseNumbers(guide.attribute("position").value(), &position[horizontal ? 1 : 0], 1)) return {};
        normal[0] = horizontal ? 0 : 1;
        normal[1] = horizontal ? 1 : 0;
    } else {
        if (!parseNumbers(guide.attribute("position").value(), position, 2)) return {};
        parseNumbers(orientation, normal, 2);
    }
    if (!parseNumbers(root.attribute("viewBox").value(), box, 4)) parseLength(root.attribute("height").value(), box[3]);
    const double x = position[0], y = box[1] + box[3] - position[1];
    // Along the line: perpendicular to its normal, whose y flips too.
    const double dx = normal[1], dy = normal[0];
    const double reach = 1e6;
    return "<line x1=\"" + number(x - dx * reach) + "\" y1=\"" + number(y - dy * reach) + "\" x2=\"" +
           number(x + dx * reach) + "\" y2=\"" + number(y + dy * reach) + "\" style=\"" + withWidth(pen, 1) + "\"/>";
}

std::string xlinkHrefName(pugi::xml_node root) {
    for (pugi::xml_attribute a = root.first_attribute(); a; a = a.next_attribute()) {
        const std::string_view name = a.name();
        if (name.substr(0, 6) == "xmlns:" && std::strcmp(a.value(), "http://www.w3.org/1999/xlink") == 0)
            return std::string(name.substr(6)) + ":href";
    }
    return "xlink:href";
}

// Where the overlay goes in `text`: just before the root's end tag, or, for
// an empty root <svg/>, in place of its "/>".
struct Insertion {
    std::size_t at;
    std::size_t replace;  // bytes replaced there
    bool selfClosing;
};

// The end of the start tag that begins at `from`: its '>'.
std::size_t startTagEnd(const std::string& text, std::size_t from) {
    char quote = 0;
    for (std::size_t i = from; i < text.size(); ++i) {
        const char c = text[i];
        if (quote != 0) {
            if (c == quote) quote = 0;
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == '>') {
            return i;
        }
    }
    throw DocumentError("cannot find where the drawing's root element ends");
}

Insertion insertionPoint(const std::string& text, pugi::xml_node root) {
    const std::string endTag = std::string("</") + root.name();
    const std::size_t end = text.rfind(endTag);
    if (end != std::string::npos && end > static_cast<std::size_t>(root.offset_debug())) return {end, 0, false};
    // No end tag: the start tag closes itself.
    const std::size_t close = startTagEnd(text, static_cast<std::size_t>(root.offset_debug()));
    if (close > 0 && text[close - 1] == '/') return {close - 1, 2, true};
    throw DocumentError("cannot find where the drawing's root element ends");
}

std::string withOverlay(const std::string& text, pugi::xml_node root, const std::string& overlay) {
    const Insertion insertion = insertionPoint(text, root);
    std::string out;
    out.reserve(text.size() + overlay.size() + 16);
    out.append(text, 0, insertion.at);
    if (insertion.selfClosing) out += ">" + overlay + "</" + std::string(root.name()) + ">";
    else out += overlay;
    out.append(text, insertion.at + insertion.replace, std::string::npos);
    return out;
}

// ---- Encodings ---------------------------------------------------------------

// The encoding the text declares (or its byte order mark says), lower case;
// "utf-8" when it says none.
std::string declaredEncoding(const std::string& text) {
    if (text.size() >= 2) {
        const auto b0 = static_cast<unsigned char>(text[0]), b1 = static_cast<unsigned char>(text[1]);
        if ((b0 == 0xFE && b1 == 0xFF) || (b0 == 0 && b1 == '<')) return "utf-16be";
        if ((b0 == 0xFF && b1 == 0xFE) || (b0 == '<' && b1 == 0)) return "utf-16le";
    }
    if (text.compare(0, 5, "<?xml") != 0) return "utf-8";
    const std::size_t end = text.find("?>");
    const std::size_t at = text.find("encoding", 0);
    if (at == std::string::npos || at > end) return "utf-8";
    const std::size_t open = text.find_first_of("\"'", at);
    const std::size_t close = open == std::string::npos ? open : text.find(text[open], open + 1);
    if (close == std::string::npos || close > end) return "utf-8";
    std::string name = text.substr(open + 1, close - open - 1);
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return name;
}

std::string transcoded(const std::string& text, const std::string& from) {
    const iconv_t cd = iconv_open("UTF-8", from.c_str());
    if (cd == reinterpret_cast<iconv_t>(-1)) throw DocumentError("cannot convert the drawing from " + from);
    std::string out(text.size() * 2 + 16, '\0');
    char* in = const_cast<char*>(text.data());
    std::size_t inLeft = text.size(), done = 0;
    while (inLeft > 0) {
        char* at = out.data() + done;
        std::size_t outLeft = out.size() - done;
        const std::size_t r = iconv(cd, &in, &inLeft, &at, &outLeft);
        done = static_cast<std::size_t>(at - out.data());
        if (r != static_cast<std::size_t>(-1)) break;
        if (errno != E2BIG) {
            iconv_close(cd);
            throw DocumentError("the drawing is not valid " + from);
        }
        out.resize(out.size() * 2);
    }
    iconv_close(cd);
    out.resize(done);
    if (out.compare(0, 3, "\xEF\xBB\xBF") == 0) out.erase(0, 3);
    return out;
}

// The text in UTF-8, its declaration saying so: an outline added to a
// drawing in another encoding would otherwise mix two encodings in one file.
std::string asUtf8(const std::string& text) {
    const std::string encoding = declaredEncoding(text);
    if (encoding == "utf-8" || encoding == "utf8" || encoding == "us-ascii" || encoding == "ascii") return text;
    std::string out = transcoded(text, encoding == "utf-16" ? "UTF-16" : encoding);
    const std::size_t end = out.compare(0, 5, "<?xml") == 0 ? out.find("?>") : std::string::npos;
    const std::size_t at = end == std::string::npos ? end : out.find("encoding", 0);
    if (at == std::string::npos || at > end) return out;
    const std::size_t open = out.find_first_of("\"'", at);
    const std::size_t close = open == std::string::npos ? open : out.find(out[open], open + 1);
    if (close != std::string::npos && close < end) out.replace(open + 1, close - open - 1, "UTF-8");
    return out;
}

// ---- Overlays -------------------------------------------------------------------

struct Pens {
    Pen shape, container;
};

// One outline group per object, each in its object's coordinates; the
// box of each object's shapes goes to `boxes` when it is given.
// `idAttribute` names the attribute that carries each object's id.
std::string outlines(const SvgDocument& svg, Outliner& outliner, pugi::xml_node root,
                     const std::vector<ArtIndex>& objects, const Pens& pens, std::vector<Box>* boxes,
                     const char* idAttribute = "data-simhost-id") {
    std::string overlay;
    for (const ArtIndex index : objects) {
        const auto i = static_cast<std::size_t>(index);
        const std::uint32_t ordinal =
            i < svg.elementOrdinal.size() ? svg.elementOrdinal[i] : SvgDocument::kNoElement;
        const pugi::xml_node element = ordinal == SvgDocument::kNoElement ? pugi::xml_node() : outliner.at(ordinal);
        const ArtNode& node = svg.document.art(index);
        // Containers are drawn dashed: their shapes, not one shape.
        const bool container = node.type == kGroupArt || node.type == kCompoundPathArt || node.type == kSymbolArt;
        overlay += std::string("\n<g class=\"simhost-outline\" ") + idAttribute + "=\"" + xmlEscaped(svg.idOf(index)) + "\"";
        Matrix ctm;
        if (element) {
            const std::string transform = outliner.ancestorTransform(element);
            if (!transform.empty()) overlay += " transform=\"" + xmlEscaped(transform) + "\"";
            ctm = parseTransform(transform);
        }
        overlay += container ? " data-simhost-kind=\"container\">" : ">";
        outliner.reset();
        outliner.setPen(container ? pens.container : pens.shape);
        if (element && node.guide != 0) overlay += guideOutline(element, root, pens.shape);
        else if (element && svg.subpath[i] != 0) outliner.subpathOutline(overlay, element, svg.subpath[i], ctm);
        else if (element) outliner.outline(overlay, element, 0, ctm);
        overlay += "</g>";
        if (boxes != nullptr && node.guide == 0) boxes->push_back(outliner.box());
    }
    return overlay;
}

struct Parsed {
    std::string text;  // in UTF-8
    pugi::xml_document xml;
    pugi::xml_node root;
};

void parseDrawing(const std::string& text, Parsed& parsed) {
    parsed.text = asUtf8(text);
    if (!parsed.xml.load_buffer(parsed.text.data(), parsed.text.size(), pugi::parse_default, pugi::encoding_utf8))
        throw DocumentError("the drawing cannot be read again");
    parsed.root = parsed.xml.document_element();
}

// The overlay's outer group; in the SVG namespace whatever prefix the
// drawing gives it.
const char* const kOverlayStart =
    "\n<g xmlns=\"http://www.w3.org/2000/svg\" id=\"simhost-selection\" class=\"simhost-selection\">";

// ---- The selection picture -------------------------------------------------------

// The page: the root's view box, else its size.
Box pageBox(pugi::xml_node root) {
    Box page;
    double box[4];
    if (parseNumbers(root.attribute("viewBox").value(), box, 4) && box[2] > 0 && box[3] > 0) {
        page.add(box[0], box[1]);
        page.add(box[0] + box[2], box[1] + box[3]);
    } else {
        double width = 0, height = 0;
        if (parseLength(root.attribute("width").value(), width) && parseLength(root.attribute("height").value(), height)) {
            page.add(0, 0);
            page.add(width, height);
        }
    }
    return page;
}

// Everything the drawing draws, in the root's user units.
Box drawingBox(Outliner& outliner, pugi::xml_node root) {
    outliner.reset();
    std::string scratch;
    for (pugi::xml_node child = root.first_child(); child; child = child.next_sibling()) {
        if (child.type() != pugi::node_element) continue;
        outliner.resetCount();
        outliner.outline(scratch, child, 1, Matrix());
        scratch.clear();
    }
    return outliner.box();
}

// The part of the drawing the picture shows, with a margin about it.
Box pictureArea(PictureOptions::Area kind, Outliner& outliner, pugi::xml_node root, const std::vector<Box>& selected) {
    Box area;
    if (kind == PictureOptions::Area::kSelection)
        for (const Box& box : selected) area.add(box);
    if (area.empty() && kind != PictureOptions::Area::kPage) area = drawingBox(outliner, root);
    if (area.empty()) area = pageBox(root);
    if (area.empty()) area.add(0, 0), area.add(100, 100);
    double margin = std::max(area.width(), area.height()) * 0.03;
    if (margin <= 0) margin = 1;
    area.add(area.x0 - margin, area.y0 - margin);
    area.add(area.x1 + margin, area.y1 + margin);
    return area;
}

std::string rectMarkup(const Box& box, const std::string& style, const std::string& extra = {}) {
    return "<rect x=\"" + number(box.x0) + "\" y=\"" + number(box.y0) + "\" width=\"" + number(box.width()) +
           "\" height=\"" + number(box.height()) + "\" style=\"" + style + "\"" + extra + "/>";
}

bool isTransparent(const std::string& color) {
    return color.empty() || equalsIgnoringCase(color, "none") || equalsIgnoringCase(color, "transparent");
}

// The root's start tag framing `area` at `width` by `height` pixels.
std::string framedRoot(pugi::xml_node root, const Box& area, int width, int height) {
    std::string tag = "<" + std::string(root.name());
    for (pugi::xml_attribute a = root.first_attribute(); a; a = a.next_attribute()) {
        const std::string_view name = a.name();
        if (name == "width" || name == "height" || name == "viewBox" || name == "preserveAspectRatio" || name == "x" ||
            name == "y")
            continue;
        tag += " " + std::string(name) + "=\"" + xmlEscaped(a.value()) + "\"";
    }
    return tag + " width=\"" + std::to_string(width) + "\" height=\"" + std::to_string(height) + "\" viewBox=\"" +
           number(area.x0) + " " + number(area.y0) + " " + number(area.width()) + " " + number(area.height()) +
           "\" preserveAspectRatio=\"none\">";
}

// Unselected art seen through a veil; the selected objects' shapes are
// holes in it.
std::string veil(const SvgDocument& svg, Outliner& outliner, pugi::xml_node root, const std::vector<ArtIndex>& objects,
                 const Box& area, double unit, const std::string& color) {
    const Pen hole{"fill:#000;stroke:#000;stroke-dasharray:none;opacity:1;display:inline;visibility:visible", 4 * unit};
    return "<mask id=\"simhost-holes\" maskUnits=\"userSpaceOnUse\" x=\"" + number(area.x0) + "\" y=\"" +
           number(area.y0) + "\" width=\"" + number(area.width()) + "\" height=\"" + number(area.height()) + "\">" +
           rectMarkup(area, "fill:#fff;stroke:none") + outlines(svg, outliner, root, objects, {hole, hole}, nullptr) +
           "</mask>" + rectMarkup(area, "fill:" + color + ";fill-opacity:0.72;stroke:none", " mask=\"url(#simhost-holes)\"");
}

}  // namespace

std::string markedSvg(const SvgDocument& svg, const std::string& text, const std::vector<ArtIndex>& objects) {
    Parsed parsed;
    parseDrawing(text, parsed);
    Outliner outliner(parsed.root, xlinkHrefName(parsed.root));
    const std::string overlay = kOverlayStart +
                                outlines(svg, outliner, parsed.root, objects, {Pen(), Pen{kContainerStyle, 0}}, nullptr) +
                                "\n</g>\n";
    return withOverlay(parsed.text, parsed.root, overlay);
}

std::string selectionPictureSvg(const SvgDocument& svg, const std::string& text, const std::vector<ArtIndex>& objects,
                                const PictureOptions& options, int* height) {
    Parsed parsed;
    parseDrawing(text, parsed);
    Outliner outliner(parsed.root, xlinkHrefName(parsed.root));
    std::vector<Box> boxes;
    outlines(svg, outliner, parsed.root, objects, {}, &boxes);
    const Box area = pictureArea(options.area, outliner, parsed.root, boxes);
    const int width = std::clamp(options.width, 1, 32768);
    const int pixelsHigh =
        static_cast<int>(std::clamp(std::lround(width * area.height() / area.width()), 1L, 32768L));
    // The outlines' width: two pixels of the picture, in the root's units.
    const double unit = area.width() / width;
    const std::string shapeStyle = "fill:none;stroke:#ff00c8;stroke-dasharray:none;opacity:1;display:inline;visibility:visible";
    const std::string containerStyle = "fill:none;stroke:#00a0ff;stroke-dasharray:" + number(8 * unit) + "," +
                                       number(6 * unit) + ";opacity:1;display:inline;visibility:visible";
    std::string overlay = kOverlayStart;
    if (options.dim)
        overlay += veil(svg, outliner, parsed.root, objects, area, unit,
                        isTransparent(options.background) ? std::string("#fff") : options.background);
    overlay += outlines(svg, outliner, parsed.root, objects, {Pen{shapeStyle, 2 * unit}, Pen{containerStyle, 2 * unit}},
                        nullptr);
    // Each object's bounding box, thinner and dashed.
    const std::string boxStyle = "fill:none;stroke:#ff7a00;stroke-width:" + number(unit) +
                                 ";stroke-dasharray:" + number(4 * unit) + "," + number(4 * unit);
    for (const Box& box : boxes)
        if (!box.empty()) overlay += "\n" + rectMarkup(box, boxStyle, " class=\"simhost-box\"");
    overlay += "\n</g>\n";
    std::string out = withOverlay(parsed.text, parsed.root, overlay);
    std::size_t start = static_cast<std::size_t>(parsed.root.offset_debug());
    while (start > 0 && out[start] != '<') --start;
    const std::size_t end = startTagEnd(out, start);
    out.replace(start, end + 1 - start, framedRoot(parsed.root, area, width, pixelsHigh));
    if (height != nullptr) *height = pixelsHigh;
    return out;
}

}  // namespace simhost

// ---- The outlines alone (SvgOverlay.h) -------------------------------------

#include "simhost/svg/SvgOverlay.h"

namespace simhost {

using DrawingParse = Parsed;

struct SelectionOutlines::Parsed {
    DrawingParse drawing;
    std::unique_ptr<Outliner> outliner;
};

SelectionOutlines::SelectionOutlines(const SvgDocument& svg, const std::string& text)
    : svg_(svg), parsed_(std::make_unique<Parsed>()) {
    parseDrawing(text, parsed_->drawing);
    const pugi::xml_node root = parsed_->drawing.root;
    parsed_->outliner = std::make_unique<Outliner>(root, xlinkHrefName(root));
}

SelectionOutlines::~SelectionOutlines() = default;

// The same outlines as markedSvg draws, without the drawing around them.
std::string SelectionOutlines::operator()(const std::vector<ArtIndex>& objects) {
    return outlines(svg_, *parsed_->outliner, parsed_->drawing.root, objects, {Pen(), Pen{kContainerStyle, 0}},
                    nullptr, "data-object-id");
}

namespace {

bool isContainerElement(std::string_view name) { return name == "g" || name == "a" || name == "switch" || name == "svg"; }

// How many elements `element` holds, itself included.
std::uint32_t elementsIn(pugi::xml_node element) {
    std::uint32_t count = 1;
    for (pugi::xml_node child = element.first_child(); child; child = child.next_sibling())
        if (child.type() == pugi::node_element) count += elementsIn(child);
    return count;
}

// Walks `element` and what it holds in document order, numbering elements
// from `ordinal` as the reader does; stores each art element's box in the
// root's coordinates at its number and returns `element`'s. `ctm` maps the
// coordinates `element` is in to the root's. A container's box is its
// members' (not what sits in its definitions); anything else is outlined
// once, as markedSvg draws it.
Box boxesBelow(Outliner& outliner, pugi::xml_node element, const Matrix& ctm, int depth, std::uint32_t& ordinal,
               std::vector<Box>& boxes) {
    const std::uint32_t mine = ordinal++;
    const std::string_view name = localName(element.name());
    Box box;
    if (isContainerElement(name) && depth <= kMaxDepth) {
        Matrix inner = ctm;
        if (depth > 0) {
            inner = ctm.then(parseTransform(element.attribute("transform").value()));
            if (name == "svg") inner = inner.then(parseTransform(nestedSvgTransform(element)));
        }
        for (pugi::xml_node child = element.first_child(); child; child = child.next_sibling())
            if (child.type() == pugi::node_element) box.add(boxesBelow(outliner, child, inner, depth + 1, ordinal, boxes));
    } else {
        std::string scratch;
        outliner.reset();
        outliner.outline(scratch, element, depth, ctm);
        box = outliner.box();
        for (pugi::xml_node child = element.first_child(); child; child = child.next_sibling())
            if (child.type() == pugi::node_element) ordinal += elementsIn(child);
    }
    if (mine < boxes.size()) boxes[mine] = box;
    return box;
}

// A subpath's own box: `parts` are its element's subpaths, `m` maps them
// to the root's coordinates.
Box subpathBox(const std::vector<std::string>& parts, std::uint32_t subpath, const Matrix& m) {
    Box local, box;
    if (subpath == 0 || subpath > parts.size()) return box;
    pathPoints(parts[subpath - 1], [&local](double x, double y) { local.add(x, y); });
    if (!local.empty()) box.add(local, m);
    return box;
}

}  // namespace

const std::vector<SelectionOutlines::ObjectBox>& SelectionOutlines::objectBoxes() {
    const std::size_t count = svg_.document.artCount();
    if (boxes_.size() == count) return boxes_;
    Outliner& outliner = *parsed_->outliner;
    std::vector<Box> byElement(outliner.elementCount());
    std::uint32_t ordinal = 0;
    boxesBelow(outliner, parsed_->drawing.root, Matrix(), 0, ordinal, byElement);
    boxes_.assign(count, ObjectBox{Box().x0, Box().y0, Box().x1, Box().y1});
    // A compound path's subpaths: its data split once for all of them.
    std::uint32_t splitOrdinal = SvgDocument::kNoElement;
    std::vector<std::string> parts;
    Matrix partMatrix;
    for (std::size_t i = 0; i < count && i < svg_.elementOrdinal.size(); ++i) {
        const std::uint32_t at = svg_.elementOrdinal[i];
        if (at == SvgDocument::kNoElement || at >= byElement.size()) continue;
        Box box = byElement[at];
        if (svg_.subpath[i] != 0) {
            if (at != splitOrdinal) {
                const pugi::xml_node path = outliner.at(at);
                parts = splitSubpaths(path.attribute("d").value());
                partMatrix = outliner.ancestorMatrix(path).then(parseTransform(path.attribute("transform").value()));
                splitOrdinal = at;
            }
            box = subpathBox(parts, svg_.subpath[i], partMatrix);
        }
        boxes_[i] = {box.x0, box.y0, box.x1, box.y1};
    }
    return boxes_;
}

bool SelectionOutlines::covers(ArtIndex index, double x, double y) {
    const auto i = static_cast<std::size_t>(index);
    if (i >= svg_.elementOrdinal.size() || svg_.subpath[i] != 0) return true;
    const pugi::xml_node element = parsed_->outliner->at(svg_.elementOrdinal[i]);
    const std::string_view name = localName(element.name());
    const bool round = name == "circle" || name == "ellipse";
    if (!round && name != "rect") return true;
    const Matrix m =
        parsed_->outliner->ancestorMatrix(element).then(parseTransform(element.attribute("transform").value()));
    const double det = m.a * m.d - m.b * m.c;
    if (!(std::abs(det) > 1e-300)) return true;
    // The point in the shape's own coordinates.
    const double px = x - m.e, py = y - m.f;
    const double u = (m.d * px - m.c * py) / det, v = (m.a * py - m.b * px) / det;
    auto get = [&element](const char* attribute) {
        double value = 0;
        parseLength(element.attribute(attribute).value(), value);
        return value;
    };
    if (!round) return get("x") <= u && u <= get("x") + get("width") && get("y") <= v && v <= get("y") + get("height");
    const double rx = name == "circle" ? get("r") : get("rx"), ry = name == "circle" ? get("r") : get("ry");
    if (rx <= 0 || ry <= 0) return false;
    const double du = (u - get("cx")) / rx, dv = (v - get("cy")) / ry;
    return du * du + dv * dv <= 1;
}

std::array<double, 4> SelectionOutlines::contentBox() {
    const pugi::xml_node root = parsed_->drawing.root;
    Box box = pageBox(root);
    box.add(drawingBox(*parsed_->outliner, root));
    if (box.empty()) return {0, 0, 0, 0};
    return {box.x0, box.y0, box.width(), box.height()};
}

}  // namespace simhost
