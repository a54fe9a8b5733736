// The documents the server holds: each FILE named, each upload, the sample.
// What never changes after opening (names, counts, the drawing's text) is
// read from any thread; the document itself, whose selection the commands
// change, only on the host thread.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "simhost/Document.h"
#include "simhost/SvgDocument.h"
#include "simhost/SvgOverlay.h"

namespace simhost_serve {

class OpenDoc {
public:
    std::string id;
    std::string name;
    std::size_t objects = 0;
    std::size_t layers = 0;
    std::string layersJson;                    // [{"name","visible","editable"}]
    std::shared_ptr<const std::string> svgText;  // the drawing as read; null for JSON documents

    // ---- Host thread only ----
    simhost::Document& document() { return svg_ ? svg_->document : json_; }
    std::string idOf(simhost::ArtIndex index) const;
    std::string layerOf(simhost::ArtIndex index) const;
    // The outlines of `objects`; the drawing is parsed again on first use.
    std::string outlines(const std::vector<simhost::ArtIndex>& objects);

    static std::shared_ptr<OpenDoc> fromSvg(simhost::SvgDocument svg, std::string text, std::string name);
    static std::shared_ptr<OpenDoc> fromJson(simhost::Document document, std::string name);

private:
    void describe();
    std::unique_ptr<simhost::SvgDocument> svg_;
    simhost::Document json_;
    std::unique_ptr<simhost::SelectionOutlines> outlines_;
};

// Reads a document from its bytes (SVG, gzip-compressed SVG or JSON, told
// apart by their first bytes). Throws simhost::DocumentError with the
// message the command line gives, naming `name`.
std::shared_ptr<OpenDoc> openDocumentBytes(std::string bytes, const std::string& name);
// The same for a file named on the command line.
std::shared_ptr<OpenDoc> openDocumentFile(const std::string& path);
std::shared_ptr<OpenDoc> openSampleDocument();

// Thread-safe: ids are given out in order and never reused.
class DocumentStore {
public:
    std::string add(std::shared_ptr<OpenDoc> doc);
    std::shared_ptr<OpenDoc> find(const std::string& id) const;
    bool remove(const std::string& id);
    std::vector<std::shared_ptr<OpenDoc>> list() const;

private:
    mutable std::mutex mutex_;
    std::vector<std::shared_ptr<OpenDoc>> docs_;
    std::uint64_t next_ = 1;
};

// {"id","name","objects","layers"}
std::string entryJson(const OpenDoc& doc);

}  // namespace simhost_serve
