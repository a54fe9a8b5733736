#include "Documents.h"

#include <sys/mman.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <regex>

#include <nlohmann/json.hpp>


namespace simhost_serve {

using namespace simhost;

OpenDoc::OpenDoc(std::unique_ptr<OpenDocument> open, std::string name)
    : name(std::move(name)), open_(std::move(open)), svg_(open_->drawing()) {
    svgText = open_->keptText();
    editor_ = std::make_unique<Editor>(*open_);
    describe();
    if (svgText && svgText->size() < kEagerBoxBytes) contentBox(true);
}

std::string OpenDoc::outlines(const std::vector<ArtIndex>& objects) {
    if (!svg_) return {};
    std::lock_guard<std::mutex> lock(outlinesLock_);
    if (!outlines_) outlines_ = std::make_unique<SelectionOutlines>(*svg_, *svgText);
    return (*outlines_)(objects);
}

// Whether `box` can frame a drawing: finite, and not empty. A drawing with
// coordinates near the limits of a double has a box of infinite width.
bool framable(const std::array<double, 4>& box) {
    return std::isfinite(box[0]) && std::isfinite(box[1]) && std::isfinite(box[2]) && std::isfinite(box[3]) &&
           box[2] > 0 && box[3] > 0;
}

std::optional<std::array<double, 4>> OpenDoc::contentBox(bool find) {
    {
        std::lock_guard<std::mutex> lock(boxLock_);
        if (box_ || !find || !svg_) return box_;
    }
    std::array<double, 4> box;
    {
        std::lock_guard<std::mutex> lock(outlinesLock_);
        if (!outlines_) outlines_ = std::make_unique<SelectionOutlines>(*svg_, *svgText);
        box = outlines_->contentBox();
    }
    std::lock_guard<std::mutex> lock(boxLock_);
    box_ = box;
    return box_;
}

namespace {

// The bytes of the root element's start tag: after the prolog's
// declaration, comments, processing instructions and doctype.
bool rootStartTag(const std::string& text, std::size_t& start, std::size_t& end) {
    std::size_t at = 0;
    for (;;) {
        at = text.find('<', at);
        if (at == std::string::npos) return false;
        if (text.compare(at, 4, "<!--") == 0) at = text.find("-->", at);
        else if (text.compare(at, 2, "<?") == 0) at = text.find("?>", at);
        else if (text.compare(at, 2, "<!") == 0) at = text.find(text.find('[', at) < text.find('>', at) ? "]>" : ">", at);
        else break;
        if (at == std::string::npos) return false;
        ++at;
    }
    start = at;
    char quote = 0;
    for (std::size_t i = at; i < text.size(); ++i) {
        const char c = text[i];
        if (quote != 0) quote = c == quote ? 0 : quote;
        else if (c == '"' || c == '\'') quote = c;
        else if (c == '>') return end = i + 1, true;
    }
    return false;
}

std::string number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.10g", value);
    return text;
}

// `tag` with width, height and viewBox framing `box`.
std::string framedTag(const std::string& tag, const std::array<double, 4>& box) {
    static const std::regex kAttribute(R"(([^\s=/>]+)\s*=\s*("[^"]*"|'[^']*'))");
    const std::size_t nameEnd = tag.find_first_of(" \t\r\n/>");
    std::string out = tag.substr(0, nameEnd);
    for (std::sregex_iterator it(tag.begin() + static_cast<long>(nameEnd), tag.end(), kAttribute), end; it != end; ++it) {
        const std::string name = (*it)[1];
        if (name != "width" && name != "height" && name != "viewBox") out += " " + it->str();
    }
    out += " width=\"" + number(box[2]) + "\" height=\"" + number(box[3]) + "\" viewBox=\"" + number(box[0]) + " " +
           number(box[1]) + " " + number(box[2]) + " " + number(box[3]) + "\"";
    return out + (tag.size() >= 2 && tag.compare(tag.size() - 2, 2, "/>") == 0 ? "/>" : ">");
}

// The page in the root's coordinates: its viewBox, else its width and
// height from the origin. None when neither is given.
std::optional<std::array<double, 4>> pageBoxOf(const std::string& text) {
    std::size_t start = 0, end = 0;
    if (!rootStartTag(text, start, end)) return std::nullopt;
    static const std::regex kAttribute(R"re(([^\s=/>]+)\s*=\s*(?:"([^"]*)"|'([^']*)'))re");
    const std::string tag = text.substr(start, end - start);
    std::map<std::string, std::string> values;
    for (std::sregex_iterator it(tag.begin(), tag.end(), kAttribute), last; it != last; ++it)
        values[(*it)[1]] = (*it)[2].matched ? (*it)[2].str() : (*it)[3].str();
    std::array<double, 4> box{};
    std::string viewBox = values["viewBox"];
    std::replace(viewBox.begin(), viewBox.end(), ',', ' ');
    if (std::sscanf(viewBox.c_str(), "%lf %lf %lf %lf", &box[0], &box[1], &box[2], &box[3]) == 4 && box[2] > 0 &&
        box[3] > 0)
        return box;
    box = {0, 0, std::atof(values["width"].c_str()), std::atof(values["height"].c_str())};
    if (box[2] > 0 && box[3] > 0) return box;
    return std::nullopt;
}

}  // namespace

std::shared_ptr<const OpenDoc::Served> OpenDoc::served() {
    const std::shared_ptr<const State> now = state();
    {
        std::lock_guard<std::mutex> lock(boxLock_);
        if (served_ && served_->revision == now->revision) return served_;
    }
    auto served = std::make_shared<Served>();
    served->text = now->svg;
    served->revision = now->revision;
    const std::array<double, 4> box = *contentBox(true);
    const std::string& text = *served->text;
    if (framable(box) && rootStartTag(text, served->tagStart, served->tagEnd))
        served->tag = framedTag(text.substr(served->tagStart, served->tagEnd - served->tagStart), box);
    else
        served->tagStart = served->tagEnd = 0;
    std::lock_guard<std::mutex> lock(boxLock_);
    // A request that read an older state must not replace a newer copy.
    if (!served_ || served_->revision <= served->revision) served_ = served;
    return served;
}

void OpenDoc::describe() {
    const Document& doc = document();
    // A layer's root group is no object of the drawing.
    objects = doc.artCount() - doc.layerCount();
    layers = doc.layerCount();
    refresh();
}

std::shared_ptr<const OpenDoc::State> OpenDoc::state() const {
    std::lock_guard<std::mutex> lock(stateLock_);
    return state_;
}

void OpenDoc::refresh() {
    // Handlers read the selection under a shared hold on inUse, and the
    // document builds its order and selection index on first use after a
    // change: build them here, under the host thread's exclusive hold, so
    // that two readers never build them at once.
    (void)document().selected();
    const std::shared_ptr<const State> was = state();
    auto now = std::make_shared<State>();
    now->revision = editor_->revision();
    now->undo = editor_->undoLabel();
    now->redo = editor_->redoLabel();
    if (was && was->revision == now->revision) {
        if (was->undo == now->undo && was->redo == now->redo) return;
        now->layersJson = was->layersJson;
        now->svg = was->svg;
    } else {
        const Document& doc = document();
        nlohmann::json list = nlohmann::json::array();
        for (std::size_t l = 0; l < doc.layerCount(); ++l) {
            const Layer& layer = doc.layer(static_cast<LayerIndex>(l));
            list.push_back({{"name", layer.name}, {"visible", layer.visible != 0}, {"editable", layer.editable != 0}});
        }
        now->layersJson = list.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
        // Unedited, the drawing is the text as read, shared rather than copied.
        if (svgText) now->svg = editor_->edited() ? std::make_shared<const std::string>(editor_->savedSvg()) : svgText;
    }
    std::lock_guard<std::mutex> lock(stateLock_);
    state_ = std::move(now);
}

const std::vector<SelectionOutlines::ObjectBox>* OpenDoc::boxes() {
    if (!svg_) return nullptr;
    std::lock_guard<std::mutex> lock(outlinesLock_);
    if (!outlines_) outlines_ = std::make_unique<SelectionOutlines>(*svg_, *svgText);
    // Built once; never changed after, so read without the lock.
    return &outlines_->objectBoxes();
}

bool OpenDoc::covers(ArtIndex index, double x, double y) {
    std::lock_guard<std::mutex> lock(outlinesLock_);
    return outlines_->covers(index, x, y);
}

namespace {

// Whether a pick may take `index`: in the document, no guide, on a visible
// and editable layer, neither it nor a container above it hidden or
// locked. Its top-level object (its layer root's child) goes to `top`.
bool pickable(const Document& doc, Editor& editor, ArtIndex index, ArtIndex& top) {
    if (!editor.present(index)) return false;
    const ArtNode& node = doc.art(index);
    if (node.guide != 0 || node.layer == kNone) return false;
    const Layer& layer = doc.layer(node.layer);
    if (layer.visible == 0 || layer.editable == 0) return false;
    for (ArtIndex at = index; at != layer.root; at = doc.art(at).parent) {
        if (at == kNone || (doc.art(at).attributes & (kArtHidden | kArtLocked)) != 0) return false;
        top = at;
    }
    return true;
}

bool holds(const SelectionOutlines::ObjectBox& box, double x, double y) {
    return box[0] <= x && x <= box[2] && box[1] <= y && y <= box[3];
}

}  // namespace

std::vector<ArtIndex> OpenDoc::pickPoint(double x, double y, bool deep) {
    const auto* boxes = this->boxes();
    if (boxes == nullptr) return {};
    const Document& doc = document();
    const std::vector<ArtIndex>& order = doc.documentOrder();
    for (auto it = order.rbegin(); it != order.rend(); ++it) {
        const auto i = static_cast<std::size_t>(*it);
        const ArtNode& node = doc.art(*it);
        // Only what paints: the shapes, not the containers around them.
        if (node.firstChild != kNone || (node.fillPaint == 0 && node.strokePaint == 0)) continue;
        ArtIndex top = kNone;
        if (i < boxes->size() && holds((*boxes)[i], x, y) && covers(*it, x, y) && pickable(doc, *editor_, *it, top))
            return {deep ? *it : top};
    }
    return {};
}

std::vector<ArtIndex> OpenDoc::pickRect(const std::array<double, 4>& rect) {
    const auto* boxes = this->boxes();
    if (boxes == nullptr) return {};
    const Document& doc = document();
    std::vector<ArtIndex> picked;
    for (std::size_t l = 0; l < doc.layerCount(); ++l)
        for (ArtIndex at = doc.art(doc.rootOf(static_cast<LayerIndex>(l))).firstChild; at != kNone;
             at = doc.art(at).nextSibling) {
            const auto& box = (*boxes)[static_cast<std::size_t>(at)];
            ArtIndex top = kNone;
            if (box[0] <= rect[2] && rect[0] <= box[2] && box[1] <= rect[3] && rect[1] <= box[3] &&
                pickable(doc, *editor_, at, top))
                picked.push_back(at);
        }
    return picked;  // in document order: layer by layer, as a selection lists them
}

std::shared_ptr<OpenDoc> openDocumentFile(const std::string& path) {
    return std::make_shared<OpenDoc>(openDocumentBytes(readDocumentBytes(path), path), path);
}

std::shared_ptr<OpenDoc> openSampleDocument() { return std::make_shared<OpenDoc>(openSample(), sampleName()); }

namespace {

// A body of many megabytes goes into fresh memory, and the first touch of
// each 4 KiB page is a fault: 25,000 of them for 100 MB, more time than the
// copy itself. Asked for huge pages, the kernel maps 2 MiB at a fault.
void adviseHugePages(std::string& buffer) {
#ifdef MADV_HUGEPAGE
    constexpr std::size_t kWorthIt = std::size_t(8) << 20;
    if (buffer.capacity() < kWorthIt) return;
    const auto page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
    const auto begin = (reinterpret_cast<std::uintptr_t>(buffer.data()) + page - 1) & ~(page - 1);
    const auto end = (reinterpret_cast<std::uintptr_t>(buffer.data()) + buffer.capacity()) & ~(page - 1);
    // Only advice: where the kernel declines, the pages are ordinary ones.
    if (end > begin) (void)madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#else
    (void)buffer;
#endif
}

}  // namespace

struct UploadReader::Inflater {
    Inflater() {
        if (inflateInit2(&z, 16 + MAX_WBITS) != Z_OK) throw std::bad_alloc();
    }
    ~Inflater() { inflateEnd(&z); }
    z_stream z{};
    bool ended = false;
};

UploadReader::UploadReader(std::string name, std::uint64_t length, std::uint64_t max)
    : name_(std::move(name)), length_(length), max_(max) {
    bytes_.reserve(static_cast<std::size_t>(std::min(length, max)));
    adviseHugePages(bytes_);
}

UploadReader::~UploadReader() {
    if (!thread_.joinable()) return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ended_ = true;
    }
    moreBytes_.notify_all();
    thread_.join();
}

// Streams only what the SVG reader reads straight from the text, of a
// length known first (so the buffer never moves under the reader).
void UploadReader::start() {
    decided_ = true;
    if (isGzip(bytes_)) {
        inflater_ = std::make_unique<Inflater>();
        const std::string compressed = std::move(bytes_);
        bytes_ = std::string();
        inflateMore(compressed.data(), compressed.size());
        return;
    }
    if (looksLikeJson(bytes_) || length_ == 0) return;
    base_ = bytes_.data();
    available_ = bytes_.size();
    thread_ = std::thread([this] {
        try {
            svg_ = std::make_unique<SvgDocument>(svgDocumentFromStream(
                [this](char* buffer, std::size_t capacity) { return pull(buffer, capacity); }, bytes_, length_, name_));
        } catch (...) {
            failure_ = std::current_exception();
            std::lock_guard<std::mutex> lock(mutex_);
            failed_ = true;
        }
    });
}

std::size_t UploadReader::pull(char* buffer, std::size_t capacity) {
    // Wakes for a good piece at a time, not for every read of the socket.
    const std::size_t want = std::min<std::size_t>(capacity, std::size_t(1) << 18);
    std::unique_lock<std::mutex> lock(mutex_);
    wakeAt_ = taken_ + want;
    moreBytes_.wait(lock, [&] { return ended_ || available_ >= wakeAt_; });
    wakeAt_ = kNotWaiting;
    const std::size_t n = std::min(capacity, available_ - taken_);
    lock.unlock();
    std::memcpy(buffer, base_ + taken_, n);
    taken_ += n;
    return n;
}

// Inflates the next compressed piece onto bytes_; false once the data is
// broken (failure_ says why) or inflates to more than max_ bytes.
bool UploadReader::inflateMore(const char* data, std::size_t size) {
    z_stream& z = inflater_->z;
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data));
    z.avail_in = static_cast<uInt>(size);
    constexpr std::size_t kStep = std::size_t(1) << 16;
    while (z.avail_in > 0 && !inflater_->ended) {
        const std::size_t had = bytes_.size();
        // Never more room than the limit allows, and one byte over it to see it passed.
        const std::size_t room = static_cast<std::size_t>(std::min<std::uint64_t>(kStep, max_ + 1 - had));
        bytes_.resize(had + room);
        z.next_out = reinterpret_cast<Bytef*>(&bytes_[had]);
        z.avail_out = static_cast<uInt>(room);
        const int status = inflate(&z, Z_NO_FLUSH);
        bytes_.resize(had + room - z.avail_out);
        if (status == Z_STREAM_END) inflater_->ended = true;
        else if (status != Z_OK && status != Z_BUF_ERROR) {
            failure_ = std::make_exception_ptr(
                DocumentError(name_ + ": broken gzip data (" + (z.msg != nullptr ? z.msg : "bad data") + ")"));
            failed_ = true;
            return false;
        }
        if (bytes_.size() > max_) {
            tooLarge_ = true;
            return false;
        }
    }
    return true;
}

bool UploadReader::feed(const char* data, std::size_t size) {
    received_ += size;
    if (length_ != 0 && received_ > length_) return false;
    if (inflater_) return inflateMore(data, size);
    if (!thread_.joinable()) {
        bytes_.append(data, size);
        // Enough to tell gzip and JSON from SVG by.
        if (!decided_ && bytes_.size() >= (length_ != 0 ? std::min<std::uint64_t>(length_, 64) : 64)) start();
        return !failed_ && !tooLarge_;
    }
    bytes_.append(data, size);
    std::lock_guard<std::mutex> lock(mutex_);
    available_ = bytes_.size();
    // Only once the reader's piece is whole: waking it for every read of
    // the socket cost a futex call and a context switch per 4 KiB.
    if (available_ >= wakeAt_) moreBytes_.notify_one();
    return !failed_;
}

bool UploadReader::failed() {
    std::lock_guard<std::mutex> lock(mutex_);
    return failed_;
}

std::shared_ptr<OpenDoc> UploadReader::finish() {
    if (failure_ && !thread_.joinable()) std::rethrow_exception(failure_);
    if (inflater_ && !inflater_->ended) throw DocumentError(name_ + ": broken gzip data (truncated)");
    if (!thread_.joinable()) return std::make_shared<OpenDoc>(openDocumentBytes(std::move(bytes_), name_, max_), name_);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ended_ = true;
    }
    moreBytes_.notify_all();
    thread_.join();
    if (failure_) std::rethrow_exception(failure_);
    return std::make_shared<OpenDoc>(openDrawing(std::move(*svg_), std::move(bytes_)), name_);
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

std::string entryJson(OpenDoc& doc) {
    nlohmann::json entry{{"id", doc.id}, {"name", doc.name}, {"objects", doc.objects}, {"layers", doc.layers}};
    if (const auto box = doc.contentBox(false); box && framable(*box)) entry["viewBox"] = *box;
    if (doc.svgText)
        if (const auto page = pageBoxOf(*doc.svgText); page && framable(*page)) entry["page"] = *page;
    return entry.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace simhost_serve
