// SVG to document: the mapping described in SvgDocument.h, read as a stream
// of expat events.
#include <sys/stat.h>

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <functional>
#include <memory>
#include <unordered_map>
#include <unordered_set>

#include <expat.h>

#include "Css.h"
#include "PathData.h"
#include "SvgFile.h"
#include "simhost/svg/SvgDocument.h"

namespace simhost {

namespace {

using namespace svg;

// Elements may nest this deep; deeper drawings are refused. A selection
// command walks everything below each object it selects, so its cost grows
// with the depth; no real drawing comes near this.
constexpr std::size_t kMaxNesting = 1024;

constexpr std::string_view kSvgNs = "http://www.w3.org/2000/svg";
constexpr std::string_view kInkscapeNs = "http://www.inkscape.org/namespaces/inkscape";
constexpr std::string_view kSodipodiNs = "http://sodipodi.sourceforge.net/DTD/sodipodi-0.dtd";
// What Inkscape before 0.47 wrote for the same namespace.
constexpr std::string_view kOldSodipodiNs = "http://inkscape.sourceforge.net/DTD/sodipodi-0.dtd";
constexpr std::string_view kXlinkNs = "http://www.w3.org/1999/xlink";
// Separates a namespace from a local name in the names expat reports.
constexpr char kNsSeparator = '\x01';

// The SVG elements that are art, each with its name for path ids.
enum class Element : std::uint8_t {
    kG, kA, kSwitch, kSvg, kPath, kRect, kCircle, kEllipse, kPolygon, kLine, kPolyline, kImage, kUse, kText,
    kForeignObject, kCount, kNotArt = kCount
};
constexpr const char* kElementNames[] = {"g",      "a",       "switch",  "svg",  "path",     "rect",
                                         "circle", "ellipse", "polygon", "line", "polyline", "image",
                                         "use",    "text",    "foreignObject"};
constexpr std::size_t kElementCount = static_cast<std::size_t>(Element::kCount);
static_assert(sizeof kElementNames / sizeof kElementNames[0] == kElementCount);

Element elementOf(std::string_view local) {
    for (std::size_t i = 0; i < kElementCount; ++i)
        if (local == kElementNames[i]) return static_cast<Element>(i);
    return Element::kNotArt;
}

bool isGroupElement(Element e) { return e <= Element::kSvg; }
bool isShape(Element e) { return e >= Element::kPath && e <= Element::kPolyline; }

bool isPaintServer(std::string_view local) {
    // <hatch> and <solidcolor> are not among them: no browser paints with
    // them, so a url() naming one falls back as one naming nothing does.
    return local == "linearGradient" || local == "radialGradient" || local == "pattern";
}
bool isMeshGradient(std::string_view local) { return local == "meshgradient" || local == "meshGradient"; }

struct Name {
    std::string_view ns;     // empty when the name is in no namespace
    std::string_view local;
};

Name splitName(const char* name) {
    const char* separator = std::strchr(name, kNsSeparator);
    if (separator == nullptr) return {{}, name};
    return {std::string_view(name, static_cast<std::size_t>(separator - name)), separator + 1};
}

bool isSodipodi(std::string_view ns) { return ns == kSodipodiNs || ns == kOldSodipodiNs; }

// An element of SVG: in its namespace, or in none for drawings that
// declare none.
bool inSvg(const Name& name) { return name.ns.empty() || name.ns == kSvgNs; }

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

enum class Paint : std::uint8_t { kNone, kColor, kMesh };

// Custom properties by name, their var() already substituted.
using CustomProperties = std::vector<std::pair<std::string, std::string>>;

const std::string* customNamed(const void* properties, std::string_view name) {
    if (properties == nullptr) return nullptr;
    for (const auto& [key, value] : *static_cast<const CustomProperties*>(properties))
        if (key == name) return &value;
    return nullptr;
}

// The inherited properties, as computed on an element.
struct Inherited {
    Paint fill = Paint::kColor;
    Paint stroke = Paint::kNone;
    ai::int16 dashCount = 0;
    bool invisible = false;  // visibility hidden or collapse
    // Shared by the elements that add none of their own (kept by the
    // reader while the element is open); null in most drawings.
    const CustomProperties* custom = nullptr;
};

// What one element says about itself, from its attributes.
struct Attributes {
    const char* id = "";
    const char* classes = "";
    const char* style = nullptr;
    const char* d = "";
    const char* href = nullptr;
    const char* xlinkHref = nullptr;
    const char* groupmode = nullptr;
    const char* label = nullptr;
    const char* requiredExtensions = nullptr;
    const char* systemLanguage = nullptr;
    bool insensitive = false;
};

bool isKeyword(std::string_view value, std::initializer_list<std::string_view> keywords) {
    for (std::string_view k : keywords)
        if (equalsIgnoringCase(value, k)) return true;
    return false;
}

// The language of the viewer the drawing is read for, as systemLanguage
// tests it.
constexpr std::string_view kViewerLanguage = "en";

// Do the element's conditions hold? The drawing is read as an English viewer
// that supports no extension reads it. requiredFeatures is not tested:
// browsers dropped it and render the element whatever it says. An element
// whose conditions fail is not rendered, and a switch renders its first child
// whose conditions hold.
bool conditionsHold(const Attributes& a) {
    if (a.requiredExtensions != nullptr) return false;
    return a.systemLanguage == nullptr || systemLanguageMatches(a.systemLanguage, kViewerLanguage);
}

// What a pass learns about the whole drawing, and what the next pass uses.
struct Knowledge {
    Stylesheet sheet;
    std::unordered_set<std::string> meshes;        // ids of mesh gradients
    // Other paint servers by id. A gradient with no stops of its own takes
    // those of the gradient its href names; with none at all it paints
    // nothing.
    struct Server {
        bool gradient = false;
        bool stops = false;
        std::string href;
    };
    std::unordered_map<std::string, Server> paintServers;
    std::vector<bool> lastChild;  // by element ordinal: the last element child of its parent
    bool layersByMode = false;  // the drawing has <g inkscape:groupmode="layer">
};

struct Guide {
    std::uint32_t ordinal;
    std::string id;
    bool locked;
};

// Tells expat how to read a single-byte character set it does not know
// itself (windows-1252, ISO-8859-2, KOI8-R...): the character of each byte,
// asked of iconv. Multi-byte sets are refused.
int XMLCALL singleByteEncoding(void*, const XML_Char* name, XML_Encoding* info) {
    const iconv_t cd = iconv_open("UTF-32LE", name);
    if (cd == reinterpret_cast<iconv_t>(-1)) return XML_STATUS_ERROR;
    int status = XML_STATUS_OK;
    for (int b = 0; b < 256 && status == XML_STATUS_OK; ++b) {
        char in = static_cast<char>(b);
        unsigned char out[8] = {};
        char* inAt = &in;
        char* outAt = reinterpret_cast<char*>(out);
        std::size_t inLeft = 1, outLeft = sizeof out;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        if (iconv(cd, &inAt, &inLeft, &outAt, &outLeft) == static_cast<std::size_t>(-1)) {
            if (errno == EINVAL) status = XML_STATUS_ERROR;  // the start of a longer sequence
            info->map[b] = -1;
        } else if (outLeft != sizeof out - 4) {
            info->map[b] = -1;
        } else {
            info->map[b] = out[0] | (out[1] << 8) | (out[2] << 16);
        }
    }
    iconv_close(cd);
    info->data = nullptr;
    info->convert = nullptr;
    info->release = nullptr;
    return status;
}

class Reader {
public:
    // Opens the document's bytes anew for each pass.
    using Source = std::function<std::unique_ptr<ByteSource>()>;

    // `bytes`: about how long the text is, to reserve room for its objects
    // (as address space; only what is used becomes memory).
    Reader(const std::string& origin, SvgDocument& out, std::uint64_t bytes)
        : origin_(origin), out_(out), expected_(static_cast<std::size_t>(std::min<std::uint64_t>(bytes / 48, 1u << 26))) {}

    void read(const Source& source) {
        pass(source, true);
        // Which element is its parent's last child is known only now.
        if (!stale_ && !(artCreated_ && k_.sheet.testsLastChild())) return;
        // Something came after content it applies to: read again, knowing.
        out_ = SvgDocument();
        pass(source, false);
    }

private:
    enum class FrameKind : std::uint8_t {
        kRoot,       // the root <svg>
        kContainer,  // a group or layer: its children are art
        kLeaf,       // art whose content is not (text, use, shapes)
        kSkip,       // not art, nor anything below it
        kStyle,      // a <style> element: its text is a sheet
        kNamedView,  // sodipodi:namedview: its guides
    };

    struct Frame {
        FrameKind kind = FrameKind::kSkip;
        ArtIndex art = kNone;      // a container's object: where its art children go
        Inherited inherited;
        ai::int32 attributes = 0;  // hidden and locked, from the ancestors below the layer
        bool isSwitch = false;
        bool switchChosen = false;
        std::uint32_t counts[kElementCount] = {};  // same-named art children so far, for path ids
        std::uint32_t children = 0;                // element children so far
        std::uint32_t lastChildOrdinal = SvgDocument::kNoElement;
        Knowledge::Server* gradient = nullptr;     // a gradient: its stops are noted
        std::size_t customMark = 0;                // customArena_'s size before the element
        ElementInfo info;                          // for selectors; containers only
        std::deque<ElementInfo> siblings;          // art children so far, for + and ~ selectors
    };

    struct Computed {
        Inherited inherited;
        bool displayNone = false;
    };

    static void XMLCALL onStart(void* self, const XML_Char* name, const XML_Char** attributes) {
        static_cast<Reader*>(self)->guarded([&](Reader& r) { r.start(name, attributes); });
    }
    // XML 1.0 reads any version 1.x; "1" or "2.0" is no XML a browser reads.
    static void XMLCALL onXmlDeclaration(void* self, const XML_Char* version, const XML_Char*, int) {
        static_cast<Reader*>(self)->guarded([version](Reader& r) {
            if (version == nullptr) return;  // an external entity's text declaration
            const std::string_view v = version;
            if (v.size() < 3 || v.compare(0, 2, "1.") != 0 ||
                v.find_first_not_of("0123456789", 2) != std::string_view::npos)
                r.fail(std::string("malformed XML: ") + XML_ErrorString(XML_ERROR_XML_DECL));
        });
    }
    static void XMLCALL onEnd(void* self, const XML_Char*) {
        static_cast<Reader*>(self)->guarded([](Reader& r) { r.end(); });
    }
    // Set only inside a <style> element: the text between the elements of
    // a large drawing is not worth a call per piece.
    static void XMLCALL onText(void* self, const XML_Char* text, int length) {
        static_cast<Reader*>(self)->styleText_.append(text, static_cast<std::size_t>(length));
    }

    // No exception may cross expat's C frames: keep it and stop the parser.
    template <typename F>
    void guarded(F&& f) {
        if (failure_) return;
        try {
            f(*this);
        } catch (...) {
            failure_ = std::current_exception();
            XML_StopParser(parser_, XML_FALSE);
        }
    }

    [[noreturn]] void fail(const std::string& what) const {
        throw DocumentError(origin_ + ": line " + std::to_string(XML_GetCurrentLineNumber(parser_)) + ": " + what);
    }

    Frame& top() { return frames_[depth_ - 1]; }

    Frame& push(FrameKind kind) {
        if (depth_ >= kMaxNesting) fail("elements nested more than " + std::to_string(kMaxNesting) + " levels deep");
        if (frames_.size() <= depth_) frames_.emplace_back();
        Frame& frame = frames_[depth_++];
        frame.kind = kind;
        frame.art = kNone;
        frame.attributes = 0;
        frame.isSwitch = frame.switchChosen = false;
        std::fill(std::begin(frame.counts), std::end(frame.counts), 0);
        frame.children = 0;
        frame.lastChildOrdinal = SvgDocument::kNoElement;
        frame.gradient = nullptr;
        frame.info.parent = frame.info.previous = nullptr;
        if (!frame.siblings.empty()) frame.siblings.clear();
        return frame;
    }

    void pass(const Source& source, bool first) {
        out_.document.reserve(expected_);
        out_.elementOrdinal.reserve(expected_);
        out_.subpath.reserve(expected_);
        out_.steps.reserve(expected_);
        collecting_ = first;
        stale_ = false;
        artCreated_ = false;
        depth_ = 0;
        ordinal_ = 0;
        defaultLayer_ = kNone;
        guides_.clear();
        customArena_.clear();
        unresolved_.clear();
        out_.stepNames.assign(std::begin(kElementNames), std::end(kElementNames));
        subpathStep_ = static_cast<std::uint32_t>(out_.stepNames.size());
        out_.stepNames.push_back("subpath");
        // Frames point at their parents' selector information: they must
        // never move.
        frames_.reserve(kMaxNesting + 1);

        parser_ = XML_ParserCreateNS(nullptr, kNsSeparator);
        if (parser_ == nullptr) throw std::bad_alloc();
        std::unique_ptr<XML_ParserStruct, void (*)(XML_Parser)> guard(parser_, XML_ParserFree);
        XML_SetUserData(parser_, this);
        XML_SetElementHandler(parser_, onStart, onEnd);
        XML_SetXmlDeclHandler(parser_, onXmlDeclaration);
        XML_SetUnknownEncodingHandler(parser_, singleByteEncoding, nullptr);

        // The bytes are read straight into expat's buffer: no copy between.
        const std::unique_ptr<ByteSource> input = source();
        constexpr int kChunk = 1 << 20;
        for (;;) {
            void* buffer = XML_GetBuffer(parser_, kChunk);
            if (buffer == nullptr) throw std::bad_alloc();
            const std::size_t got = input->read(static_cast<char*>(buffer), kChunk);
            if (XML_ParseBuffer(parser_, static_cast<int>(got), got == 0) != XML_STATUS_OK) {
                if (failure_) std::rethrow_exception(failure_);
                fail(std::string("malformed XML: ") + XML_ErrorString(XML_GetErrorCode(parser_)));
            }
            if (got == 0) break;
        }
        if (ordinal_ == 0) fail("no root element");
        addGuides();
        const std::size_t count = out_.document.artCount();
        out_.elementOrdinal.resize(count, SvgDocument::kNoElement);
        out_.subpath.resize(count, 0);
        out_.steps.resize(count, {kNoStep, 0});
    }

    // Every element pushes one frame, which keeps what the arena held before
    // it: the element's custom properties go with its end.
    void start(const XML_Char* qualified, const XML_Char** attrs) {
        const std::size_t mark = customArena_.size();
        startElement(qualified, attrs);
        top().customMark = mark;
    }

    void startElement(const XML_Char* qualified, const XML_Char** attrs) {
        const std::uint32_t ordinal = ordinal_++;
        const Name name = splitName(qualified);
        if (depth_ == 0) return startRoot(name, attrs);
        Frame& parent = top();
        ++parent.children;
        parent.lastChildOrdinal = ordinal;
        switch (parent.kind) {
            case FrameKind::kRoot:
            case FrameKind::kContainer:
                break;
            case FrameKind::kNamedView:
                if (isSodipodi(name.ns) && name.local == "guide") addGuide(ordinal, attrs);
                [[fallthrough]];
            default:
                return startOther(name, attrs);
        }
        const bool namedView = isSodipodi(name.ns) && name.local == "namedview";
        const Element element = inSvg(name) && !namedView ? elementOf(name.local) : Element::kNotArt;
        if (element != Element::kNotArt) return startArt(element, name, attrs, ordinal);
        noteSibling(parent, name, attrs);
        if (namedView) return startNamedView(attrs);
        startOther(name, attrs);
    }

    // A child that is not art (<title>, <style>, <defs>...) is a sibling all
    // the same for + and ~. A <style> is noted before its sheet is known.
    void noteSibling(Frame& parent, const Name& name, const XML_Char** attrs) {
        if (!k_.sheet.testsSiblings() && !(inSvg(name) && name.local == "style")) return;
        Attributes a;
        readAttributes(attrs, a);
        describe(name, a, attrs, &parent.info, parent.siblings.empty() ? nullptr : &parent.siblings.back(), false);
        parent.siblings.push_back(scratch_);
    }

    void end() {
        Frame& frame = top();
        if (customArena_.size() > frame.customMark) customArena_.resize(frame.customMark);
        if (collecting_ && frame.lastChildOrdinal != SvgDocument::kNoElement) {
            if (k_.lastChild.size() <= frame.lastChildOrdinal) k_.lastChild.resize(frame.lastChildOrdinal + 1u);
            k_.lastChild[frame.lastChildOrdinal] = true;
        }
        if (frame.kind == FrameKind::kStyle && collecting_) {
            XML_SetCharacterDataHandler(parser_, nullptr);
            const std::size_t before = k_.sheet.size();
            k_.sheet.add(styleText_);
            // Rules that come after art they may apply to, or that apply to
            // the root, which came before them: read again.
            if (k_.sheet.size() != before && (artCreated_ || matchesRoot())) stale_ = true;
        }
        --depth_;
    }

    bool matchesRoot() {
        matches_.clear();
        k_.sheet.match(frames_[0].info, matches_);
        return !matches_.empty();
    }

    // Elements that are not art: style sheets and paint servers are noted;
    // nothing below them is art.
    void startOther(const Name& name, const XML_Char** attrs) {
        if (collecting_ && top().gradient != nullptr && inSvg(name) && name.local == "stop") top().gradient->stops = true;
        if (inSvg(name) && collecting_) {
            if (name.local == "style") {
                const char* type = "";
                for (const XML_Char** a = attrs; *a != nullptr; a += 2)
                    if (std::strcmp(a[0], "type") == 0) type = a[1];
                const std::string_view t = trim(type);
                if (t.empty() || equalsIgnoringCase(t, "text/css")) {
                    styleText_.clear();
                    push(FrameKind::kStyle);
                    XML_SetCharacterDataHandler(parser_, onText);
                    return;
                }
            } else if (isPaintServer(name.local) || isMeshGradient(name.local)) {
                Knowledge::Server* server = nullptr;
                const char* href = nullptr;
                for (const XML_Char** a = attrs; *a != nullptr; a += 2) {
                    const Name n = splitName(a[0]);
                    if (n.local == "href" && (n.ns.empty() || n.ns == kXlinkNs)) href = a[1];
                    if (!n.ns.empty() || n.local != "id") continue;
                    if (isMeshGradient(name.local)) {
                        k_.meshes.insert(a[1]);
                    } else {
                        server = &k_.paintServers[a[1]];
                        server->gradient = name.local == "linearGradient" || name.local == "radialGradient";
                    }
                    // Referred to before it was known: read again.
                    if (unresolved_.count(a[1]) != 0) stale_ = true;
                }
                if (server != nullptr && href != nullptr) server->href = trim(href);
                if (server != nullptr && server->gradient) return void(push(FrameKind::kSkip).gradient = server);
            }
        }
        push(FrameKind::kSkip);
    }

    void startNamedView(const XML_Char** attrs) {
        lockGuides_ = false;
        hideGuides_ = false;
        for (const XML_Char** a = attrs; *a != nullptr; a += 2) {
            const Name n = splitName(a[0]);
            if (n.ns == kInkscapeNs && n.local == "lockguides") lockGuides_ = isTrue(a[1]);
            else if (n.ns.empty() && n.local == "showguides") hideGuides_ = !isTrue(a[1]);
        }
        push(FrameKind::kNamedView);
    }

    void addGuide(std::uint32_t ordinal, const XML_Char** attrs) {
        Guide guide{ordinal, {}, false};
        for (const XML_Char** a = attrs; *a != nullptr; a += 2) {
            const Name n = splitName(a[0]);
            if (n.ns.empty() && n.local == "id") guide.id = a[1];
            else if (n.ns == kInkscapeNs && n.local == "locked") guide.locked = isTrue(a[1]);
        }
        guides_.push_back(std::move(guide));
    }

    void readAttributes(const XML_Char** attrs, Attributes& a) {
        declarations_.clear();
        for (const XML_Char** at = attrs; *at != nullptr; at += 2) {
            const char* name = at[0];
            const char* value = at[1];
            if (std::strchr(name, kNsSeparator) != nullptr) {
                const Name n = splitName(name);
                if (n.ns == kXlinkNs && n.local == "href") a.xlinkHref = value;
                else if (isSodipodi(n.ns) && n.local == "insensitive") a.insensitive = isTrue(value);
                else if (n.ns == kInkscapeNs && n.local == "groupmode") a.groupmode = value;
                else if (n.ns == kInkscapeNs && n.local == "label") a.label = value;
                continue;
            }
            switch (name[0]) {
                case 'i': if (std::strcmp(name, "id") == 0) { a.id = value; continue; } break;
                case 'c': if (std::strcmp(name, "class") == 0) { a.classes = value; continue; } break;
                case 'd': if (name[1] == 0) { a.d = value; continue; } break;
                case 'h': if (std::strcmp(name, "href") == 0) { a.href = value; continue; } break;
                case 's':
                    if (std::strcmp(name, "style") == 0) { a.style = value; continue; }
                    if (std::strcmp(name, "systemLanguage") == 0) { a.systemLanguage = value; continue; }
                    break;
                case 'r':
                    if (std::strcmp(name, "requiredExtensions") == 0) { a.requiredExtensions = value; continue; }
                    break;
                default: break;
            }
            if (const auto prop = propertyNamed(name)) declarations_.push_back({*prop, trim(value), false});
        }
    }

    // Fills scratch_ with what selectors may ask of the element.
    // `typePosition`: among the parent's children of its name, from 1.
    void describe(const Name& name, const Attributes& a, const XML_Char** attrs, const ElementInfo* parent,
                  const ElementInfo* previous, bool root, std::uint32_t typePosition = 0) {
        scratch_.name.assign(name.local);
        scratch_.id.assign(a.id);
        scratch_.classes.assign(a.classes);
        scratch_.attributes.clear();
        if (k_.sheet.testsAttributes() || root)
            for (const XML_Char** at = attrs; *at != nullptr; at += 2)
                scratch_.attributes.emplace_back(splitName(at[0]).local, at[1]);
        scratch_.root = root;
        scratch_.parent = parent;
        scratch_.previous = previous;
        // The root has no siblings: it is the first, the last and the only
        // one, as browsers match it.
        scratch_.position = root ? 1 : top().children;
        scratch_.typePosition = root ? 1 : typePosition;
        const std::uint32_t ordinal = ordinal_ - 1;
        scratch_.last = root || (!collecting_ && ordinal < k_.lastChild.size() && k_.lastChild[ordinal]);
    }

    // Does the paint server `id` paint? A gradient needs stops, its own or
    // those of the gradients its href leads to.
    bool paints(const std::string& id) const {
        std::string at = id;
        for (int hops = 0; hops < 64; ++hops) {
            const auto it = k_.paintServers.find(at);
            if (it == k_.paintServers.end()) return false;
            const Knowledge::Server& server = it->second;
            if (!server.gradient || server.stops) return true;
            if (server.href.size() < 2 || server.href[0] != '#') return false;
            at = server.href.substr(1);
        }
        return false;
    }

    Paint paintOf(std::string_view value, Paint parent, Paint initial) {
        // No element here gives a context to take context-fill from.
        if (isKeyword(value, {"none", "context-fill", "context-stroke"})) return Paint::kNone;
        if (isKeyword(value, {"inherit", "unset", "revert", "revert-layer"})) return parent;
        if (equalsIgnoringCase(value, "initial")) return initial;
        if (!startsWithIgnoringCase(value, "url(")) return Paint::kColor;
        // url(#id) [fallback]: a paint server of this drawing; anything else
        // (a missing id, another file) falls back, or paints nothing.
        const std::size_t close = value.find(')');
        if (close == std::string_view::npos) return Paint::kNone;
        std::string_view ref = trim(value.substr(4, close - 4));
        if (ref.size() >= 2 && (ref.front() == '"' || ref.front() == '\'') && ref.back() == ref.front())
            ref = trim(ref.substr(1, ref.size() - 2));
        if (!ref.empty() && ref.front() == '#') {
            std::string id(ref.substr(1));
            if (k_.meshes.count(id) != 0) return Paint::kMesh;
            if (k_.paintServers.count(id) != 0) return paints(id) ? Paint::kColor : Paint::kNone;
            if (collecting_) unresolved_.insert(std::move(id));
        }
        const std::string_view fallback = trim(value.substr(close + 1));
        if (fallback.empty() || equalsIgnoringCase(fallback, "none")) return Paint::kNone;
        return Paint::kColor;
    }

    struct Winner {
        std::string_view value;
        std::uint64_t priority = 0;
        bool set = false;
        std::string_view name;  // a custom property's
    };

    // The cascade: presentation attributes (already in declarations_), then
    // the sheet's rules, then the style attribute, !important last.
    // Returns whether a winner may hold a var().
    bool cascade(const Attributes& a, Winner (&winners)[kPropCount]) {
        customs_.clear();
        bool var = false;
        auto consider = [&](Prop prop, std::string_view value, std::uint64_t priority, std::string_view name) {
            // A value the property cannot take is dropped, so a weaker
            // declaration of the same property still applies. A value with
            // var() is checked once substituted.
            if (!isValidValue(prop, value)) {
                if (!usesVar(value)) return;
                var = true;
            }
            Winner* w = prop == Prop::kCustom ? nullptr : &winners[static_cast<int>(prop)];
            for (std::size_t k = 0; w == nullptr && k < customs_.size(); ++k)
                if (customs_[k].name == name) w = &customs_[k];
            if (w == nullptr) w = &customs_.emplace_back();
            if (!w->set || priority >= w->priority) *w = {value, priority, true, name};
        };
        for (const Declaration& d : declarations_) consider(d.prop, d.value, priorityOf(Origin::kPresentation), {});
        if (!k_.sheet.empty()) {
            matches_.clear();
            k_.sheet.match(scratch_, matches_);
            for (const Stylesheet::Match& m : matches_) consider(m.prop, m.value, m.priority, m.name);
        }
        if (a.style != nullptr) {
            declarations_.clear();
            parseDeclarations(a.style, declarations_);
            for (const Declaration& d : declarations_)
                consider(d.prop, d.value,
                         priorityOf(d.important ? Origin::kImportantStyleAttribute : Origin::kStyleAttribute), d.name);
        }
        return var;
    }

    // The element's custom properties: its parent's, under those it declares.
    // A var() in a declared value reads the parent's and the element's plain
    // ones.
    const CustomProperties* customProperties(const Inherited& parent) {
        if (customs_.empty()) return parent.custom;
        CustomProperties* own = &customArena_.emplace_back(parent.custom ? *parent.custom : CustomProperties());
        auto assign = [&own](std::string_view name, std::optional<std::string> value) {
            auto it = std::find_if(own->begin(), own->end(), [&](const auto& p) { return p.first == name; });
            if (it != own->end()) own->erase(it);
            if (value) own->emplace_back(std::string(name), std::move(*value));
        };
        for (const bool withVar : {false, true}) {
            for (const Winner& w : customs_) {
                if (usesVar(w.value) != withVar || equalsIgnoringCase(w.value, "inherit") ||
                    equalsIgnoringCase(w.value, "unset"))
                    continue;
                if (equalsIgnoringCase(w.value, "initial")) assign(w.name, std::nullopt);
                else assign(w.name, withVar ? substituteVars(w.value, customNamed, own) : std::string(w.value));
            }
        }
        return own;
    }

    Computed compute(const Attributes& a, const Inherited& parent) {
        Winner winners[kPropCount];
        const bool var = cascade(a, winners);
        Computed computed;
        computed.inherited.custom = customProperties(parent);
        // A var() is substituted now; when what it names is missing, or
        // what it gives is no value of the property, the property is unset:
        // inherited, or for display its initial value.
        for (int p = 0; var && p < kPropCount; ++p) {
            Winner& w = winners[p];
            if (!w.set || !usesVar(w.value)) continue;
            std::optional<std::string> value = substituteVars(w.value, customNamed, computed.inherited.custom);
            w.set = value && isValidValue(static_cast<Prop>(p), *value);
            if (w.set) w.value = substituted_[p] = std::move(*value);
        }
        Inherited& style = computed.inherited;
        style.fill = parent.fill;
        style.stroke = parent.stroke;
        style.dashCount = parent.dashCount;
        style.invisible = parent.invisible;
        if (const Winner& w = winners[int(Prop::kFill)]; w.set) style.fill = paintOf(w.value, parent.fill, Paint::kColor);
        if (const Winner& w = winners[int(Prop::kStroke)]; w.set)
            style.stroke = paintOf(w.value, parent.stroke, Paint::kNone);
        if (const Winner& w = winners[int(Prop::kDashArray)]; w.set) {
            if (equalsIgnoringCase(w.value, "initial")) style.dashCount = 0;
            else if (!isCssWideKeyword(w.value))
                style.dashCount = static_cast<ai::int16>(std::min(dashCount(w.value), 32767));
        }
        if (const Winner& w = winners[int(Prop::kVisibility)]; w.set) {
            if (isKeyword(w.value, {"hidden", "collapse"})) style.invisible = true;
            else if (isKeyword(w.value, {"visible", "initial"})) style.invisible = false;
            else if (isKeyword(w.value, {"inherit", "unset", "revert", "revert-layer"})) style.invisible = parent.invisible;
        }
        // display is not inherited; an ancestor's display:none hides the
        // element through the frame's attributes instead.
        if (const Winner& w = winners[int(Prop::kDisplay)]; w.set) computed.displayNone = equalsIgnoringCase(w.value, "none");
        return computed;
    }

    void startRoot(const Name& name, const XML_Char** attrs) {
        if (!inSvg(name) || name.local != "svg")
            fail("not an SVG document (the root element is <" + std::string(name.local) + ">)");
        Attributes a;
        readAttributes(attrs, a);
        describe(name, a, attrs, nullptr, nullptr, true);
        const Computed style = compute(a, Inherited());
        rootHidden_ = style.displayNone || !conditionsHold(a);
        rootLocked_ = a.insensitive;
        Frame& frame = push(FrameKind::kRoot);
        frame.inherited = style.inherited;
        frame.info = scratch_;
    }

    void record(ArtIndex index, std::uint32_t ordinal, std::uint32_t step, std::uint32_t position,
                std::uint32_t subpath = 0) {
        const auto i = static_cast<std::size_t>(index);
        if (out_.elementOrdinal.size() == i) {  // the usual case: the newest object
            out_.elementOrdinal.push_back(ordinal);
            out_.subpath.push_back(subpath);
            out_.steps.push_back({step, position});
            return;
        }
        if (out_.elementOrdinal.size() < i) {
            out_.elementOrdinal.resize(i + 1, SvgDocument::kNoElement);
            out_.subpath.resize(i + 1, 0);
            out_.steps.resize(i + 1, {kNoStep, 0});
        }
        out_.elementOrdinal[i] = ordinal;
        out_.subpath[i] = subpath;
        out_.steps[i] = {step, position};
    }

    ArtIndex addObject(ArtIndex parent, AIArtType type, const Attributes& a, Element element, std::uint32_t position,
                       std::uint32_t ordinal, ai::int32 attributes) {
        const ArtIndex index = out_.document.addArt(parent, type, a.id);
        out_.document.art(index).attributes = attributes;
        record(index, ordinal, static_cast<std::uint32_t>(element), position);
        return index;
    }

    void addShape(ArtIndex parent, const Attributes& a, Element element, std::uint32_t position, std::uint32_t ordinal,
                  const Computed& style, ai::int32 attributes) {
        Document& doc = out_.document;
        auto setStyle = [&](ArtIndex index, bool closed) {
            ArtNode& art = doc.art(index);
            art.closed = closed ? 1 : 0;
            art.fillPaint = style.inherited.fill != Paint::kNone ? 1 : 0;
            art.strokePaint = style.inherited.stroke != Paint::kNone ? 1 : 0;
            art.dashCount = style.inherited.dashCount;
        };
        if (style.inherited.fill == Paint::kMesh) {
            addObject(parent, kMeshArt, a, element, position, ordinal, attributes);
            return;
        }
        if (element != Element::kPath) {
            const bool closed = element != Element::kLine && element != Element::kPolyline;
            setStyle(addObject(parent, kPathArt, a, element, position, ordinal, attributes), closed);
            return;
        }
        scanSubpaths(a.d, subpaths_);
        if (subpaths_.size() <= 1) {
            setStyle(addObject(parent, kPathArt, a, element, position, ordinal, attributes),
                     !subpaths_.empty() && subpaths_[0]);
            return;
        }
        const ArtIndex compound = addObject(parent, kCompoundPathArt, a, element, position, ordinal, attributes);
        setStyle(compound, false);
        for (std::size_t k = 0; k < subpaths_.size(); ++k) {
            const ArtIndex child = doc.addArt(compound, kPathArt);
            doc.art(child).attributes = attributes;
            setStyle(child, subpaths_[k]);
            const auto number = static_cast<std::uint32_t>(k + 1);
            record(child, ordinal, subpathStep_, number, number);
        }
    }

    ArtIndex defaultLayerRoot() {
        if (defaultLayer_ == kNone) {
            defaultLayer_ = out_.document.addLayer("Default layer", !rootHidden_, !rootLocked_);
            record(out_.document.rootOf(defaultLayer_), SvgDocument::kNoElement, kNoStep, 0);
        }
        return out_.document.rootOf(defaultLayer_);
    }

    void startArt(Element element, const Name& name, const XML_Char** attrs, std::uint32_t ordinal) {
        Frame& parent = top();
        const std::uint32_t position = ++parent.counts[static_cast<std::size_t>(element)];
        Attributes a;
        readAttributes(attrs, a);
        const bool described = !k_.sheet.empty();
        if (described)
            describe(name, a, attrs, &parent.info, parent.siblings.empty() ? nullptr : &parent.siblings.back(), false,
                     position);
        const Computed style = compute(a, parent.inherited);
        artCreated_ = true;
        // The art children so far, for + and ~ selectors (a deque: they
        // point at each other and must not move).
        if (described && k_.sheet.testsSiblings()) parent.siblings.push_back(scratch_);
        // Containers keep what selectors may ask of them, for their
        // descendants; leaves need it only while their own style is found.
        if (!described && isGroupElement(element)) describe(name, a, attrs, &parent.info, nullptr, false, position);
        scratch_.previous = nullptr;

        if (parent.kind == FrameKind::kRoot && element == Element::kG) {
            const bool modeLayer = a.groupmode != nullptr && std::strcmp(a.groupmode, "layer") == 0;
            if (modeLayer && !k_.layersByMode) {
                // Top-level groups taken for layers so far are not: read again.
                if (groupLayers_ > 0) stale_ = true;
                k_.layersByMode = true;
            }
            if (modeLayer || !k_.layersByMode) return startLayer(a, style, position, ordinal);
        }

        bool unrendered = !conditionsHold(a);
        if (parent.isSwitch) {
            unrendered = unrendered || parent.switchChosen;
            if (!unrendered) parent.switchChosen = true;
        }
        const ai::int32 below = parent.attributes | (style.displayNone || unrendered ? kArtHidden : 0) |
                                (a.insensitive ? kArtLocked : 0);
        const ai::int32 attributes = below | (style.inherited.invisible ? kArtHidden : 0);
        const ArtIndex into = parent.kind == FrameKind::kRoot ? defaultLayerRoot() : parent.art;

        if (isGroupElement(element)) {
            const ArtIndex group = addObject(into, kGroupArt, a, element, position, ordinal, attributes);
            const ElementInfo* parentInfo = &parent.info;
            Frame& frame = push(FrameKind::kContainer);
            frame.art = group;
            frame.inherited = style.inherited;
            frame.attributes = below;
            frame.isSwitch = element == Element::kSwitch;
            frame.info = scratch_;
            frame.info.parent = parentInfo;
            return;
        }
        if (isShape(element)) {
            addShape(into, a, element, position, ordinal, style, attributes);
        } else {
            AIArtType type = kOtherArt;
            if (element == Element::kImage) {
                const std::string_view href = trim(a.href != nullptr ? a.href : a.xlinkHref != nullptr ? a.xlinkHref : "");
                type = startsWithIgnoringCase(href, "data:") ? kRasterArt : kPlacedArt;
            } else if (element == Element::kUse) {
                type = kSymbolArt;
            } else if (element == Element::kText) {
                type = kTextArt;
            }
            addObject(into, type, a, element, position, ordinal, attributes);
        }
        push(FrameKind::kLeaf);
    }

    void startLayer(const Attributes& a, const Computed& style, std::uint32_t position, std::uint32_t ordinal) {
        if (!k_.layersByMode) ++groupLayers_;
        Document& doc = out_.document;
        std::string name = a.label != nullptr ? a.label : a.id;
        if (name.empty()) name = "Layer " + std::to_string(doc.layerCount() + 1);
        const LayerIndex layer = doc.addLayer(std::move(name), !rootHidden_ && !style.displayNone && conditionsHold(a),
                                              !rootLocked_ && !a.insensitive);
        const ArtIndex root = doc.rootOf(layer);
        doc.setId(root, a.id);
        record(root, ordinal, static_cast<std::uint32_t>(Element::kG), position);
        const ElementInfo* parentInfo = &top().info;
        Frame& frame = push(FrameKind::kContainer);
        frame.art = root;
        frame.inherited = style.inherited;
        frame.attributes = 0;  // the layer's flags say what applies to it
        scratch_.parent = parentInfo;
        frame.info = scratch_;
    }

    void addGuides() {
        if (guides_.empty()) return;
        Document& doc = out_.document;
        const LayerIndex layer = doc.addLayer("Guides");
        record(doc.rootOf(layer), SvgDocument::kNoElement, kNoStep, 0);
        const auto step = static_cast<std::uint32_t>(out_.stepNames.size());
        out_.stepNames.push_back("sodipodi:namedview/sodipodi:guide");
        std::uint32_t position = 0;
        for (const Guide& guide : guides_) {
            PathProps props;
            props.guide = true;
            props.filled = false;
            const ArtIndex path = doc.addPath(doc.rootOf(layer), props, guide.id);
            doc.art(path).attributes = (lockGuides_ || guide.locked ? kArtLocked : 0) | (hideGuides_ ? kArtHidden : 0);
            record(path, guide.ordinal, step, ++position);
        }
    }

    static constexpr std::uint32_t kNoStep = ~std::uint32_t(0);

    const std::string& origin_;
    SvgDocument& out_;
    std::size_t expected_;  // objects to make room for
    Knowledge k_;
    XML_Parser parser_ = nullptr;
    std::exception_ptr failure_;
    bool collecting_ = true;
    bool stale_ = false;
    bool artCreated_ = false;
    std::size_t groupLayers_ = 0;  // top-level groups taken for layers without a layer mode
    std::vector<Frame> frames_;
    std::size_t depth_ = 0;
    std::uint32_t ordinal_ = 0;
    std::vector<Declaration> declarations_;
    std::vector<Winner> customs_;  // the winning custom property declarations
    std::deque<CustomProperties> customArena_;  // the custom properties of the open elements
    std::string substituted_[kPropCount];
    std::vector<Stylesheet::Match> matches_;
    std::vector<bool> subpaths_;
    ElementInfo scratch_;
    std::string styleText_;
    std::unordered_set<std::string> unresolved_;
    std::vector<Guide> guides_;
    bool lockGuides_ = false;
    bool hideGuides_ = false;
    bool rootHidden_ = false;
    bool rootLocked_ = false;
    LayerIndex defaultLayer_ = kNone;
    std::uint32_t subpathStep_ = 0;
};

}  // namespace

std::string SvgDocument::idOf(ArtIndex index) const {
    const ArtNode& node = document.art(index);
    if (!document.id(index).empty()) return document.id(index);
    auto stepText = [this](ArtIndex i) {
        const Step& s = steps[static_cast<std::size_t>(i)];
        return stepNames[s.name] + "[" + std::to_string(s.position) + "]";
    };
    // A subpath is named after its path: by the path's id when it has one.
    if (subpath[static_cast<std::size_t>(index)] != 0 && node.parent != kNone)
        return idOf(node.parent) + "/" + stepText(index);
    std::vector<ArtIndex> chain;
    for (ArtIndex i = index; i != kNone && steps[static_cast<std::size_t>(i)].name != ~std::uint32_t(0);
         i = document.art(i).parent)
        chain.push_back(i);
    std::string id = "/svg";
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) id += "/" + stepText(*it);
    return id;
}

SvgDocument svgDocumentFromText(std::string text, const std::string& origin) {
    if (text.empty()) throw DocumentError(origin + ": the document is empty");
    SvgDocument svg;
    Reader(origin, svg, text.size()).read([&text] { return std::make_unique<TextSource>(text); });
    return svg;
}

SvgDocument svgDocumentFromStream(const std::function<std::size_t(char*, std::size_t)>& read, const std::string& whole,
                                  std::uint64_t expectedBytes, const std::string& origin) {
    struct Pull : ByteSource {
        explicit Pull(const std::function<std::size_t(char*, std::size_t)>& f) : read_(f) {}
        std::size_t read(char* buffer, std::size_t capacity) override { return read_(buffer, capacity); }
        const std::function<std::size_t(char*, std::size_t)>& read_;
    };
    SvgDocument svg;
    bool first = true;
    Reader(origin, svg, expectedBytes).read([&]() -> std::unique_ptr<ByteSource> {
        if (!first) return std::make_unique<TextSource>(whole);
        first = false;
        return std::make_unique<Pull>(read);
    });
    return svg;
}

SvgDocument loadSvgDocument(const std::string& path) {
    struct stat info {};
    // A stream (standard input, a pipe) cannot be read twice, and a drawing
    // may need a second pass: it is kept as it comes.
    if (path == "-" || (stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode) && !S_ISDIR(info.st_mode)))
        return svgDocumentFromText(readDocumentBytes(path), path);
    // Compressed drawings are guessed to be about five times as long.
    std::uint64_t bytes = stat(path.c_str(), &info) == 0 ? static_cast<std::uint64_t>(info.st_size) : 0;
    if (path.size() > 5 && path.compare(path.size() - 5, 5, ".svgz") == 0) bytes *= 5;
    SvgDocument svg;
    Reader(path, svg, bytes).read([&path] { return std::make_unique<DocumentStream>(path); });
    return svg;
}

}  // namespace simhost
