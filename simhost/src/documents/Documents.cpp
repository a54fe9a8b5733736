#include "simhost/documents/Documents.h"

#include <fnmatch.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <system_error>

#if WENDLOW_BUILD_SVG
#include <zlib.h>

#include "simhost/svg/SvgDocument.h"
#endif

// The built-in sample drawing (its JSON counterpart without the SVG
// reader), embedded at build time from examples/.
extern const unsigned char kSample[];
extern const std::size_t kSampleSize;

namespace simhost {

namespace {

std::string lowerExtension(const std::string& path) {
    std::string ext = std::filesystem::path(path).extension().string();
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext;
}

std::string sampleText() { return std::string(reinterpret_cast<const char*>(kSample), kSampleSize); }

class JsonOpen : public OpenDocument {
public:
    explicit JsonOpen(Document document) : document_(std::move(document)) {}
    Document& document() override { return document_; }
    std::string idOf(ArtIndex index) override {
        const std::string& id = document_.id(index);
        return id.empty() ? "@" + std::to_string(index) : id;
    }
    bool isDrawing() const override { return false; }
    std::string marked(const std::vector<ArtIndex>&) override { throw DocumentError(kNotADrawing); }
    void picture(const std::vector<ArtIndex>& selected, const PictureOptions&, const std::string&) override {
        marked(selected);
    }

private:
    Document document_;
};

// Every JSON document is checked here, whatever it was read from.
std::unique_ptr<OpenDocument> checkedJson(Document document, const std::string& origin) {
    checkDepth(document, origin);
    return std::make_unique<JsonOpen>(std::move(document));
}

#if WENDLOW_BUILD_SVG
class SvgOpen : public OpenDocument {
public:
    // `path` is read again when the drawing is marked, unless its text is
    // `kept` (a stream, bytes, the sample).
    SvgOpen(SvgDocument svg, std::string path, std::shared_ptr<const std::string> kept = nullptr)
        : svg_(std::move(svg)), path_(std::move(path)), kept_(std::move(kept)) {}
    Document& document() override { return svg_.document; }
    std::string idOf(ArtIndex index) override { return svg_.idOf(index); }
    std::string elementOf(ArtIndex index) override {
        const auto i = static_cast<std::size_t>(index);
        if (i >= svg_.subpath.size() || svg_.subpath[i] == 0) return {};
        const ArtIndex parent = svg_.document.art(index).parent;
        return parent == kNone ? std::string() : svg_.idOf(parent);
    }
    const SvgDocument* drawing() const override { return &svg_; }
    std::shared_ptr<const std::string> keptText() const override { return kept_; }
    std::shared_ptr<const std::string> drawingText() override {
        if (!kept_) kept_ = std::make_shared<const std::string>(readDocumentBytes(path_));
        return kept_;
    }
    std::string marked(const std::vector<ArtIndex>& selected) override { return markedSvg(svg_, text(), selected); }
    void picture(const std::vector<ArtIndex>& selected, const PictureOptions& options, const std::string& png) override {
        writeSelectionPng(svg_, text(), path_, selected, options, png);
    }

private:
    std::string text() const { return kept_ ? *kept_ : readDocumentBytes(path_); }

    SvgDocument svg_;
    std::string path_;
    std::shared_ptr<const std::string> kept_;
};

// gzip data inflated, no larger than `max`.
std::string inflated(const std::string& bytes, const std::string& name, std::uint64_t max) {
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
        if (out.size() > max) {
            inflateEnd(&z);
            throw DocumentError(tooLargeMessage(name, max));
        }
    }
    inflateEnd(&z);
    return out;
}

// Text read whole, from a stream or memory: JSON or SVG by its first bytes.
std::unique_ptr<OpenDocument> openText(std::string bytes, const std::string& name) {
    if (looksLikeJson(bytes)) return checkedJson(documentFromJson(bytes, name), name);
    SvgDocument svg = svgDocumentFromText(bytes, name);
    return std::make_unique<SvgOpen>(std::move(svg), name, std::make_shared<const std::string>(std::move(bytes)));
}
#endif

}  // namespace

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

bool looksLikeJson(std::string_view bytes) {
    for (const char c : bytes) {
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r') continue;
        return c == '{' || c == '[';
    }
    return false;
}

bool isGzip(std::string_view bytes) {
    return bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0x1F &&
           static_cast<unsigned char>(bytes[1]) == 0x8B;
}

std::string tooLargeMessage(const std::string& name, std::uint64_t max) {
    if (max == kMaxDocumentBytes)
        return name + ": the document is larger than " + std::to_string(kMaxDocumentBytes >> 30) + " GiB";
    return name + ": the document is larger than " + std::to_string(max) + " bytes";
}

bool svgSupported() {
#if WENDLOW_BUILD_SVG
    return true;
#else
    return false;
#endif
}

const char* sampleName() { return svgSupported() ? "examples/sample.svg" : "examples/sample.json"; }

#if WENDLOW_BUILD_SVG
static_assert(kMaxDocumentBytes == kMaxSvgBytes, "the opener and the SVG reader refuse the same sizes");

std::unique_ptr<OpenDocument> openSample() { return openText(sampleText(), sampleName()); }

std::unique_ptr<OpenDocument> openDocumentBytes(std::string bytes, const std::string& name, std::uint64_t max) {
    if (bytes.empty()) throw DocumentError(name + ": the file is empty");
    if (isGzip(bytes)) bytes = inflated(bytes, name, max);
    if (bytes.size() > max) throw DocumentError(tooLargeMessage(name, max));
    return openText(std::move(bytes), name);
}

std::unique_ptr<OpenDocument> openDrawing(SvgDocument svg, std::string text) {
    return std::make_unique<SvgOpen>(std::move(svg), std::string(), std::make_shared<const std::string>(std::move(text)));
}

std::unique_ptr<OpenDocument> openDocument(const std::string& path) {
    const std::string ext = lowerExtension(path);
    std::error_code error;
    if (std::filesystem::is_directory(path, error)) throw DocumentError(path + ": is a directory");
    // Standard input ("-") and pipes are read once, their text kept.
    const bool stream = path == "-" || (std::filesystem::exists(path, error) && !std::filesystem::is_regular_file(path, error));
    if (stream) return openText(readDocumentBytes(path), path);
    if (ext == ".svg" || ext == ".svgz") return std::make_unique<SvgOpen>(loadSvgDocument(path), path);
    if (ext == ".json") return checkedJson(loadJsonDocument(path), path);
    std::string bytes = readDocumentBytes(path);
    if (looksLikeJson(bytes)) return checkedJson(documentFromJson(bytes, path), path);
    return std::make_unique<SvgOpen>(svgDocumentFromText(std::move(bytes), path), path);
}
#else
std::unique_ptr<OpenDocument> openSample() { return checkedJson(documentFromJson(sampleText(), sampleName()), sampleName()); }

std::unique_ptr<OpenDocument> openDocument(const std::string& path) {
    const std::string ext = lowerExtension(path);
    std::error_code error;
    if (std::filesystem::is_directory(path, error)) throw DocumentError(path + ": is a directory");
    if (ext == ".svg" || ext == ".svgz")
        throw DocumentError(path + ": this simhost was built without the SVG reader; it reads JSON documents only");
    return checkedJson(loadJsonDocument(path), path);
}
#endif

namespace {

bool excluded(const SearchOptions& options, const std::filesystem::path& path, const std::string& relative) {
    const std::string base = path.filename().string();
    for (const std::string& glob : options.excludes)
        if (fnmatch(glob.c_str(), base.c_str(), 0) == 0 || fnmatch(glob.c_str(), relative.c_str(), 0) == 0) return true;
    return false;
}

bool wanted(const SearchOptions& options, const std::string& path) {
    const std::string ext = lowerExtension(path);
    return ((ext == ".svg" || ext == ".svgz") && options.svg) || (ext == ".json" && options.json);
}

// Searches `root` with an explicit stack of directories, so that no tree is
// too deep for it.
void searchDirectory(const std::string& root, const SearchOptions& options, DocumentListing& listing) {
    namespace fs = std::filesystem;
    const std::size_t rootLength = root.size() + (root.back() == '/' ? 0 : 1);
    std::vector<std::string> found;
    std::vector<fs::path> pending = {fs::path(root)};
    while (!pending.empty()) {
        const fs::path dir = std::move(pending.back());
        pending.pop_back();
        std::error_code error;
        fs::directory_iterator it(dir, error), end;
        for (; !error && it != end; it.increment(error)) {
            const fs::path& path = it->path();
            const std::string text = path.string();
            if (excluded(options, path, text.substr(std::min(rootLength, text.size())))) continue;
            std::error_code statError;
            const fs::file_status link = it->symlink_status(statError);
            if (fs::is_directory(link)) {
                pending.push_back(path);
                continue;
            }
            if (!wanted(options, text)) continue;
            const fs::file_status target = it->status(statError);
            if (fs::is_symlink(link) && !fs::exists(target)) listing.problems.push_back(text + ": broken link");
            else if (fs::is_regular_file(target)) found.push_back(text);
        }
        if (error) listing.problems.push_back(dir.string() + ": cannot read the directory: " + error.message());
    }
    std::sort(found.begin(), found.end());
    for (std::string& path : found) listing.documents.push_back({std::move(path), rootLength});
}

}  // namespace

DocumentListing documentFiles(const std::vector<std::string>& names, const SearchOptions& options) {
    DocumentListing listing;
    for (const std::string& name : names) {
        std::error_code error;
        if (!name.empty() && std::filesystem::is_directory(name, error)) {
            searchDirectory(name, options, listing);
            continue;
        }
        // Opening it tells what is wrong with it, if anything is.
        const std::size_t slash = name.rfind('/');
        listing.documents.push_back({name, slash == std::string::npos ? 0 : slash + 1});
    }
    return listing;
}

}  // namespace simhost
