// SVG to document: the mapping described in SvgDocument.h.
#include <algorithm>
#include <cstring>
#include <unordered_set>

#include <pugixml.hpp>

#include "Css.h"
#include "PathData.h"
#include "simhost/SvgDocument.h"

namespace simhost {

namespace {

using namespace svg;

// Art may nest this deep below the root; deeper drawings are refused. A
// selection command walks everything below each object it selects, so its
// cost grows with the depth; no real drawing comes near this.
constexpr std::size_t kMaxNesting = 1024;

const char* const kInkscapeNs = "http://www.inkscape.org/namespaces/inkscape";
const char* const kSodipodiNs = "http://sodipodi.sourceforge.net/DTD/sodipodi-0.dtd";
const char* const kXlinkNs = "http://www.w3.org/1999/xlink";

// The SVG elements that are art, each with its name for path ids.
enum class Element : std::uint8_t {
    kG, kA, kSwitch, kSvg, kPath, kRect, kCircle, kEllipse, kPolygon, kLine, kPolyline, kImage, kUse, kText,
    kForeignObject, kCount, kNotArt = kCount
};
constexpr const char* kElementNames[] = {"g",       "a",    "switch",   "svg",   "path", "rect",
                                         "circle",  "ellipse", "polygon", "line", "polyline", "image",
                                         "use",     "text", "foreignObject"};
constexpr std::size_t kElementCount = static_cast<std::size_t>(Element::kCount);
static_assert(sizeof kElementNames / sizeof kElementNames[0] == kElementCount);

Element elementOf(std::string_view local) {
    for (std::size_t i = 0; i < kElementCount; ++i)
        if (local == kElementNames[i]) return static_cast<Element>(i);
    return Element::kNotArt;
}

bool isGroupElement(Element e) { return e <= Element::kSvg; }
bool isShape(Element e) { return e >= Element::kPath && e <= Element::kPolyline; }

enum class Paint : std::uint8_t { kNone, kColor, kMesh };

// The inherited properties, as computed on an element.
struct Inherited {
    Paint fill = Paint::kColor;
    Paint stroke = Paint::kNone;
    ai::int16 dashCount = 0;
    bool invisible = false;  // visibility hidden or collapse
};

// What one element says about itself, from its attributes.
struct Attributes {
    const char* id = "";
    const char* style = nullptr;
    const char* d = "";
    const char* href = nullptr;
    const char* groupmode = nullptr;
    const char* label = nullptr;
    const char* requiredExtensions = nullptr;
    const char* systemLanguage = nullptr;
    bool insensitive = false;
};

// Prefixes of the namespaces the reader looks at, as the root declares them.
struct Prefixes {
    std::string svg;  // "" or "svg:" when the drawing's elements carry one
    std::string groupmode = "inkscape:groupmode";
    std::string label = "inkscape:label";
    std::string lockguides = "inkscape:lockguides";
    std::string locked = "inkscape:locked";
    std::string insensitive = "sodipodi:insensitive";
    std::string namedview = "sodipodi:namedview";
    std::string guide = "sodipodi:guide";
    std::string showguides = "showguides";
    std::string xlinkHref = "xlink:href";

    explicit Prefixes(pugi::xml_node root) {
        const std::string_view rootName = root.name();
        if (const std::size_t colon = rootName.find(':'); colon != std::string_view::npos)
            svg = std::string(rootName.substr(0, colon + 1));
        for (pugi::xml_attribute a = root.first_attribute(); a; a = a.next_attribute()) {
            const std::string_view name = a.name();
            if (name.substr(0, 6) != "xmlns:") continue;
            const std::string prefix = std::string(name.substr(6)) + ":";
            if (std::strcmp(a.value(), kInkscapeNs) == 0) {
                groupmode = prefix + "groupmode";
                label = prefix + "label";
                lockguides = prefix + "lockguides";
                locked = prefix + "locked";
            } else if (std::strcmp(a.value(), kSodipodiNs) == 0) {
                insensitive = prefix + "insensitive";
                namedview = prefix + "namedview";
                guide = prefix + "guide";
            } else if (std::strcmp(a.value(), kXlinkNs) == 0) {
                xlinkHref = prefix + "href";
            }
        }
    }

    // The element's name within SVG, or empty for an element of another
    // namespace.
    std::string_view svgLocalName(const char* qualified) const {
        const char* colon = std::strchr(qualified, ':');
        if (colon == nullptr) return qualified;
        const std::string_view prefix(qualified, static_cast<std::size_t>(colon - qualified) + 1);
        return prefix == svg ? std::string_view(colon + 1) : std::string_view();
    }
};

// A boolean attribute as Inkscape writes it: "true"; empty, "false" and "0"
// are false.
bool isTrue(const char* value) {
    if (value == nullptr) return false;
    const std::string_view text = trim(value);
    return !text.empty() && !equalsIgnoringCase(text, "false") && text != "0";
}

bool startsWithIgnoringCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && equalsIgnoringCase(text.substr(0, prefix.size()), prefix);
}

// What the first pass over the whole tree finds.
struct Survey {
    std::size_t elements = 0;
    Stylesheet sheet;
    std::unordered_set<std::string> meshes;        // ids of mesh gradients
    std::unordered_set<std::string> paintServers;  // ids of other paint servers
    pugi::xml_node namedview;
};

pugi::xml_node nextInDocument(pugi::xml_node node, pugi::xml_node root) {
    if (pugi::xml_node child = node.first_child()) return child;
    for (; node && node != root; node = node.parent())
        if (pugi::xml_node sibling = node.next_sibling()) return sibling;
    return {};
}

std::string textOf(pugi::xml_node element) {
    std::string text;
    for (pugi::xml_node child = element.first_child(); child; child = child.next_sibling())
        if (child.type() == pugi::node_pcdata || child.type() == pugi::node_cdata) text += child.value();
    return text;
}

void survey(pugi::xml_node root, const Prefixes& prefixes, Survey& out) {
    for (pugi::xml_node node = root; node; node = nextInDocument(node, root)) {
        if (node.type() != pugi::node_element) continue;
        ++out.elements;
        const char* qualified = node.name();
        if (!out.namedview && prefixes.namedview == qualified) {
            out.namedview = node;
            continue;
        }
        const std::string_view name = prefixes.svgLocalName(qualified);
        if (name.empty()) continue;
        if (name == "style") {
            const std::string_view type = trim(node.attribute("type").value());
            if (type.empty() || equalsIgnoringCase(type, "text/css")) out.sheet.add(textOf(node));
        } else if (name == "meshgradient" || name == "meshGradient") {
            out.meshes.insert(node.attribute("id").value());
        } else if (name == "linearGradient" || name == "radialGradient" || name == "pattern" || name == "hatch" ||
                   name == "solidcolor") {
            out.paintServers.insert(node.attribute("id").value());
        }
    }
}

class Reader {
public:
    Reader(const std::string& origin, pugi::xml_node root, SvgDocument& out)
        : origin_(origin), root_(root), prefixes_(root), out_(out), doc_(out.document) {}

    void read();

private:
    struct Frame {
        pugi::xml_node next;  // the next child to look at
        ArtIndex art = kNone;  // where art found among the children goes
        Inherited inherited;
        ai::int32 attributes = 0;  // hidden and locked, from the ancestors below the layer
        pugi::xml_node chosen;     // for a switch: the one child it renders
        bool isSwitch = false;
        std::uint32_t counts[kElementCount] = {};  // same-named art children so far, for path ids
    };

    struct Computed {
        Inherited inherited;
        bool displayNone = false;
    };

    [[noreturn]] void fail(pugi::xml_node node, const std::string& what) const;
    void readAttributes(pugi::xml_node node, Attributes& a);
    Computed compute(pugi::xml_node node, const Attributes& a, const Inherited& parent);
    Paint paintOf(std::string_view value, Paint parent, Paint initial) const;
    bool chosenBySwitch(pugi::xml_node node) const;
    pugi::xml_node switchChoice(pugi::xml_node element) const;

    void readTopLevel(pugi::xml_node node);
    void readChild(Frame& frame, pugi::xml_node node);
    ArtIndex addObject(ArtIndex parent, AIArtType type, pugi::xml_node node, const Attributes& a, Element name,
                       std::uint32_t position);
    void addShape(ArtIndex parent, pugi::xml_node node, const Attributes& a, Element name, std::uint32_t position,
                  const Computed& style, ai::int32 attributes);
    void record(ArtIndex index, std::size_t offset, std::uint32_t step, std::uint32_t position,
                std::uint32_t subpath = 0);
    LayerIndex defaultLayer();
    void readGuides();
    void push(ArtIndex art, pugi::xml_node element, const Inherited& inherited, ai::int32 attributes);

    const std::string& origin_;
    pugi::xml_node root_;
    Prefixes prefixes_;
    SvgDocument& out_;
    Document& doc_;
    Survey survey_;
    std::vector<Frame> frames_;
    std::size_t depth_ = 0;
    std::vector<Declaration> declarations_;
    std::vector<Stylesheet::Match> matches_;
    std::vector<bool> subpaths_;
    Inherited rootStyle_;
    bool rootHidden_ = false;
    bool rootLocked_ = false;
    bool layersByMode_ = false;
    LayerIndex defaultLayer_ = kNone;
    std::uint32_t topCounts_[kElementCount] = {};
    std::uint32_t subpathStep_ = 0;
};

constexpr std::uint32_t kNoStep = ~std::uint32_t(0);

void Reader::fail(pugi::xml_node node, const std::string& what) const {
    throw DocumentError(origin_ + ": element <" + node.name() + "> at byte " + std::to_string(node.offset_debug()) +
                        ": " + what);
}

void Reader::readAttributes(pugi::xml_node node, Attributes& a) {
    for (pugi::xml_attribute attribute = node.first_attribute(); attribute; attribute = attribute.next_attribute()) {
        const char* name = attribute.name();
        const char* value = attribute.value();
        switch (name[0]) {
            case 'i':
                if (std::strcmp(name, "id") == 0) a.id = value;
                break;
            case 's':
                if (std::strcmp(name, "style") == 0) a.style = value;
                else if (std::strcmp(name, "systemLanguage") == 0) a.systemLanguage = value;
                break;
            case 'd':
                if (name[1] == 0) a.d = value;
                break;
            case 'h':
                if (std::strcmp(name, "href") == 0) a.href = value;
                break;
            case 'r':
                if (std::strcmp(name, "requiredExtensions") == 0) a.requiredExtensions = value;
                break;
            default:
                break;
        }
        if (std::strchr(name, ':') != nullptr) {
            if (prefixes_.groupmode == name) a.groupmode = value;
            else if (prefixes_.label == name) a.label = value;
            else if (prefixes_.insensitive == name) a.insensitive = isTrue(value);
            else if (prefixes_.xlinkHref == name && a.href == nullptr) a.href = value;
        } else if (const auto prop = propertyNamed(name)) {
            declarations_.push_back({*prop, trim(value), false});
        }
    }
}

Paint Reader::paintOf(std::string_view value, Paint parent, Paint initial) const {
    if (equalsIgnoringCase(value, "none")) return Paint::kNone;
    if (equalsIgnoringCase(value, "inherit") || equalsIgnoringCase(value, "unset")) return parent;
    if (equalsIgnoringCase(value, "initial")) return initial;
    if (!startsWithIgnoringCase(value, "url(")) return Paint::kColor;
    // url(#id) [fallback]: a reference to a paint server of this drawing;
    // anything else (a missing id, another file) falls back, or paints
    // nothing when no fallback is given.
    const std::size_t close = value.find(')');
    if (close == std::string_view::npos) return Paint::kNone;
    std::string_view ref = trim(value.substr(4, close - 4));
    if (ref.size() >= 2 && (ref.front() == '"' || ref.front() == '\'') && ref.back() == ref.front())
        ref = trim(ref.substr(1, ref.size() - 2));
    if (!ref.empty() && ref.front() == '#') {
        const std::string id(ref.substr(1));
        if (survey_.meshes.count(id) != 0) return Paint::kMesh;
        if (survey_.paintServers.count(id) != 0) return Paint::kColor;
    }
    const std::string_view fallback = trim(value.substr(close + 1));
    if (fallback.empty()) return Paint::kNone;
    return equalsIgnoringCase(fallback, "none") ? Paint::kNone : Paint::kColor;
}

// The number of entries of a stroke-dasharray value; -1 when the value is
// not a valid list (a negative entry, something that is no length).
int dashEntries(std::string_view value) {
    int count = 0;
    std::size_t i = 0;
    while (i < value.size()) {
        while (i < value.size() && (value[i] == ',' || value[i] == ' ' || value[i] == '\t' || value[i] == '\n' ||
                                    value[i] == '\r'))
            ++i;
        if (i >= value.size()) break;
        const char c = value[i];
        if (!((c >= '0' && c <= '9') || c == '.' || c == '+')) return -1;
        while (i < value.size() && value[i] != ',' && value[i] != ' ' && value[i] != '\t' && value[i] != '\n' &&
               value[i] != '\r')
            ++i;
        ++count;
    }
    return count > 0 ? count : -1;
}

Reader::Computed Reader::compute(pugi::xml_node node, const Attributes& a, const Inherited& parent) {
    if (!survey_.sheet.empty()) {
        matches_.clear();
        survey_.sheet.match(node, matches_);
    }
    // The winning declaration of each property; the presentation attributes
    // are already in declarations_ (priority 0).
    struct Winner {
        std::string_view value;
        std::uint64_t priority = 0;
        bool set = false;
    } winners[kPropCount];
    auto consider = [&](Prop prop, std::string_view value, std::uint64_t priority) {
        // A value a property cannot take is dropped, so a weaker declaration
        // of the same property still applies.
        if (prop == Prop::kDashArray && !equalsIgnoringCase(value, "none") && !equalsIgnoringCase(value, "inherit") &&
            !equalsIgnoringCase(value, "initial") && !equalsIgnoringCase(value, "unset") && dashEntries(value) < 0)
            return;
        Winner& w = winners[static_cast<int>(prop)];
        if (!w.set || priority >= w.priority) w = {value, priority, true};
    };
    for (const Declaration& d : declarations_) consider(d.prop, d.value, priorityOf(Origin::kPresentation));
    if (!survey_.sheet.empty())
        for (const Stylesheet::Match& m : matches_) consider(m.prop, m.value, m.priority);
    if (a.style != nullptr) {
        declarations_.clear();
        parseDeclarations(a.style, declarations_);
        for (const Declaration& d : declarations_)
            consider(d.prop, d.value,
                     priorityOf(d.important ? Origin::kImportantStyleAttribute : Origin::kStyleAttribute));
    }

    Computed computed;
    computed.inherited = parent;
    Inherited& style = computed.inherited;
    if (const Winner& w = winners[int(Prop::kFill)]; w.set) style.fill = paintOf(w.value, parent.fill, Paint::kColor);
    if (const Winner& w = winners[int(Prop::kStroke)]; w.set)
        style.stroke = paintOf(w.value, parent.stroke, Paint::kNone);
    if (const Winner& w = winners[int(Prop::kDashArray)]; w.set) {
        if (equalsIgnoringCase(w.value, "none") || equalsIgnoringCase(w.value, "initial")) style.dashCount = 0;
        else if (!equalsIgnoringCase(w.value, "inherit") && !equalsIgnoringCase(w.value, "unset"))
            style.dashCount = static_cast<ai::int16>(std::min(dashEntries(w.value), 32767));
    }
    if (const Winner& w = winners[int(Prop::kVisibility)]; w.set) {
        if (equalsIgnoringCase(w.value, "hidden") || equalsIgnoringCase(w.value, "collapse")) style.invisible = true;
        else if (equalsIgnoringCase(w.value, "visible") || equalsIgnoringCase(w.value, "initial"))
            style.invisible = false;
    }
    // display is not inherited: "inherit" asks for the parent's value, and
    // a parent with display:none hides this element anyway.
    if (const Winner& w = winners[int(Prop::kDisplay)]; w.set) computed.displayNone = equalsIgnoringCase(w.value, "none");
    return computed;
}

// Does a switch render this child, were it the first to qualify? The
// drawing is read as an English viewer without extensions reads it.
bool Reader::chosenBySwitch(pugi::xml_node node) const {
    if (node.attribute("requiredExtensions")) return false;
    const pugi::xml_attribute languages = node.attribute("systemLanguage");
    if (!languages) return true;
    std::string_view list = languages.value();
    while (!list.empty()) {
        const std::size_t comma = list.find(',');
        const std::string_view language = trim(list.substr(0, comma));
        if (equalsIgnoringCase(language, "en") || startsWithIgnoringCase(language, "en-")) return true;
        if (comma == std::string_view::npos) break;
        list.remove_prefix(comma + 1);
    }
    return false;
}

pugi::xml_node Reader::switchChoice(pugi::xml_node element) const {
    for (pugi::xml_node child = element.first_child(); child; child = child.next_sibling()) {
        if (child.type() != pugi::node_element) continue;
        if (elementOf(prefixes_.svgLocalName(child.name())) == Element::kNotArt) continue;
        if (chosenBySwitch(child)) return child;
    }
    return {};
}

void Reader::record(ArtIndex index, std::size_t offset, std::uint32_t step, std::uint32_t position,
                    std::uint32_t subpath) {
    const auto i = static_cast<std::size_t>(index);
    if (out_.elementOffset.size() <= i) {
        out_.elementOffset.resize(i + 1, SvgDocument::kNoElement);
        out_.subpath.resize(i + 1, 0);
        out_.steps.resize(i + 1, {kNoStep, 0});
    }
    out_.elementOffset[i] = offset;
    out_.subpath[i] = subpath;
    out_.steps[i] = {step, position};
}

ArtIndex Reader::addObject(ArtIndex parent, AIArtType type, pugi::xml_node node, const Attributes& a, Element name,
                           std::uint32_t position) {
    const ArtIndex index = doc_.addArt(parent, type, a.id);
    record(index, static_cast<std::size_t>(node.offset_debug()), static_cast<std::uint32_t>(name), position);
    return index;
}

void Reader::addShape(ArtIndex parent, pugi::xml_node node, const Attributes& a, Element name,
                      std::uint32_t position, const Computed& style, ai::int32 attributes) {
    auto setStyle = [&](ArtNode& art, bool closed) {
        art.attributes = attributes;
        art.closed = closed ? 1 : 0;
        art.fillPaint = style.inherited.fill != Paint::kNone ? 1 : 0;
        art.strokePaint = style.inherited.stroke != Paint::kNone ? 1 : 0;
        art.dashCount = style.inherited.dashCount;
    };
    if (style.inherited.fill == Paint::kMesh) {
        doc_.art(addObject(parent, kMeshArt, node, a, name, position)).attributes = attributes;
        return;
    }
    if (name != Element::kPath) {
        const bool closed = name != Element::kLine && name != Element::kPolyline;
        setStyle(doc_.art(addObject(parent, kPathArt, node, a, name, position)), closed);
        return;
    }
    scanSubpaths(a.d, subpaths_);
    if (subpaths_.size() <= 1) {
        setStyle(doc_.art(addObject(parent, kPathArt, node, a, name, position)), !subpaths_.empty() && subpaths_[0]);
        return;
    }
    const ArtIndex compound = addObject(parent, kCompoundPathArt, node, a, name, position);
    setStyle(doc_.art(compound), false);
    doc_.art(compound).closed = 0;
    const auto offset = static_cast<std::size_t>(node.offset_debug());
    for (std::size_t k = 0; k < subpaths_.size(); ++k) {
        const ArtIndex child = doc_.addArt(compound, kPathArt);
        setStyle(doc_.art(child), subpaths_[k]);
        const auto number = static_cast<std::uint32_t>(k + 1);
        record(child, offset, subpathStep_, number, number);
    }
}

void Reader::push(ArtIndex art, pugi::xml_node element, const Inherited& inherited, ai::int32 attributes) {
    if (depth_ + 1 > kMaxNesting) fail(element, "elements nested more than " + std::to_string(kMaxNesting) + " levels deep");
    if (frames_.size() <= depth_) frames_.emplace_back();
    Frame& frame = frames_[depth_++];
    frame = Frame();
    frame.next = element.first_child();
    frame.art = art;
    frame.inherited = inherited;
    frame.attributes = attributes;
    frame.isSwitch = localName(element.name()) == "switch";
    if (frame.isSwitch) frame.chosen = switchChoice(element);
}

LayerIndex Reader::defaultLayer() {
    if (defaultLayer_ == kNone) {
        defaultLayer_ = doc_.addLayer("Default layer", !rootHidden_, !rootLocked_);
        record(doc_.rootOf(defaultLayer_), SvgDocument::kNoElement, kNoStep, 0);
    }
    return defaultLayer_;
}

void Reader::readTopLevel(pugi::xml_node node) {
    const Element name = elementOf(prefixes_.svgLocalName(node.name()));
    if (name == Element::kNotArt) return;
    const std::uint32_t position = ++topCounts_[static_cast<std::size_t>(name)];
    Attributes a;
    declarations_.clear();
    readAttributes(node, a);
    const bool layer = name == Element::kG && (!layersByMode_ || (a.groupmode != nullptr &&
                                                                  std::strcmp(a.groupmode, "layer") == 0));
    if (!layer) {
        // Art outside the layers: as if it were the default layer's.
        Frame frame;
        frame.art = doc_.rootOf(defaultLayer());
        frame.inherited = rootStyle_;
        std::copy(std::begin(topCounts_), std::end(topCounts_), frame.counts);
        frame.counts[static_cast<std::size_t>(name)] = position - 1;
        frames_.resize(std::max<std::size_t>(frames_.size(), 1));
        frames_[0] = frame;
        depth_ = 1;
        readChild(frames_[0], node);
        return;
    }
    const Computed style = compute(node, a, rootStyle_);
    std::string layerName = a.label != nullptr ? a.label : a.id;
    if (layerName.empty()) layerName = "Layer " + std::to_string(doc_.layerCount() + 1);
    const LayerIndex index = doc_.addLayer(std::move(layerName), !rootHidden_ && !style.displayNone,
                                           !rootLocked_ && !a.insensitive);
    const ArtIndex root = doc_.rootOf(index);
    doc_.art(root).id = a.id;
    record(root, static_cast<std::size_t>(node.offset_debug()), static_cast<std::uint32_t>(name), position);
    depth_ = 0;
    push(root, node, style.inherited, 0);
}

void Reader::readChild(Frame& frame, pugi::xml_node node) {
    const Element name = elementOf(prefixes_.svgLocalName(node.name()));
    if (name == Element::kNotArt) return;  // not art, nor anything below it
    const std::uint32_t position = ++frame.counts[static_cast<std::size_t>(name)];
    Attributes a;
    declarations_.clear();
    readAttributes(node, a);
    const Computed style = compute(node, a, frame.inherited);

    const bool unrendered = frame.isSwitch && node != frame.chosen;
    const ai::int32 below = frame.attributes | (style.displayNone || unrendered ? kArtHidden : 0) |
                            (a.insensitive ? kArtLocked : 0);
    const ai::int32 attributes = below | (style.inherited.invisible ? kArtHidden : 0);

    if (isGroupElement(name)) {
        const ArtIndex group = addObject(frame.art, kGroupArt, node, a, name, position);
        doc_.art(group).attributes = attributes;
        push(group, node, style.inherited, below);  // `frame` may move here
        return;
    }
    if (isShape(name)) {
        addShape(frame.art, node, a, name, position, style, attributes);
        return;
    }
    AIArtType type = kOtherArt;
    if (name == Element::kImage) {
        const std::string_view href = trim(a.href != nullptr ? a.href : "");
        type = startsWithIgnoringCase(href, "data:") ? kRasterArt : kPlacedArt;
    } else if (name == Element::kUse) {
        type = kSymbolArt;
    } else if (name == Element::kText) {
        type = kTextArt;
    }
    doc_.art(addObject(frame.art, type, node, a, name, position)).attributes = attributes;
}

void Reader::readGuides() {
    const pugi::xml_node view = survey_.namedview;
    if (!view) return;
    const bool locked = isTrue(view.attribute(prefixes_.lockguides.c_str()).value());
    const pugi::xml_attribute show = view.attribute(prefixes_.showguides.c_str());
    const bool hidden = show && !isTrue(show.value());
    const auto step = static_cast<std::uint32_t>(out_.stepNames.size());
    out_.stepNames.push_back(prefixes_.namedview + "/" + prefixes_.guide);
    LayerIndex layer = kNone;
    std::uint32_t position = 0;
    for (pugi::xml_node guide = view.child(prefixes_.guide.c_str()); guide;
         guide = guide.next_sibling(prefixes_.guide.c_str())) {
        if (layer == kNone) {
            layer = doc_.addLayer("Guides");
            record(doc_.rootOf(layer), SvgDocument::kNoElement, kNoStep, 0);
        }
        PathProps props;
        props.guide = true;
        props.filled = false;
        const ArtIndex path = doc_.addPath(doc_.rootOf(layer), props, guide.attribute("id").value());
        const bool ownLock = isTrue(guide.attribute(prefixes_.locked.c_str()).value());
        doc_.art(path).attributes = (locked || ownLock ? kArtLocked : 0) | (hidden ? kArtHidden : 0);
        record(path, static_cast<std::size_t>(guide.offset_debug()), step, ++position);
    }
}

void Reader::read() {
    survey(root_, prefixes_, survey_);
    doc_.reserve(survey_.elements + 16);
    out_.elementOffset.reserve(survey_.elements + 16);
    out_.subpath.reserve(survey_.elements + 16);
    out_.steps.reserve(survey_.elements + 16);
    out_.stepNames.assign(std::begin(kElementNames), std::end(kElementNames));
    subpathStep_ = static_cast<std::uint32_t>(out_.stepNames.size());
    out_.stepNames.push_back("subpath");

    Attributes a;
    declarations_.clear();
    readAttributes(root_, a);
    const Computed rootStyle = compute(root_, a, Inherited());
    rootStyle_ = rootStyle.inherited;
    rootHidden_ = rootStyle.displayNone;
    rootLocked_ = a.insensitive;

    for (pugi::xml_node child = root_.first_child(); child && !layersByMode_; child = child.next_sibling()) {
        const pugi::xml_attribute mode = child.attribute(prefixes_.groupmode.c_str());
        layersByMode_ = elementOf(prefixes_.svgLocalName(child.name())) == Element::kG && mode &&
                        std::strcmp(mode.value(), "layer") == 0;
    }

    for (pugi::xml_node top = root_.first_child(); top; top = top.next_sibling()) {
        if (top.type() != pugi::node_element) continue;
        depth_ = 0;
        readTopLevel(top);
        // Everything below it, with frames_ as the stack.
        while (depth_ > 0) {
            Frame& frame = frames_[depth_ - 1];
            const pugi::xml_node node = frame.next;
            if (!node) {
                --depth_;
                continue;
            }
            frame.next = node.next_sibling();
            if (node.type() == pugi::node_element) readChild(frame, node);
        }
    }
    readGuides();
    out_.elementOffset.resize(doc_.artCount(), SvgDocument::kNoElement);
    out_.subpath.resize(doc_.artCount(), 0);
    out_.steps.resize(doc_.artCount(), {kNoStep, 0});
}

}  // namespace

std::string SvgDocument::idOf(ArtIndex index) const {
    const ArtNode& node = document.art(index);
    if (!node.id.empty()) return node.id;
    const auto at = [this](ArtIndex i) { return steps[static_cast<std::size_t>(i)]; };
    auto stepText = [this](Step s) { return stepNames[s.name] + "[" + std::to_string(s.position) + "]"; };
    // A subpath is named after its path: by the path's id when it has one.
    if (subpath[static_cast<std::size_t>(index)] != 0 && node.parent != kNone)
        return idOf(node.parent) + "/" + stepText(at(index));
    std::vector<ArtIndex> chain;
    for (ArtIndex i = index; i != kNone && at(i).name != kNoStep; i = document.art(i).parent) chain.push_back(i);
    std::string id = "/svg";
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) id += "/" + stepText(at(*it));
    return id;
}

SvgDocument svgDocumentFromText(std::string text, const std::string& origin) {
    if (text.empty()) throw DocumentError(origin + ": the document is empty");
    pugi::xml_document xml;
    // Parsed in place: the tree points into `text`, which outlives it here.
    const pugi::xml_parse_result parsed =
        xml.load_buffer_inplace(text.data(), text.size(), pugi::parse_default, pugi::encoding_auto);
    if (!parsed) {
        const auto offset = static_cast<std::size_t>(std::max<std::ptrdiff_t>(parsed.offset, 0));
        const std::size_t line = 1 + static_cast<std::size_t>(std::count(
                                         text.begin(), text.begin() + static_cast<std::ptrdiff_t>(std::min(offset, text.size())), '\n'));
        throw DocumentError(origin + ": malformed XML at line " + std::to_string(line) + ": " +
                            parsed.description());
    }
    const pugi::xml_node root = xml.document_element();
    if (!root) throw DocumentError(origin + ": no root element");
    if (localName(root.name()) != "svg")
        throw DocumentError(origin + ": not an SVG document (the root element is <" + std::string(root.name()) + ">)");

    SvgDocument svg;
    Reader(origin, root, svg).read();
    return svg;
}

SvgDocument loadSvgDocument(const std::string& path) { return svgDocumentFromText(readDocumentBytes(path), path); }

}  // namespace simhost
