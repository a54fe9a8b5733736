// The one way documents are opened, by every front end: SVG drawings (when
// built with the SVG reader) and JSON documents, from a file, a stream or
// bytes in memory, gzip-compressed or not; checked for depth before they
// are handed out. Also the built-in sample drawing and the files a
// directory holds.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "simhost/Document.h"
#include "simhost/svg/SvgDocument.h"

namespace simhost {

// Why a document that is not a drawing cannot be marked.
inline constexpr const char* kNotADrawing = "a JSON document is no drawing: -o and --png need an SVG document";

// Documents larger than this, as read (inflated), are refused.
constexpr std::uint64_t kMaxDocumentBytes = std::uint64_t(2) << 30;

class OpenDocument {
public:
    virtual ~OpenDocument() = default;
    virtual Document& document() = 0;
    // How the user knows the object: its id, or where it sits.
    virtual std::string idOf(ArtIndex index) = 0;
    // The same, in `scratch` only when it has to be made: a selection may
    // name a million objects, most of them by an id they already have.
    std::string_view idOf(ArtIndex index, std::string& scratch) {
        const std::string& id = document().id(index);
        if (!id.empty()) return id;
        scratch = idOf(index);
        return scratch;
    }
    // Whether the document is a drawing that -o and --png can mark.
    virtual bool isDrawing() const { return true; }
    // The drawing as read, for outlines; null for a JSON document.
    virtual const SvgDocument* drawing() const { return nullptr; }
    // The drawing's text when it is kept in memory (read from bytes or a
    // stream); null when it is read again from its file, or for JSON.
    virtual std::shared_ptr<const std::string> keptText() const { return nullptr; }
    // The drawing's text as read (inflated), read from its file on the
    // first call when it was not kept, and kept from then on; null for JSON.
    virtual std::shared_ptr<const std::string> drawingText() { return nullptr; }
    // The drawing with `selected` outlined, as SVG text. Throws
    // DocumentError when the document is not a drawing.
    virtual std::string marked(const std::vector<ArtIndex>& selected) = 0;
    // The picture of `selected` as PNG at `png`. Throws DocumentError when
    // the document is not a drawing or the picture cannot be made.
    virtual void picture(const std::vector<ArtIndex>& selected, const PictureOptions& options,
                         const std::string& png) = 0;

    // For an object that is part of one element of the file (a subpath of
    // a <path>, a path of a compound path), that element's id; else empty.
    virtual std::string elementOf(ArtIndex index) {
        const ArtNode& node = document().art(index);
        if (node.type != kPathArt || node.parent == kNone) return {};
        return document().art(node.parent).type == kCompoundPathArt ? idOf(node.parent) : std::string();
    }

    std::string layerOf(ArtIndex index) {
        const ArtNode& node = document().art(index);
        return node.layer == kNone ? std::string() : document().layer(node.layer).name;
    }
};

// Objects may nest this deep; a selection command's cost grows with depth.
constexpr std::size_t kMaxDocumentDepth = 1024;
// Throws DocumentError naming `origin` for a document nested deeper.
void checkDepth(const Document& document, const std::string& origin);

// Whether the bytes begin, after white space, as JSON does.
bool looksLikeJson(std::string_view bytes);
// Whether the bytes begin with gzip's magic bytes.
bool isGzip(std::string_view bytes);
// "NAME: the document is larger than ..." for a limit of `max` bytes.
std::string tooLargeMessage(const std::string& name, std::uint64_t max);

// Opens a document by its extension (.svg, .svgz, .json) or, failing that,
// by its first bytes. "-" is standard input. Throws DocumentError with a
// one-line reason.
std::unique_ptr<OpenDocument> openDocument(const std::string& path);
// Opens a document from its bytes (SVG, gzip-compressed SVG or JSON, told
// apart by their first bytes), of at most `max` bytes inflated, keeping the
// drawing's text. Throws DocumentError naming `name`.
std::unique_ptr<OpenDocument> openDocumentBytes(std::string bytes, const std::string& name,
                                                std::uint64_t max = kMaxDocumentBytes);
// A drawing already read from `text` (as it arrived, say), kept with it.
std::unique_ptr<OpenDocument> openDrawing(SvgDocument svg, std::string text);

// The built-in sample drawing, its text kept.
std::unique_ptr<OpenDocument> openSample();
const char* sampleName();

bool svgSupported();

// One document to read: its path, and how much of it names where it was
// found (path.substr(rootLength) is its name inside the directory that was
// searched, or its file name when it was named itself).
struct DocumentEntry {
    std::string path;
    std::size_t rootLength = 0;
    std::string relative() const { return path.substr(rootLength); }
};

struct SearchOptions {
    bool svg = true;    // .svg and .svgz
    bool json = false;  // .json
    std::vector<std::string> excludes;  // globs on the names found in a directory
};

struct DocumentListing {
    std::vector<DocumentEntry> documents;
    // What the search could not look at: broken links with a document's
    // name, directories it could not read. One line each.
    std::vector<std::string> problems;
};

// The documents named on the command line, taken as they are, and the
// documents of the types asked for in the directories named, searched with
// their subdirectories (links to directories are not followed), each
// directory's in byte order of their paths. Names matching an exclude glob
// (their base name, or their path inside the directory) are left out, and
// directories so named are not searched.
DocumentListing documentFiles(const std::vector<std::string>& names, const SearchOptions& options);

}  // namespace simhost
