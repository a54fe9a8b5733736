// The documents the command line opens: SVG drawings (when built with the
// SVG reader) and JSON documents, and the files a directory holds.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "simhost/Document.h"
#include "simhost/DocumentJson.h"
#include "simhost/svg/SvgDocument.h"

namespace simhost_cli {

// Why a document that is not a drawing cannot be marked.
inline constexpr const char* kNotADrawing = "a JSON document is no drawing: -o and --png need an SVG document";

class OpenDocument {
public:
    virtual ~OpenDocument() = default;
    virtual simhost::Document& document() = 0;
    // How the user knows the object: its id, or where it sits.
    virtual std::string idOf(simhost::ArtIndex index) = 0;
    // Whether the document is a drawing that -o and --png can mark.
    virtual bool isDrawing() const { return true; }
    // The drawing with `selected` outlined, as SVG text. Throws
    // simhost::DocumentError when the document is not a drawing.
    virtual std::string marked(const std::vector<simhost::ArtIndex>& selected) = 0;
    // The picture of `selected` as PNG at `png`. Throws
    // simhost::DocumentError when the document is not a drawing or the
    // picture cannot be made.
    virtual void picture(const std::vector<simhost::ArtIndex>& selected, const simhost::PictureOptions& options,
                         const std::string& png) = 0;

    // For an object that is part of one element of the file (a subpath of
    // a <path>, a path of a compound path), that element's id; else empty.
    virtual std::string elementOf(simhost::ArtIndex index) {
        const simhost::ArtNode& node = document().art(index);
        if (node.type != kPathArt || node.parent == simhost::kNone) return {};
        return document().art(node.parent).type == kCompoundPathArt ? idOf(node.parent) : std::string();
    }

    std::string layerOf(simhost::ArtIndex index) {
        const simhost::ArtNode& node = document().art(index);
        return node.layer == simhost::kNone ? std::string() : document().layer(node.layer).name;
    }
};

// Objects may nest this deep; a selection command's cost grows with depth.
constexpr std::size_t kMaxDocumentDepth = 1024;
// Throws simhost::DocumentError naming `origin` for a document nested deeper.
void checkDepth(const simhost::Document& document, const std::string& origin);

// Opens a document by its extension (.svg, .svgz, .json) or, failing that,
// by its first bytes. Throws simhost::DocumentError with a one-line reason.
std::unique_ptr<OpenDocument> openDocument(const std::string& path);

// The built-in sample drawing.
std::unique_ptr<OpenDocument> openSample();
const char* sampleName();

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

bool svgSupported();

}  // namespace simhost_cli
