// The documents the server holds: each FILE named, each upload, the sample.
// What never changes after opening (names, counts, the drawing as read) is
// read from any thread; the document itself and its editor, which the
// commands and the host's edits change, only on the host thread. What the
// edits change and any thread shows (the drawing with its edits, the
// layers, undo and redo) is a snapshot the host thread replaces whole.
#pragma once

#include <array>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "simhost/Document.h"
#include "simhost/documents/Documents.h"
#include "simhost/documents/Editor.h"
#include "simhost/svg/SvgDocument.h"
#include "simhost/svg/SvgOverlay.h"

namespace simhost_serve {

class OpenDoc {
public:
    std::string id;
    std::string name;
    std::size_t objects = 0;
    std::size_t layers = 0;
    std::shared_ptr<const std::string> svgText;  // the drawing as read; null for JSON documents
    // The document as the opener handed it over.
    explicit OpenDoc(std::unique_ptr<simhost::OpenDocument> open, std::string name);

    // Held by the host thread while a command runs on the document (which
    // moves into the host meanwhile); shared by answers reading what never
    // changes in it: the objects' kinds, layers and ids.
    std::shared_mutex inUse;
    simhost::Document& document() { return open_->document(); }
    // The document as the opener gave it: ids, the drawing.
    simhost::OpenDocument& open() { return *open_; }
    // The host's edits of the document. Host thread only.
    simhost::Editor& editor() { return *editor_; }
    // The plug-in's item last run on the document, for Reselect. Host thread only.
    std::optional<std::size_t> lastItem;

    // The document's state as the answers and listings show it, from any
    // thread: replaced whole (never changed in place) when it changes.
    struct State {
        std::uint64_t revision = 0;
        std::string undo, redo;  // Edit > Undo's and Redo's labels; empty for none
        std::string layersJson;  // [{"name","visible","editable"}]
        std::shared_ptr<const std::string> svg;  // the drawing with its edits; null for JSON documents
    };
    std::shared_ptr<const State> state() const;
    // Host thread, the document held, after anything that may change it.
    void refresh();

    // What a click at (x, y) picks: the topmost painted object whose shape
    // (a circle's, an ellipse's or a rectangle's; else its box) holds the point, or its top-level object in its layer unless `deep`;
    // none when nothing eligible is there. What a marquee over x0, y0, x1,
    // y1 picks: the top-level objects whose boxes touch it. Hidden and
    // locked objects, objects on hidden or locked layers, guides and
    // deleted objects are never picked. Host thread, the document held.
    std::vector<simhost::ArtIndex> pickPoint(double x, double y, bool deep);
    std::vector<simhost::ArtIndex> pickRect(const std::array<double, 4>& rect);
    // The outlines of `objects`; the drawing is parsed again on first use.
    // Any thread.
    std::string outlines(const std::vector<simhost::ArtIndex>& objects);

    // What the page shows: the page area and all the art, x y width height
    // in the root's coordinates. Found on first use (the drawing is parsed
    // again), at opening for drawings under kEagerBoxBytes. Any thread.
    std::optional<std::array<double, 4>> contentBox(bool find);
    static constexpr std::size_t kEagerBoxBytes = std::size_t(8) << 20;
    // The drawing as /drawing serves it: the drawing with its edits, its root's start tag
    // (bytes tagStart to tagEnd) replaced by `tag`, whose width, height and
    // viewBox frame contentBox(), so that art off the page shows too.
    struct Served {
        std::shared_ptr<const std::string> text;
        std::size_t tagStart = 0, tagEnd = 0;
        std::string tag;
        std::uint64_t revision = 0;
    };
    std::shared_ptr<const Served> served();

private:
    void describe();
    // The objects' boxes as read; null for a JSON document.
    const std::vector<simhost::SelectionOutlines::ObjectBox>* boxes();
    // Whether the point is on the object's shape, within its box.
    bool covers(simhost::ArtIndex index, double x, double y);
    std::unique_ptr<simhost::OpenDocument> open_;
    const simhost::SvgDocument* svg_ = nullptr;  // open_'s drawing, if it is one
    std::mutex outlinesLock_;
    std::mutex boxLock_;
    std::optional<std::array<double, 4>> box_;
    std::shared_ptr<const Served> served_;
    std::unique_ptr<simhost::SelectionOutlines> outlines_;
    std::unique_ptr<simhost::Editor> editor_;
    mutable std::mutex stateLock_;
    std::shared_ptr<const State> state_;
};

// The documents FILE names (the sample drawing when none), as read by the opener.
std::shared_ptr<OpenDoc> openDocumentFile(const std::string& path);
std::shared_ptr<OpenDoc> openSampleDocument();

// A document read as its upload arrives. The body's pieces are kept in one
// buffer of the announced length (the text /drawing serves); an SVG drawing
// is read from that buffer by a reader thread while the rest still comes,
// so that reading ends about when receiving does. Gzip data is inflated as
// it arrives, and refused as soon as it inflates to more than `max` bytes;
// it, JSON and bodies of unknown length are read once they are whole.
class UploadReader {
public:
    UploadReader(std::string name, std::uint64_t length, std::uint64_t max = simhost::kMaxDocumentBytes);
    ~UploadReader();
    UploadReader(const UploadReader&) = delete;
    UploadReader& operator=(const UploadReader&) = delete;

    // The next piece of the body; false once the reader has failed (finish()
    // says why) or the body overruns its length.
    bool feed(const char* data, std::size_t size);
    // The document, once the body is whole. Throws DocumentError.
    std::shared_ptr<OpenDoc> finish();
    // Whether the reader has refused the drawing already.
    bool failed();
    // Whether the document inflated to more than `max` bytes.
    bool tooLarge() const { return tooLarge_; }

private:
    struct Inflater;
    void start();
    bool inflateMore(const char* data, std::size_t size);
    std::size_t pull(char* buffer, std::size_t capacity);  // the reader thread's source

    std::string name_;
    std::uint64_t length_;
    std::uint64_t max_;
    std::uint64_t received_ = 0;
    std::string bytes_;  // as received or, for gzip data, as inflated so far
    std::unique_ptr<Inflater> inflater_;
    bool tooLarge_ = false;
    bool decided_ = false;        // whether the body streams to a reader thread
    const char* base_ = nullptr;  // bytes_'s buffer, which never moves while the reader runs
    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable moreBytes_;
    std::size_t available_ = 0;  // bytes received, under mutex_
    std::size_t taken_ = 0;      // reader thread only
    bool ended_ = false;         // no more bytes will come, under mutex_
    std::size_t wakeAt_ = kNotWaiting;  // the count of bytes the waiting reader needs, under mutex_
    static constexpr std::size_t kNotWaiting = static_cast<std::size_t>(-1);
    bool failed_ = false;        // under mutex_
    std::exception_ptr failure_;
    std::unique_ptr<simhost::SvgDocument> svg_;
};

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

// {"id","name","objects","layers","viewBox"?}: the view box once known
// (see OpenDoc::contentBox).
std::string entryJson(OpenDoc& doc);

}  // namespace simhost_serve
