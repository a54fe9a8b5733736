#include "Documents.h"

#include <algorithm>
#include <fnmatch.h>

#include <cctype>
#include <filesystem>
#include <system_error>

#if WENDLOW_BUILD_SVG
#include "simhost/svg/SvgDocument.h"
#endif

// The built-in sample drawing and its JSON counterpart, embedded at build
// time from examples/.
extern const unsigned char kSampleSvg[];
extern const std::size_t kSampleSvgSize;
extern const unsigned char kSampleJson[];
extern const std::size_t kSampleJsonSize;

namespace simhost_cli {

using namespace simhost;

namespace {

std::string lowerExtension(const std::string& path) {
    std::string ext = std::filesystem::path(path).extension().string();
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext;
}

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

std::unique_ptr<OpenDocument> openJson(const std::string& text, const std::string& origin) {
    Document document = documentFromJson(text, origin);
    checkDepth(document, origin);
    return std::make_unique<JsonOpen>(std::move(document));
}

std::unique_ptr<OpenDocument> openJsonFile(const std::string& path) {
    Document document = loadJsonDocument(path);
    checkDepth(document, path);
    return std::make_unique<JsonOpen>(std::move(document));
}

#if WENDLOW_BUILD_SVG
bool looksLikeJson(const std::string& bytes) {
    for (const char c : bytes) {
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r') continue;
        return c == '{' || c == '[';
    }
    return false;
}

class SvgOpen : public OpenDocument {
public:
    // `path` is read again when the drawing is marked; empty for the sample.
    // A stream cannot be read again: its text is kept in `kept`.
    SvgOpen(SvgDocument svg, std::string path, std::string kept = {})
        : svg_(std::move(svg)), path_(std::move(path)), kept_(std::move(kept)) {}
    Document& document() override { return svg_.document; }
    std::string idOf(ArtIndex index) override { return svg_.idOf(index); }
    std::string elementOf(ArtIndex index) override {
        const auto i = static_cast<std::size_t>(index);
        if (i >= svg_.subpath.size() || svg_.subpath[i] == 0) return {};
        const ArtIndex parent = svg_.document.art(index).parent;
        return parent == kNone ? std::string() : svg_.idOf(parent);
    }
    std::string marked(const std::vector<ArtIndex>& selected) override { return markedSvg(svg_, text(), selected); }
    void picture(const std::vector<ArtIndex>& selected, const PictureOptions& options, const std::string& png) override {
        writeSelectionPng(svg_, text(), path_, selected, options, png);
    }

private:
    std::string text() const {
        if (!kept_.empty()) return kept_;
        return path_.empty() ? std::string(reinterpret_cast<const char*>(kSampleSvg), kSampleSvgSize)
                             : readDocumentBytes(path_);
    }

    SvgDocument svg_;
    std::string path_;
    std::string kept_;
};
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

bool svgSupported() {
#if WENDLOW_BUILD_SVG
    return true;
#else
    return false;
#endif
}

const char* sampleName() { return svgSupported() ? "examples/sample.svg" : "examples/sample.json"; }

std::unique_ptr<OpenDocument> openSample() {
#if WENDLOW_BUILD_SVG
    return std::make_unique<SvgOpen>(svgDocumentFromText(std::string(reinterpret_cast<const char*>(kSampleSvg), kSampleSvgSize), sampleName()),
                                     std::string());
#else
    return openJson(std::string(reinterpret_cast<const char*>(kSampleJson), kSampleJsonSize), sampleName());
#endif
}

std::unique_ptr<OpenDocument> openDocument(const std::string& path) {
    const std::string ext = lowerExtension(path);
    std::error_code error;
    if (std::filesystem::is_directory(path, error)) throw DocumentError(path + ": is a directory");
#if WENDLOW_BUILD_SVG
    // Standard input ("-") and pipes are read once, their text kept.
    const bool stream = path == "-" || (std::filesystem::exists(path, error) && !std::filesystem::is_regular_file(path, error));
    if (stream) {
        std::string bytes = readDocumentBytes(path);
        if (looksLikeJson(bytes)) return openJson(bytes, path);
        SvgDocument svg = svgDocumentFromText(bytes, path);
        return std::make_unique<SvgOpen>(std::move(svg), path, std::move(bytes));
    }
    if (ext == ".svg" || ext == ".svgz") return std::make_unique<SvgOpen>(loadSvgDocument(path), path);
    if (ext == ".json") return openJsonFile(path);
    std::string bytes = readDocumentBytes(path);
    if (looksLikeJson(bytes)) return openJson(bytes, path);
    return std::make_unique<SvgOpen>(svgDocumentFromText(std::move(bytes), path), path);
#else
    if (ext == ".svg" || ext == ".svgz")
        throw DocumentError(path + ": this simhost was built without the SVG reader; it reads JSON documents only");
    return openJsonFile(path);
#endif
}

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

}  // namespace simhost_cli
