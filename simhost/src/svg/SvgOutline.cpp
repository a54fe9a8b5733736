// The drawing with its selection marked: one outline per selected object,
// drawn over the unchanged drawing.
//
// An outline is the object's own geometry again (a path's data, a
// rectangle's corners, an image's frame, a group's or symbol instance's
// shapes), stroked thin in a colour of its own and filled with nothing, so
// it shows the object's shape whatever its own style. It is placed in the
// object's coordinate system by the transforms of the object's ancestors.
#include <charconv>
#include <cstring>
#include <unordered_map>

#include <pugixml.hpp>

#include "Css.h"
#include "PathData.h"
#include "simhost/SvgDocument.h"

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

std::string escaped(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            default: out += c;
        }
    }
    return out;
}

std::string number(double value) {
    char buffer[32];
    const auto end = std::to_chars(buffer, buffer + sizeof buffer, value).ptr;
    return std::string(buffer, end);
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

    // The geometry of `element` as outline markup.
    void outline(std::string& out, pugi::xml_node element, int depth) {
        if (depth > kMaxDepth || shapes_ > kMaxShapesPerOutline) return;
        const std::string_view name = localName(element.name());
        const std::string transform = element.attribute("transform").value();
        if (name == "path") {
            shape(out, "path", {{"d", element.attribute("d").value()}}, transform);
        } else if (name == "rect" || name == "image") {
            shape(out, "rect", copied(element, {"x", "y", "width", "height", name == "rect" ? "rx" : "", name == "rect" ? "ry" : ""}), transform);
        } else if (name == "circle") {
            shape(out, "circle", copied(element, {"cx", "cy", "r"}), transform);
        } else if (name == "ellipse") {
            shape(out, "ellipse", copied(element, {"cx", "cy", "rx", "ry"}), transform);
        } else if (name == "line") {
            shape(out, "line", copied(element, {"x1", "y1", "x2", "y2"}), transform);
        } else if (name == "polyline" || name == "polygon") {
            shape(out, std::string(name), copied(element, {"points"}), transform);
        } else if (name == "use") {
            useOutline(out, element, depth);
        } else if (name == "g" || name == "a" || name == "switch" || name == "svg" || name == "symbol") {
            std::string inner = transform;
            if (name == "svg" && depth > 0) inner = joined(transform, nestedSvgTransform(element));
            out += "<g";
            if (!inner.empty()) out += " transform=\"" + escaped(inner) + "\"";
            out += ">";
            for (pugi::xml_node child = element.first_child(); child; child = child.next_sibling())
                if (child.type() == pugi::node_element) outline(out, child, depth + 1);
            out += "</g>";
        }
        // Text and anything else: no geometry this outline can repeat.
    }

    // A subpath of a compound path on its own.
    void subpathOutline(std::string& out, pugi::xml_node path, std::uint32_t subpath) {
        const std::vector<std::string> parts = splitSubpaths(path.attribute("d").value());
        if (subpath == 0 || subpath > parts.size()) return;
        shape(out, "path", {{"d", parts[subpath - 1]}}, path.attribute("transform").value());
    }

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

    void shape(std::string& out, const std::string& tag, const Attrs& attrs, const std::string& transform) {
        ++shapes_;
        out += "<" + tag;
        for (const auto& [name, value] : attrs) out += " " + name + "=\"" + escaped(value) + "\"";
        if (!transform.empty()) out += " transform=\"" + escaped(transform) + "\"";
        out += " style=\"";
        out += kShapeStyle;
        out += "\"/>";
    }

    void useOutline(std::string& out, pugi::xml_node use, int depth) {
        const char* href = use.attribute("href").value();
        if (*href == 0) href = use.attribute(xlinkHref_.c_str()).value();
        const std::string_view ref = trim(href);
        double x = 0, y = 0;
        parseLength(use.attribute("x").value(), x);
        parseLength(use.attribute("y").value(), y);
        std::string transform = use.attribute("transform").value();
        if (x != 0 || y != 0) transform = joined(transform, "translate(" + number(x) + " " + number(y) + ")");
        out += "<g";
        if (!transform.empty()) out += " transform=\"" + escaped(transform) + "\"";
        out += ">";
        if (ref.size() > 1 && ref.front() == '#') {
            const auto it = byId_.find(std::string(ref.substr(1)));
            if (it != byId_.end()) {
                const pugi::xml_node target = it->second;
                if (localName(target.name()) == "symbol") {
                    // A symbol's viewport is the use's size, 100% by default.
                    double width = 0, height = 0;
                    const bool sized = parseLength(use.attribute("width").value(), width) &&
                                       parseLength(use.attribute("height").value(), height);
                    const std::string viewport = viewportTransform(target, width, height, sized);
                    out += "<g";
                    if (!viewport.empty()) out += " transform=\"" + escaped(viewport) + "\"";
                    out += ">";
                    for (pugi::xml_node child = target.first_child(); child; child = child.next_sibling())
                        if (child.type() == pugi::node_element) outline(out, child, depth + 1);
                    out += "</g>";
                } else {
                    outline(out, target, depth + 1);
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
};

// A guide of the named view: a line through its position, across the
// drawing. The named view keeps guide positions with the y axis pointing up
// from the bottom of the view box.
std::string guideOutline(pugi::xml_node guide, pugi::xml_node root) {
    double position[2], normal[2] = {0, 1}, box[4] = {0, 0, 0, 0};
    if (!parseNumbers(guide.attribute("position").value(), position, 2)) return {};
    parseNumbers(guide.attribute("orientation").value(), normal, 2);
    if (!parseNumbers(root.attribute("viewBox").value(), box, 4)) parseLength(root.attribute("height").value(), box[3]);
    const double x = position[0], y = box[3] - position[1];
    // Along the line: perpendicular to its normal, whose y flips too.
    const double dx = normal[1], dy = normal[0];
    const double reach = 1e6;
    return "<line x1=\"" + number(x - dx * reach) + "\" y1=\"" + number(y - dy * reach) + "\" x2=\"" +
           number(x + dx * reach) + "\" y2=\"" + number(y + dy * reach) + "\" style=\"" + kShapeStyle + "\"/>";
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

Insertion insertionPoint(const std::string& text, pugi::xml_node root) {
    const std::string endTag = std::string("</") + root.name();
    const std::size_t end = text.rfind(endTag);
    if (end != std::string::npos && end > static_cast<std::size_t>(root.offset_debug())) return {end, 0, false};
    // No end tag: the start tag closes itself. Find its end outside quotes.
    char quote = 0;
    for (std::size_t i = static_cast<std::size_t>(root.offset_debug()); i < text.size(); ++i) {
        const char c = text[i];
        if (quote != 0) {
            if (c == quote) quote = 0;
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == '>') {
            if (i > 0 && text[i - 1] == '/') return {i - 1, 2, true};
            break;
        }
    }
    throw DocumentError("cannot find where the drawing's root element ends");
}

}  // namespace

std::string markedSvg(const SvgDocument& svg, const std::string& text, const std::vector<ArtIndex>& objects) {
    if (text.size() >= 2 && (static_cast<unsigned char>(text[0]) == 0xFE || static_cast<unsigned char>(text[0]) == 0xFF ||
                             text[0] == 0 || text[1] == 0))
        throw DocumentError("marking a drawing is supported for UTF-8 files only");
    pugi::xml_document xml;
    if (!xml.load_buffer(text.data(), text.size(), pugi::parse_default, pugi::encoding_utf8))
        throw DocumentError("the drawing cannot be read again");
    const pugi::xml_node root = xml.document_element();
    Outliner outliner(root, xlinkHrefName(root));

    std::string overlay = "\n<g id=\"simhost-selection\" class=\"simhost-selection\">";
    for (const ArtIndex index : objects) {
        const auto i = static_cast<std::size_t>(index);
        const std::uint32_t ordinal =
            i < svg.elementOrdinal.size() ? svg.elementOrdinal[i] : SvgDocument::kNoElement;
        const pugi::xml_node element = ordinal == SvgDocument::kNoElement ? pugi::xml_node() : outliner.at(ordinal);
        const ArtNode& node = svg.document.art(index);
        const bool container =
            node.type == kGroupArt || node.type == kCompoundPathArt || node.type == kSymbolArt;
        overlay += "\n<g class=\"simhost-outline\" data-simhost-id=\"" + escaped(svg.idOf(index)) + "\"";
        if (element) {
            const std::string transform = outliner.ancestorTransform(element);
            if (!transform.empty()) overlay += " transform=\"" + escaped(transform) + "\"";
        }
        overlay += container ? " data-simhost-kind=\"container\">" : ">";
        outliner.resetCount();
        if (element && node.guide != 0) {
            overlay += guideOutline(element, root);
        } else if (element && svg.subpath[i] != 0) {
            outliner.subpathOutline(overlay, element, svg.subpath[i]);
        } else if (element) {
            std::string inner;
            outliner.outline(inner, element, 0);
            // Containers are drawn dashed: their shapes, not one shape.
            if (container) {
                const std::string shapeStyle = kShapeStyle;
                for (std::size_t at = inner.find(shapeStyle); at != std::string::npos;
                     at = inner.find(shapeStyle, at + 1))
                    inner.replace(at, shapeStyle.size(), kContainerStyle);
            }
            overlay += inner;
        }
        overlay += "</g>";
    }
    overlay += "\n</g>\n";

    const Insertion insertion = insertionPoint(text, root);
    std::string out;
    out.reserve(text.size() + overlay.size() + 16);
    out.append(text, 0, insertion.at);
    if (insertion.selfClosing) {
        out += ">" + overlay + "</" + std::string(root.name()) + ">";
    } else {
        out += overlay;
    }
    out.append(text, insertion.at + insertion.replace, std::string::npos);
    return out;
}

}  // namespace simhost

// ---- The outlines alone (SvgOverlay.h) -------------------------------------

#include "simhost/SvgOverlay.h"

namespace simhost {

struct SelectionOutlines::Parsed {
    pugi::xml_document xml;
    std::unique_ptr<Outliner> outliner;
};

SelectionOutlines::SelectionOutlines(const SvgDocument& svg, const std::string& text)
    : svg_(svg), parsed_(std::make_unique<Parsed>()) {
    if (!parsed_->xml.load_buffer(text.data(), text.size(), pugi::parse_default, pugi::encoding_utf8))
        throw DocumentError("the drawing cannot be read again");
    const pugi::xml_node root = parsed_->xml.document_element();
    parsed_->outliner = std::make_unique<Outliner>(root, xlinkHrefName(root));
}

SelectionOutlines::~SelectionOutlines() = default;

std::string SelectionOutlines::operator()(const std::vector<ArtIndex>& objects) {
    Outliner& outliner = *parsed_->outliner;
    const pugi::xml_node root = parsed_->xml.document_element();
    std::string out;
    for (const ArtIndex index : objects) {
        const auto i = static_cast<std::size_t>(index);
        const std::uint32_t ordinal = i < svg_.elementOrdinal.size() ? svg_.elementOrdinal[i] : SvgDocument::kNoElement;
        const pugi::xml_node element = ordinal == SvgDocument::kNoElement ? pugi::xml_node() : outliner.at(ordinal);
        const ArtNode& node = svg_.document.art(index);
        const bool container = node.type == kGroupArt || node.type == kCompoundPathArt || node.type == kSymbolArt;
        out += "<g class=\"simhost-outline\" data-object-id=\"" + escaped(svg_.idOf(index)) + "\"";
        if (element) {
            const std::string transform = outliner.ancestorTransform(element);
            if (!transform.empty()) out += " transform=\"" + escaped(transform) + "\"";
        }
        out += container ? " data-simhost-kind=\"container\">" : ">";
        outliner.resetCount();
        std::string inner;
        if (element && node.guide != 0) inner = guideOutline(element, root);
        else if (element && svg_.subpath[i] != 0) outliner.subpathOutline(inner, element, svg_.subpath[i]);
        else if (element) outliner.outline(inner, element, 0);
        if (container)
            for (std::size_t at = inner.find(kShapeStyle); at != std::string::npos; at = inner.find(kShapeStyle, at + 1))
                inner.replace(at, std::strlen(kShapeStyle), kContainerStyle);
        out += inner + "</g>";
    }
    return out;
}

}  // namespace simhost
