#include "Documents.h"

#include <zlib.h>

#include <nlohmann/json.hpp>

#include "simhost/DocumentJson.h"

// The built-in sample drawing, embedded at build time from examples/.
extern const unsigned char kServeSampleSvg[];
extern const std::size_t kServeSampleSvgSize;

namespace simhost_serve {

using namespace simhost;

namespace {

// As the command line: objects may nest this deep.
constexpr std::uint32_t kMaxDocumentDepth = 1024;

void checkDepth(const Document& document, const std::string& origin) {
    std::vector<std::uint32_t> depth(document.artCount(), 0);
    for (const ArtIndex index : document.documentOrder()) {
        const ArtIndex parent = document.art(index).parent;
        const std::uint32_t d = parent == kNone ? 0 : depth[static_cast<std::size_t>(parent)] + 1;
        depth[static_cast<std::size_t>(index)] = d;
        if (d > kMaxDocumentDepth)
            throw DocumentError(origin + ": objects nested more than " + std::to_string(kMaxDocumentDepth) +
                                " levels deep");
    }
}

bool isGzip(const std::string& bytes) {
    return bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0x1F &&
           static_cast<unsigned char>(bytes[1]) == 0x8B;
}

// gzip data inflated, no larger than the SVG reader takes.
std::string inflated(const std::string& bytes, const std::string& name) {
    z_stream z{};
    if (inflateInit2(&z, 16 + MAX_WBITS) != Z_OK) throw DocumentError(name + ": cannot inflate");
    std::string out;
    std::vector<char> chunk(std::size_t(1) << 20);
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
    z.avail_in = static_cast<uInt>(bytes.size());
    int status = Z_OK;
    while (status != Z_STREAM_END) {
        z.next_out = reinterpret_cast<Bytef*>(chunk.data());
        z.avail_out = static_cast<uInt>(chunk.size());
        status = inflate(&z, Z_NO_FLUSH);
        if (status != Z_OK && status != Z_STREAM_END) {
            const std::string why = z.msg != nullptr ? z.msg : "truncated";
            inflateEnd(&z);
            throw DocumentError(name + ": broken gzip data (" + why + ")");
        }
        out.append(chunk.data(), chunk.size() - z.avail_out);
        if (out.size() > kMaxSvgBytes) {
            inflateEnd(&z);
            throw DocumentError(name + ": the document is larger than " + std::to_string(kMaxSvgBytes >> 30) + " GiB");
        }
    }
    inflateEnd(&z);
    return out;
}

bool looksLikeJson(const std::string& bytes) {
    for (const char c : bytes) {
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r') continue;
        return c == '{' || c == '[';
    }
    return false;
}

}  // namespace

std::string OpenDoc::idOf(ArtIndex index) const {
    if (svg_) return svg_->idOf(index);
    const std::string& id = json_.id(index);
    return id.empty() ? "@" + std::to_string(index) : id;
}

std::string OpenDoc::layerOf(ArtIndex index) const {
    const Document& doc = svg_ ? svg_->document : json_;
    const ArtNode& node = doc.art(index);
    return node.layer == kNone ? std::string() : doc.layer(node.layer).name;
}

std::string OpenDoc::outlines(const std::vector<ArtIndex>& objects) {
    if (!svg_) return {};
    if (!outlines_) outlines_ = std::make_unique<SelectionOutlines>(*svg_, *svgText);
    return (*outlines_)(objects);
}

void OpenDoc::describe() {
    const Document& doc = document();
    // A layer's root group is no object of the drawing.
    objects = doc.artCount() - doc.layerCount();
    layers = doc.layerCount();
    nlohmann::json list = nlohmann::json::array();
    for (std::size_t l = 0; l < doc.layerCount(); ++l) {
        const Layer& layer = doc.layer(static_cast<LayerIndex>(l));
        list.push_back({{"name", layer.name}, {"visible", layer.visible != 0}, {"editable", layer.editable != 0}});
    }
    layersJson = list.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::shared_ptr<OpenDoc> OpenDoc::fromSvg(SvgDocument svg, std::string text, std::string name) {
    auto doc = std::make_shared<OpenDoc>();
    doc->name = std::move(name);
    doc->svg_ = std::make_unique<SvgDocument>(std::move(svg));
    doc->svgText = std::make_shared<const std::string>(std::move(text));
    doc->describe();
    return doc;
}

std::shared_ptr<OpenDoc> OpenDoc::fromJson(Document document, std::string name) {
    auto doc = std::make_shared<OpenDoc>();
    doc->name = std::move(name);
    doc->json_ = std::move(document);
    doc->describe();
    return doc;
}

std::shared_ptr<OpenDoc> openDocumentBytes(std::string bytes, const std::string& name) {
    if (bytes.empty()) throw DocumentError(name + ": the file is empty");
    if (isGzip(bytes)) bytes = inflated(bytes, name);
    if (looksLikeJson(bytes)) {
        Document document = documentFromJson(bytes, name);
        checkDepth(document, name);
        return OpenDoc::fromJson(std::move(document), name);
    }
    SvgDocument svg = svgDocumentFromText(bytes, name);
    return OpenDoc::fromSvg(std::move(svg), std::move(bytes), name);
}

std::shared_ptr<OpenDoc> openDocumentFile(const std::string& path) {
    return openDocumentBytes(readDocumentBytes(path), path);
}

std::shared_ptr<OpenDoc> openSampleDocument() {
    return openDocumentBytes(std::string(reinterpret_cast<const char*>(kServeSampleSvg), kServeSampleSvgSize),
                             "examples/sample.svg");
}

std::string DocumentStore::add(std::shared_ptr<OpenDoc> doc) {
    std::lock_guard<std::mutex> lock(mutex_);
    doc->id = "d" + std::to_string(next_++);
    docs_.push_back(doc);
    return doc->id;
}

std::shared_ptr<OpenDoc> DocumentStore::find(const std::string& id) const {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& doc : docs_)
        if (doc->id == id) return doc;
    return nullptr;
}

bool DocumentStore::remove(const std::string& id) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto it = docs_.begin(); it != docs_.end(); ++it)
        if ((*it)->id == id) {
            docs_.erase(it);
            return true;
        }
    return false;
}

std::vector<std::shared_ptr<OpenDoc>> DocumentStore::list() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return docs_;
}

std::string entryJson(const OpenDoc& doc) {
    return nlohmann::json{{"id", doc.id}, {"name", doc.name}, {"objects", doc.objects}, {"layers", doc.layers}}.dump(
        -1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace simhost_serve
