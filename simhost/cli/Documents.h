// The documents the command line opens: SVG drawings (when built with the
// SVG reader) and JSON documents, and the files a directory holds.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "simhost/Document.h"
#include "simhost/DocumentJson.h"
#include "simhost/SvgDocument.h"

namespace simhost_cli {

class OpenDocument {
public:
    virtual ~OpenDocument() = default;
    virtual simhost::Document& document() = 0;
    // How the user knows the object: its id, or where it sits.
    virtual std::string idOf(simhost::ArtIndex index) = 0;
    // The drawing with `selected` outlined, as SVG text. Throws
    // simhost::DocumentError when the document is not a drawing.
    virtual std::string marked(const std::vector<simhost::ArtIndex>& selected) = 0;
    // The picture of `selected` as PNG at `png`. Throws
    // simhost::DocumentError when the document is not a drawing or the
    // picture cannot be made.
    virtual void picture(const std::vector<simhost::ArtIndex>& selected, const simhost::PictureOptions& options,
                         const std::string& png) = 0;

    std::string layerOf(simhost::ArtIndex index) {
        const simhost::ArtNode& node = document().art(index);
        return node.layer == simhost::kNone ? std::string() : document().layer(node.layer).name;
    }
};

// Objects may nest this deep; a selection command's cost grows with depth.
constexpr std::size_t kMaxDocumentDepth = 1024;

// Opens a document by its extension (.svg, .svgz, .json) or, failing that,
// by its first bytes. Throws simhost::DocumentError with a one-line reason.
std::unique_ptr<OpenDocument> openDocument(const std::string& path);

// The built-in sample drawing.
std::unique_ptr<OpenDocument> openSample();
const char* sampleName();

// The documents named on the command line, directories searched for .svg,
// .svgz and .json files, in a stable order. Throws simhost::DocumentError
// for a name that does not exist.
std::vector<std::string> documentFiles(const std::vector<std::string>& names);

bool svgSupported();

}  // namespace simhost_cli
