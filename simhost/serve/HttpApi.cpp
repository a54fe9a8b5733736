#include "HttpApi.h"

#include <arpa/inet.h>
#include <malloc.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cmath>
#include <cstring>
#include <memory>
#include <mutex>
#include <regex>
#include <vector>

#include <nlohmann/json.hpp>

#include "CommandNames.h"
#include "WebAssets.h"
#include "simhost/Document.h"
#include "simhost/Gate.h"

namespace simhost_serve {

using nlohmann::json;

namespace {

const char* const kPagePolicy =
    "default-src 'self'; img-src 'self' blob: data:; style-src 'self'; script-src 'self'";

enum class Body { kNone, kJson, kDocument };

struct Context {
    HostWorker& worker;
    DocumentStore& store;
    const Listening& where;
};

// A request as its route sees it: what its path matched and, for a route
// that takes JSON, its body.
struct Call {
    const httplib::Request& http;
    std::smatch matches;
    std::string body;
    std::string get_param_value(const char* key) const { return http.get_param_value(key); }
};

using Handler = void (*)(Context&, const Call&, httplib::Response&);

struct Route {
    const char* method;
    const char* pattern;
    Body body;
    Handler handler;
};

// Sends `text` without copying it: a command's answer may be megabytes.
void sendShared(httplib::Response& res, std::shared_ptr<const std::string> text, const char* type) {
    res.set_content_provider(text->size(), type,
                             [text](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                                 return sink.write(text->data() + offset, std::min(length, text->size() - offset));
                             });
}

// A command's answer runs to megabytes. Written into a fresh string, each
// answer touched new pages, and a page fault costs microseconds: on 10^5
// objects the faults took longer than the command. Answers are written
// into buffers kept between requests instead, the most recently used
// first; a buffer comes back when the library has sent it. At most
// kKeptAnswers are kept, none over kKeptAnswerBytes.
class AnswerBuffers {
public:
    std::shared_ptr<std::string> take() {
        std::unique_ptr<std::string> buffer;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (!kept_.empty()) {
                buffer = std::move(kept_.back());
                kept_.pop_back();
            }
        }
        if (!buffer) buffer = std::make_unique<std::string>();
        buffer->clear();
        return {buffer.release(), [this](std::string* used) { give(std::unique_ptr<std::string>(used)); }};
    }

private:
    static constexpr std::size_t kKeptAnswers = 4;
    static constexpr std::size_t kKeptAnswerBytes = std::size_t(32) << 20;

    void give(std::unique_ptr<std::string> used) {
        if (used->capacity() > kKeptAnswerBytes) return;
        std::lock_guard<std::mutex> lock(mutex_);
        if (kept_.size() < kKeptAnswers) kept_.push_back(std::move(used));
    }

    std::mutex mutex_;
    std::vector<std::unique_ptr<std::string>> kept_;
};

AnswerBuffers& answerBuffers() {
    static AnswerBuffers buffers;
    return buffers;
}

void send(httplib::Response& res, Reply reply) {
    if (reply.later) {
        try {
            std::shared_ptr<std::string> answer = answerBuffers().take();
            reply.later(*answer);
            res.status = reply.status;
            return sendShared(res, std::move(answer), "application/json");
        } catch (const simhost::DocumentError& e) {
            reply = errorReply(422, e.what());
        }
    }
    res.status = reply.status;
    if (!reply.body.empty()) sendShared(res, std::make_shared<const std::string>(std::move(reply.body)), "application/json");
}

void fail(httplib::Response& res, int status, const std::string& message) { send(res, errorReply(status, message)); }

std::string lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// The body as a JSON object, or an error answered.
bool jsonBody(const Call& req, httplib::Response& res, json& out) {
    try {
        out = json::parse(req.body);
    } catch (const json::exception& e) {
        fail(res, 400, std::string("the body is not JSON: ") + e.what());
        return false;
    }
    if (!out.is_object()) {
        fail(res, 400, "the body must be a JSON object");
        return false;
    }
    return true;
}

std::shared_ptr<OpenDoc> documentOf(Context& c, const Call& req, httplib::Response& res) {
    std::shared_ptr<OpenDoc> doc = c.store.find(req.matches[1]);
    if (!doc) fail(res, 404, "no document \"" + std::string(req.matches[1]) + "\"");
    return doc;
}

const char* contentTypeOf(const std::string& name) {
    static const std::pair<const char*, const char*> kTypes[] = {
        {".html", "text/html; charset=utf-8"}, {".js", "text/javascript; charset=utf-8"},
        {".css", "text/css; charset=utf-8"},   {".svg", "image/svg+xml"},
        {".png", "image/png"},                 {".ico", "image/x-icon"},
        {".json", "application/json"},         {".txt", "text/plain; charset=utf-8"},
        {".woff2", "font/woff2"},              {".map", "application/json"}};
    for (const auto& [ext, type] : kTypes) {
        const std::size_t n = std::strlen(ext);
        if (name.size() >= n && lower(name.substr(name.size() - n)) == ext) return type;
    }
    return "application/octet-stream";
}

void sendAsset(httplib::Response& res, const std::string& name) {
    for (const WebAsset* a = kWebAssets; a->name != nullptr; ++a) {
        if (name != a->name) continue;
        res.set_content(reinterpret_cast<const char*>(a->data), a->size, contentTypeOf(name));
        res.set_header("Content-Security-Policy", kPagePolicy);
        return;
    }
    fail(res, 404, "no asset \"" + name + "\"");
}

// ---- Handlers ---------------------------------------------------------------

void getPage(Context&, const Call&, httplib::Response& res) { sendAsset(res, "index.html"); }
void getAsset(Context&, const Call& req, httplib::Response& res) { sendAsset(res, req.matches[1]); }

void getMenus(Context& c, const Call&, httplib::Response& res) {
    res.set_content(c.worker.menusJson(), "application/json");
}

void listDocuments(Context& c, const Call&, httplib::Response& res) {
    std::string out = "[";
    for (const auto& doc : c.store.list()) out += (out.size() > 1 ? ", " : "") + entryJson(*doc);
    res.set_content(out + "]", "application/json");
}

void getDocument(Context& c, const Call& req, httplib::Response& res) {
    if (auto doc = documentOf(c, req, res)) res.set_content(entryJson(*doc), "application/json");
}

void deleteDocument(Context& c, const Call& req, httplib::Response& res) {
    if (!c.store.remove(req.matches[1])) return fail(res, 404, "no document \"" + std::string(req.matches[1]) + "\"");
    res.status = 204;
    // A document's memory is freed in many pieces over the threads' malloc
    // arenas, between pieces still in use: the allocator keeps those pages
    // (RSS grew 40 MB over 500 uploads and deletions, with nothing leaked)
    // unless asked to give back what it holds free.
    malloc_trim(0);
}

void getLayers(Context& c, const Call& req, httplib::Response& res) {
    if (auto doc = documentOf(c, req, res)) res.set_content(doc->state()->layersJson, "application/json");
}

void getDrawing(Context& c, const Call& req, httplib::Response& res) {
    const std::shared_ptr<OpenDoc> doc = documentOf(c, req, res);
    if (!doc) return;
    if (!doc->svgText) return fail(res, 404, doc->name + " is a JSON document: it has no drawing");
    setDrawingPolicy(res, false);
    // The root reframed to show all the art: three pieces, nothing copied.
    const std::shared_ptr<const OpenDoc::Served> served = doc->served();
    const std::string& text = *served->text;
    const std::size_t head = served->tagStart, tail = text.size() - served->tagEnd;
    res.set_content_provider(head + served->tag.size() + tail, "image/svg+xml",
                             [served, head](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                                 const std::string& text = *served->text;
                                 const std::string& tag = served->tag;
                                 if (offset < head)
                                     return sink.write(text.data() + offset, std::min(length, head - offset));
                                 if (offset < head + tag.size())
                                     return sink.write(tag.data() + offset - head,
                                                       std::min(length, head + tag.size() - offset));
                                 const std::size_t at = offset - head - tag.size() + served->tagEnd;
                                 return sink.write(text.data() + at, std::min(length, text.size() - at));
                             });
}

using UnknownItem = void (*)(httplib::Response&, const std::string&, const std::vector<std::string>&);

// The menu item a body {"item": TEXT, "outlines"?} names, as `texts` has it;
// or nothing, with the error answered (`unknown` answers an unknown text).
std::optional<std::size_t> itemOf(const Call& req, httplib::Response& res, const std::vector<std::string>& texts,
                                  UnknownItem unknown, json& body, bool withOutlines) {
    if (!jsonBody(req, res, body)) return std::nullopt;
    if (!body.contains("item") || !body["item"].is_string()) {
        fail(res, 400, "\"item\" must be a menu text");
        return std::nullopt;
    }
    if (withOutlines && body.contains("outlines") && !body["outlines"].is_boolean()) {
        fail(res, 400, "\"outlines\" must be true or false");
        return std::nullopt;
    }
    const std::string text = body["item"].get<std::string>();
    const auto i = simhost_app::matchCommand(texts, text);
    if (!i) unknown(res, text, texts);
    return i;
}

void chooseItem(Context& c, const Call& req, httplib::Response& res) {
    const std::shared_ptr<OpenDoc> doc = documentOf(c, req, res);
    if (!doc) return;
    const UnknownItem unknown = [](httplib::Response& r, const std::string& text, const std::vector<std::string>& texts) {
        send(r, {404, json{{"error", "no menu item \"" + text + "\""}, {"items", texts}}.dump(
                          -1, ' ', false, json::error_handler_t::replace)});
    };
    json body;
    if (const auto i = itemOf(req, res, c.worker.itemTexts(), unknown, body, true))
        send(res, c.worker.choose(doc, *i, body.value("outlines", true)));
}

// An application item (About) chosen with no document: {"item"}.
void chooseApplicationItem(Context& c, const Call& req, httplib::Response& res) {
    const UnknownItem unknown = [](httplib::Response& r, const std::string& text, const std::vector<std::string>&) {
        fail(r, 404, "no menu item \"" + text + "\"");
    };
    json body;
    const auto i = itemOf(req, res, c.worker.itemTexts(), unknown, body, false);
    if (!i) return;
    if (c.worker.needsDocument(*i))
        return fail(res, 409, c.worker.itemTexts()[*i] + " works on a drawing: POST /api/documents/ID/menu");
    send(res, c.worker.choose(nullptr, *i, false));
}

void getSelection(Context& c, const Call& req, httplib::Response& res) {
    if (auto doc = documentOf(c, req, res)) send(res, c.worker.selection(doc, req.get_param_value("outlines") != "false"));
}

void deselectAll(Context& c, const Call& req, httplib::Response& res) {
    if (auto doc = documentOf(c, req, res)) send(res, c.worker.deselectAll(doc));
}

// {"dialog": the open dialog or null}: the shape a press answers with.
void getDialog(Context& c, const Call&, httplib::Response& res) {
    res.set_content("{\"dialog\": " + c.worker.openDialog().value_or("null") + "}", "application/json");
}

void pressItem(Context& c, const Call& req, httplib::Response& res) {
    json body;
    if (!jsonBody(req, res, body)) return;
    if (!body.contains("item") || !body["item"].is_number_integer())
        return fail(res, 400, "\"item\" must be the number of a dialog item");
    std::optional<long long> dialog;
    if (body.contains("dialog")) {
        if (!body["dialog"].is_number_integer()) return fail(res, 400, "\"dialog\" must be a dialog's id");
        dialog = body["dialog"].get<long long>();
    }
    const auto item = body["item"].get<long long>();
    if (item < INT32_MIN || item > INT32_MAX) return fail(res, 400, "the dialog has no item " + std::to_string(item));
    send(res, c.worker.press(static_cast<int>(item), dialog));
}

// ---- The host's own operations ---------------------------------------------------

// The keys of `list` (a JSON array of strings), as objects of `doc`;
// Refusal for a key no object has. Host thread.
std::vector<simhost::ArtIndex> objectsOf(OpenDoc& doc, const json& list) {
    std::vector<simhost::ArtIndex> objects;
    for (const json& key : list) {
        const simhost::ArtIndex index = doc.editor().byKey(key.get<std::string>());
        if (index == simhost::kNone) throw Refusal(400, "no object \"" + key.get<std::string>() + "\"");
        objects.push_back(index);
    }
    return objects;
}

struct SelectOpName {
    const char* op;
    simhost::SelectOp select;
    const char* command;  // the menu text the answer names
    bool takesIds;
};
const SelectOpName kSelectOps[] = {
    {"all", simhost::SelectOp::kAll, "Select All", false},
    {"none", simhost::SelectOp::kNone, "Deselect", false},
    {"inverse", simhost::SelectOp::kInverse, "Inverse", false},
    {"set", simhost::SelectOp::kSet, "Select", true},
    {"add", simhost::SelectOp::kAdd, "Add to Selection", true},
    {"remove", simhost::SelectOp::kRemove, "Remove from Selection", true},
    {"toggle", simhost::SelectOp::kToggle, "Toggle Selection", true},
};

// {"op", "ids"?}: the host's Select menu, and selection by keys.
void changeSelection(Context& c, const Call& req, httplib::Response& res) {
    const std::shared_ptr<OpenDoc> doc = documentOf(c, req, res);
    json body;
    if (!doc || !jsonBody(req, res, body)) return;
    const json op = body.value("op", json());
    if (op == "reselect") return send(res, c.worker.reselect(doc));
    const SelectOpName* chosen = nullptr;
    for (const SelectOpName& name : kSelectOps)
        if (op == name.op) chosen = &name;
    if (chosen == nullptr)
        return fail(res, 400, "\"op\" must be all, none, inverse, set, add, remove, toggle or reselect");
    json ids = body.value("ids", json::array());
    if (!ids.is_array() || std::any_of(ids.begin(), ids.end(), [](const json& k) { return !k.is_string(); }))
        return fail(res, 400, "\"ids\" must be a list of objects' keys");
    if (chosen->takesIds && !body.contains("ids")) return fail(res, 400, std::string("\"") + chosen->op + "\" needs \"ids\"");
    send(res, c.worker.edit(doc, [chosen, ids](OpenDoc& d) {
        const std::vector<simhost::ArtIndex> objects = chosen->takesIds ? objectsOf(d, ids) : std::vector<simhost::ArtIndex>();
        HostEdit done{chosen->command, {}, {}};
        d.editor().select(chosen->select, objects);
        return done;
    }));
}

// `count` finite numbers from `value`, or false.
bool numbers(const json& value, std::size_t count, double* out) {
    if (!value.is_array() || value.size() != count) return false;
    for (std::size_t i = 0; i < count; ++i) {
        if (!value[i].is_number()) return false;
        out[i] = value[i].get<double>();
        if (!std::isfinite(out[i])) return false;
    }
    return true;
}

// {"point": [x, y]} or {"rect": [x, y, w, h]}, "mode"?, "deep"?: a click or
// a marquee on the art.
void pick(Context& c, const Call& req, httplib::Response& res) {
    const std::shared_ptr<OpenDoc> doc = documentOf(c, req, res);
    json body;
    if (!doc || !jsonBody(req, res, body)) return;
    double at[4] = {0, 0, 0, 0};
    const bool point = body.contains("point");
    if (point == body.contains("rect")) return fail(res, 400, "give \"point\": [x, y] or \"rect\": [x, y, w, h]");
    if (point ? !numbers(body["point"], 2, at) : !numbers(body["rect"], 4, at))
        return fail(res, 400, point ? "\"point\" must be two numbers" : "\"rect\" must be four numbers");
    // A marquee dragged up or left has a negative size.
    const std::array<double, 4> rect = {std::min(at[0], at[0] + at[2]), std::min(at[1], at[1] + at[3]),
                                        std::max(at[0], at[0] + at[2]), std::max(at[1], at[1] + at[3])};
    const json mode = body.value("mode", json("set"));
    if (mode != "set" && mode != "add" && mode != "toggle") return fail(res, 400, "\"mode\" must be set, add or toggle");
    const json deep = body.value("deep", json(false));
    if (!deep.is_boolean()) return fail(res, 400, "\"deep\" must be true or false");
    send(res, c.worker.edit(doc, [point, xy = std::array<double, 2>{at[0], at[1]}, rect, mode, deep](OpenDoc& d) {
        const std::vector<simhost::ArtIndex> hit = point ? d.pickPoint(xy[0], xy[1], deep.get<bool>()) : d.pickRect(rect);
        HostEdit done{mode == "set" ? "Select" : mode == "add" ? "Add to Selection" : "Toggle Selection", {}, {}};
        if (mode == "set") d.editor().select(hit.empty() ? simhost::SelectOp::kNone : simhost::SelectOp::kSet, hit);
        else d.editor().select(mode == "add" ? simhost::SelectOp::kAdd : simhost::SelectOp::kToggle, hit);
        done.picked.emplace();
        for (const simhost::ArtIndex index : hit) done.picked->push_back(d.open().idOf(index));
        return done;
    }));
}

// Both outcomes as one: a layer shown and locked at once.
void combine(std::optional<simhost::EditOutcome>& into, const simhost::EditOutcome& more) {
    if (!into) return void(into = more);
    into->changed += more.changed;
    into->untouched += more.untouched;
    into->message += " " + more.message;
}

// {"visible"?, "editable"?} of layer n (from 0).
void setLayerFlags(Context& c, const Call& req, httplib::Response& res) {
    const std::shared_ptr<OpenDoc> doc = documentOf(c, req, res);
    json body;
    if (!doc || !jsonBody(req, res, body)) return;
    const std::string n = req.matches[2];
    if (n.size() > 9 || std::stoul(n) >= doc->layers) return fail(res, 404, doc->name + " has no layer " + n);
    const json visible = body.value("visible", json()), editable = body.value("editable", json());
    if ((!visible.is_null() && !visible.is_boolean()) || (!editable.is_null() && !editable.is_boolean()) ||
        (visible.is_null() && editable.is_null()))
        return fail(res, 400, "give \"visible\" or \"editable\", true or false");
    const auto layer = static_cast<simhost::LayerIndex>(std::stoul(n));
    send(res, c.worker.edit(doc, [layer, visible, editable](OpenDoc& d) {
        HostEdit done;
        if (visible.is_boolean()) {
            done.command = visible.get<bool>() ? "Show Layer" : "Hide Layer";
            combine(done.edit, d.editor().setLayerVisible(layer, visible.get<bool>()));
        }
        if (editable.is_boolean()) {
            if (done.command.empty()) done.command = editable.get<bool>() ? "Unlock Layer" : "Lock Layer";
            combine(done.edit, d.editor().setLayerEditable(layer, editable.get<bool>()));
        }
        return done;
    }));
}

struct EditOpName {
    const char* op;
    const char* command;
    simhost::EditOutcome (simhost::Editor::*run)();
};
const EditOpName kEditOps[] = {
    {"delete", "Delete", &simhost::Editor::deleteSelection},
    {"keep-only", "Keep Only Selection", &simhost::Editor::keepOnlySelection},
    {"hide", "Hide Selection", &simhost::Editor::hideSelection},
    {"lock", "Lock Selection", &simhost::Editor::lockSelection},
    {"show-all", "Show All", &simhost::Editor::showAll},
    {"unlock-all", "Unlock All", &simhost::Editor::unlockAll},
};

// {"op"}: Edit > Delete, Keep Only Selection; Object > Hide, Lock, Show All, Unlock All.
void editDocument(Context& c, const Call& req, httplib::Response& res) {
    const std::shared_ptr<OpenDoc> doc = documentOf(c, req, res);
    json body;
    if (!doc || !jsonBody(req, res, body)) return;
    const json op = body.value("op", json());
    for (const EditOpName& name : kEditOps)
        if (op == name.op)
            return send(res, c.worker.edit(doc, [entry = &name](OpenDoc& d) {
                return HostEdit{entry->command, (d.editor().*entry->run)(), {}};
            }));
    fail(res, 400, "\"op\" must be delete, keep-only, hide, lock, show-all or unlock-all");
}

// Edit > Undo or Redo: {}.
template <bool kRedo>
void undoOrRedo(Context& c, const Call& req, httplib::Response& res) {
    const std::shared_ptr<OpenDoc> doc = documentOf(c, req, res);
    json body;
    if (!doc || !jsonBody(req, res, body)) return;
    send(res, c.worker.edit(doc, [](OpenDoc& d) {
        simhost::Editor& editor = d.editor();
        const std::string label = kRedo ? editor.redoLabel() : editor.undoLabel();
        if (!(kRedo ? editor.redo() : editor.undo()))
            throw Refusal(409, std::string("nothing to ") + (kRedo ? "redo" : "undo") + " in " + d.name);
        return HostEdit{(kRedo ? "Redo " : "Undo ") + label, {}, {}};
    }));
}

// The file name a download of `doc` gets: its name without folders or
// .svg/.svgz, then `suffix`; quotes and control characters become "_".
std::string downloadName(const OpenDoc& doc, const std::string& suffix) {
    std::string name = doc.name.substr(doc.name.find_last_of('/') + 1);
    for (const char* ext : {".svgz", ".svg"})
        if (name.size() > std::strlen(ext) && lower(name.substr(name.size() - std::strlen(ext))) == ext) {
            name.resize(name.size() - std::strlen(ext));
            break;
        }
    for (char& ch : name)
        if (ch == '"' || ch == '\\' || static_cast<unsigned char>(ch) < 0x20 || ch == 0x7F) ch = '_';
    return name + suffix;
}

// An SVG text as a file to save, under the drawing's strict policy.
void sendDownload(httplib::Response& res, std::shared_ptr<const std::string> svg, const std::string& file) {
    setDrawingPolicy(res, false);
    res.set_header("Content-Disposition", "attachment; filename=\"" + file + "\"");
    sendShared(res, std::move(svg), "image/svg+xml");
}

// File > Save As SVG: the drawing with its edits.
void getSvg(Context& c, const Call& req, httplib::Response& res) {
    const std::shared_ptr<OpenDoc> doc = documentOf(c, req, res);
    if (!doc) return;
    if (!doc->svgText) return fail(res, 404, doc->name + " is a JSON document: it has no drawing");
    sendDownload(res, doc->state()->svg, downloadName(*doc, ".svg"));
}

// File > Export Selection as SVG.
void getExport(Context& c, const Call& req, httplib::Response& res) {
    const std::shared_ptr<OpenDoc> doc = documentOf(c, req, res);
    if (!doc) return;
    if (!doc->svgText) return fail(res, 404, doc->name + " is a JSON document: it has no drawing");
    auto svg = std::make_shared<std::string>();
    Reply reply = c.worker.exportSelection(doc, svg);
    if (reply.status != 200) return send(res, std::move(reply));
    sendDownload(res, std::move(svg), downloadName(*doc, "-selection.svg"));
}

void listFaults(Context&, const Call&, httplib::Response& res) {
    json names = json::array();
    for (const simhost::OpInfo& op : simhost::kOpInfos) names.push_back(op.label);
    res.set_content(names.dump(), "application/json");
}

void setFault(Context& c, const Call& req, httplib::Response& res) {
    json body;
    if (!jsonBody(req, res, body)) return;
    if (!body.contains("operation") || !body["operation"].is_string())
        return fail(res, 400, "\"operation\" must name a host operation (GET /api/faults lists them)");
    const json mode = body.contains("mode") ? body["mode"] : json("always");
    if (mode != "once" && mode != "always") return fail(res, 400, "\"mode\" must be \"once\" or \"always\"");
    send(res, c.worker.setFault(body["operation"].get<std::string>(), mode == "always"));
}

void clearFaults(Context& c, const Call&, httplib::Response& res) { send(res, c.worker.clearFaults()); }

const Route kRoutes[] = {
    {"GET", "/", Body::kNone, getPage},
    {"GET", "/assets/(.+)", Body::kNone, getAsset},
    {"GET", "/api/menus", Body::kNone, getMenus},
    {"GET", "/api/documents", Body::kNone, listDocuments},
    {"POST", "/api/documents", Body::kDocument, nullptr},  // uploadDocument, read as it comes
    {"GET", "/api/documents/([^/]+)", Body::kNone, getDocument},
    {"DELETE", "/api/documents/([^/]+)", Body::kNone, deleteDocument},
    {"GET", "/api/documents/([^/]+)/drawing", Body::kNone, getDrawing},
    {"GET", "/api/documents/([^/]+)/layers", Body::kNone, getLayers},
    {"POST", "/api/documents/([^/]+)/menu", Body::kJson, chooseItem},
    {"GET", "/api/documents/([^/]+)/selection", Body::kNone, getSelection},
    {"DELETE", "/api/documents/([^/]+)/selection", Body::kNone, deselectAll},
    {"POST", "/api/documents/([^/]+)/selection", Body::kJson, changeSelection},
    {"GET", "/api/documents/([^/]+)/state", Body::kNone, getSelection},
    {"POST", "/api/documents/([^/]+)/pick", Body::kJson, pick},
    {"POST", "/api/documents/([^/]+)/layers/([0-9]+)", Body::kJson, setLayerFlags},
    {"POST", "/api/documents/([^/]+)/edit", Body::kJson, editDocument},
    {"POST", "/api/documents/([^/]+)/undo", Body::kJson, undoOrRedo<false>},
    {"POST", "/api/documents/([^/]+)/redo", Body::kJson, undoOrRedo<true>},
    {"GET", "/api/documents/([^/]+)/svg", Body::kNone, getSvg},
    {"GET", "/api/documents/([^/]+)/export", Body::kNone, getExport},
    {"POST", "/api/menu", Body::kJson, chooseApplicationItem},
    {"GET", "/api/dialog", Body::kNone, getDialog},
    {"POST", "/api/dialog/press", Body::kJson, pressItem},
    {"GET", "/api/faults", Body::kNone, listFaults},
    {"POST", "/api/faults", Body::kJson, setFault},
    {"DELETE", "/api/faults", Body::kNone, clearFaults},
};

}  // namespace

namespace {

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

// The upload's name from the query (`name=`, everything after its first
// "=", percent-decoded, "+" a space); "upload" when there is none. An
// error message for a name that is empty or holds a control character.
std::string uploadName(const std::string& target, std::string& name) {
    name = "upload";
    const std::size_t query = target.find('?');
    if (query == std::string::npos) return {};
    for (std::size_t at = query + 1; at <= target.size();) {
        const std::size_t end = std::min(target.find('&', at), target.size());
        const std::string pair = target.substr(at, end - at);
        at = end + 1;
        if (pair.compare(0, 5, "name=") != 0) continue;
        name.clear();
        for (std::size_t i = 5; i < pair.size(); ++i) {
            int hi = 0, lo = 0;
            if (pair[i] == '%' && i + 2 < pair.size() && (hi = hexDigit(pair[i + 1])) >= 0 &&
                (lo = hexDigit(pair[i + 2])) >= 0) {
                name += static_cast<char>(hi * 16 + lo);
                i += 2;
            } else {
                name += pair[i] == '+' ? ' ' : pair[i];
            }
        }
    }
    if (name.empty()) return "the name must not be empty";
    for (const char ch : name)
        if (static_cast<unsigned char>(ch) < 0x20 || ch == 0x7F) return "the name must not hold control characters";
    return {};
}

void uploadDocument(Context& c, const httplib::Request& req, httplib::Response& res,
                    const httplib::ContentReader& read) {
    const std::uint64_t max = c.where.maxUpload;
    const std::string tooLarge = "the document is larger than " + std::to_string(max) + " bytes";
    std::uint64_t length = 0;
    if (req.has_header("Content-Length")) {
        length = std::strtoull(req.get_header_value("Content-Length").c_str(), nullptr, 10);
        if (length > max) return fail(res, 413, tooLarge);
    }
    std::string name;
    if (const std::string why = uploadName(req.target, name); !why.empty()) return fail(res, 400, why);
    const char* const stopping = "the server is shutting down: the document was not kept";
    std::shared_ptr<OpenDoc> doc;
    try {
        UploadReader reader(name, length, max);
        std::uint64_t received = 0;
        bool overrun = false;
        const bool whole = read([&](const char* data, std::size_t size) {
            received += size;
            overrun = received > max;
            return !overrun && !c.where.stopping && reader.feed(data, size);
        });
        if (c.where.stopping) return fail(res, 503, stopping);
        if (overrun || res.status == 413 || reader.tooLarge()) return fail(res, 413, tooLarge);
        if (!whole && !reader.failed()) return fail(res, 400, "the document was cut short");
        doc = reader.finish();
    } catch (const simhost::DocumentError& e) {
        return fail(res, 400, e.what());
    } catch (const std::bad_alloc&) {
        return fail(res, 413, "not enough memory to read " + name);
    }
    // A document kept now would vanish with the process a moment later.
    if (c.where.stopping) return fail(res, 503, stopping);
    c.store.add(doc);
    res.status = 201;
    res.set_content(entryJson(*doc), "application/json");
}

std::string reasonOf(int status) {
    switch (status) {
        case 400: return "bad request";
        case 404: return "not found";
        case 413: return "the body is too large";
        case 414: return "the address is too long";
        case 431: return "the headers are too large";
        default: return "HTTP error " + std::to_string(status);
    }
}

std::string mediaType(const httplib::Request& req) {
    std::string type = req.get_header_value("Content-Type");
    type = type.substr(0, type.find(';'));
    type.erase(std::remove_if(type.begin(), type.end(), [](char ch) { return ch == ' ' || ch == '\t'; }), type.end());
    return lower(type);
}

// A page of any site can send these without asking first; no route that
// changes anything takes them.
bool crossSiteType(const std::string& type) {
    return type == "text/plain" || type == "application/x-www-form-urlencoded" || type == "multipart/form-data";
}

bool bodyTypeAllowed(const Route& route, const std::string& type) {
    if (route.body == Body::kJson) return type == "application/json";
    if (route.body == Body::kDocument)
        return type == "application/json" || type == "application/octet-stream" || type == "image/svg+xml";
    return std::string(route.method) == "GET" || !crossSiteType(type);
}

// A body's framing the server reads itself, or an error message: a length
// of digits only, no transfer coding but chunked, and no content coding,
// which the library would inflate in memory before any limit applies.
std::string framingError(const httplib::Request& req, int& status) {
    status = 400;
    if (req.has_header("Content-Length")) {
        const std::string length = req.get_header_value("Content-Length");
        if (length.empty() || length.size() > 19 || length.find_first_not_of("0123456789") != std::string::npos)
            return "Content-Length must be a number of bytes, not \"" + length + "\"";
        if (req.has_header("Transfer-Encoding")) return "a body has a Content-Length or a Transfer-Encoding, not both";
    }
    if (req.has_header("Transfer-Encoding") && lower(req.get_header_value("Transfer-Encoding")) != "chunked")
        return "the only Transfer-Encoding served is chunked";
    status = 415;
    for (std::size_t i = 0; i < req.get_header_value_count("Content-Encoding"); ++i)
        if (lower(req.get_header_value("Content-Encoding", i)) != "identity")
            return "bodies are taken as they are: Content-Encoding \"" + req.get_header_value("Content-Encoding", i) +
                   "\" is not served";
    return {};
}

struct CompiledRoute {
    const Route* route;
    std::regex pattern;
};

const std::vector<CompiledRoute>& compiledRoutes() {
    static const std::vector<CompiledRoute> routes = [] {
        std::vector<CompiledRoute> out;
        for (const Route& r : kRoutes) out.push_back({&r, std::regex(r.pattern)});
        return out;
    }();
    return routes;
}

// Answers `why`; the body, if any, was not read: the connection cannot go on.
void refuse(httplib::Response& res, int status, const std::string& why) {
    fail(res, status, why);
    res.set_header("Connection", "close");
}

// The route `req` takes, with what its path matched into `matches`; null
// once the request is refused: no such path (404), not this method (405),
// not this body (415).
const CompiledRoute* routeOf(const httplib::Request& req, httplib::Response& res, std::smatch& matches) {
    std::string allowed;
    for (const CompiledRoute& r : compiledRoutes()) {
        if (!std::regex_match(req.path, matches, r.pattern)) continue;
        const std::string method = r.route->method;
        if (method == req.method || (method == "GET" && req.method == "HEAD")) {
            if (bodyTypeAllowed(*r.route, mediaType(req))) return &r;
            refuse(res, 415, std::string("this request needs a body of type ") +
                                 (r.route->body == Body::kJson     ? "application/json"
                                  : r.route->body == Body::kNone ? "application/json or none"
                                                                 : "image/svg+xml, application/json or application/octet-stream"));
            return nullptr;
        }
        allowed += (allowed.empty() ? "" : ", ") + method + (method == "GET" ? ", HEAD" : "");
    }
    if (allowed.empty()) {
        refuse(res, 404, "no such resource: " + req.path);
    } else {
        res.set_header("Allow", allowed);
        refuse(res, 405, req.method + " is not allowed here; allowed: " + allowed);
    }
    return nullptr;
}

bool servedMethod(const std::string& method) {
    return method == "GET" || method == "HEAD" || method == "POST" || method == "DELETE";
}

// Checks every request before its body is read: who it is for, where it
// comes from, how its body is framed. A method no route takes is refused
// here; the others are routed once, by serveRequest.
httplib::Server::HandlerResponse checkRequest(const Listening& where, const httplib::Request& req,
                                              httplib::Response& res) {
    const auto refused = [&](int status, const std::string& why) {
        refuse(res, status, why);
        return httplib::Server::HandlerResponse::Handled;
    };
    if (where.stopping) return refused(503, "the server is shutting down");
    const std::string host = req.get_header_value("Host");
    if (req.get_header_value_count("Host") != 1 || !hostHeaderAllowed(host, where))
        return refused(403, "this server does not serve host \"" + host + "\"");
    if (req.has_header("Origin") && !originAllowed(req.get_header_value("Origin"), where))
        return refused(403, "requests from " + req.get_header_value("Origin") + " are not served");
    int status = 0;
    if (const std::string why = framingError(req, status); !why.empty()) return refused(status, why);
    if (servedMethod(req.method)) return httplib::Server::HandlerResponse::Unhandled;
    std::smatch matches;
    routeOf(req, res, matches);
    return httplib::Server::HandlerResponse::Handled;
}

// Every request of a served method: matched once against the routes, its
// JSON body read (a POST's body is read only once its route takes it).
void serveRequest(Context& c, const httplib::Request& req, httplib::Response& res, const httplib::ContentReader* read) {
    Call call{req, {}, {}};
    const CompiledRoute* r = routeOf(req, res, call.matches);
    if (r == nullptr) return;
    if (r->route->handler == nullptr) return uploadDocument(c, req, res, *read);
    if (read != nullptr && r->route->body == Body::kJson) {
        const bool whole = (*read)([&call](const char* data, std::size_t size) {
            call.body.append(data, size);
            return true;
        });
        if (!whole) return fail(res, res.status == 413 ? 413 : 400, reasonOf(res.status == 413 ? 413 : 400));
    }
    r->route->handler(c, call, res);
}

}  // namespace

bool hostHeaderAllowed(const std::string& header, const Listening& where) {
    std::string host = lower(header), port;
    if (!host.empty() && host.front() == '[') {
        const std::size_t close = host.find(']');
        if (close == std::string::npos) return false;
        port = host.substr(close + 1);
        host = host.substr(1, close - 1);
    } else if (const std::size_t colon = host.rfind(':'); colon != std::string::npos) {
        port = host.substr(colon);
        host = host.substr(0, colon);
        if (host.find(':') != std::string::npos) return false;  // an IPv6 address comes in brackets
    }
    if (port.empty() ? where.port != 80 : port != ":" + std::to_string(where.port)) return false;
    const std::string bound = lower(where.address);
    if (host.empty()) return false;
    if (host == bound) return true;
    in6_addr a6{};
    in_addr a4{};
    const bool boundV4 = inet_pton(AF_INET, bound.c_str(), &a4) == 1;
    const bool loopback = (boundV4 && (ntohl(a4.s_addr) >> 24) == 127) || bound == "::1";
    const bool wildcard = bound == "0.0.0.0" || bound == "::";
    if (host == "localhost") return loopback || wildcard;
    // A name could be rebound to this address; an address cannot.
    return wildcard && (inet_pton(AF_INET, host.c_str(), &a4) == 1 || inet_pton(AF_INET6, host.c_str(), &a6) == 1);
}

bool originAllowed(const std::string& origin, const Listening& where) {
    const std::string scheme = "http://";
    if (lower(origin.substr(0, scheme.size())) != scheme) return false;
    const std::string authority = origin.substr(scheme.size());
    return authority.find_first_of("/?#@") == std::string::npos && hostHeaderAllowed(authority, where);
}

void setDrawingPolicy(httplib::Response& res, bool asFile) {
    res.set_header("Content-Security-Policy",
                   "default-src 'none'; img-src data:; style-src 'unsafe-inline'; font-src data:; sandbox");
    if (asFile) res.set_header("Content-Disposition", "attachment");
}

void installApi(httplib::Server& server, HostWorker& worker, DocumentStore& store, const Listening& where) {
    auto context = std::make_shared<Context>(Context{worker, store, where});
    // One handler per method, whatever the path: the route table is matched
    // once, by serveRequest, not again by the library.
    const char* const kAnyPath = ".*";
    server.Get(kAnyPath, [context](const httplib::Request& req, httplib::Response& res) {
        serveRequest(*context, req, res, nullptr);
    });
    server.Delete(kAnyPath, [context](const httplib::Request& req, httplib::Response& res) {
        serveRequest(*context, req, res, nullptr);
    });
    server.Post(kAnyPath, [context](const httplib::Request& req, httplib::Response& res,
                                    const httplib::ContentReader& read) { serveRequest(*context, req, res, &read); });
    server.set_pre_routing_handler(
        [&where](const httplib::Request& req, httplib::Response& res) { return checkRequest(where, req, res); });
    // Errors the library answers itself (a body too large, a request it
    // cannot read) get a JSON body too.
    server.set_error_handler([](const httplib::Request&, httplib::Response& res) {
        if (res.body.empty() && !res.content_provider_)
            res.set_content(errorReply(res.status, reasonOf(res.status)).body,
                            "application/json");
    });
    server.set_exception_handler([](const httplib::Request&, httplib::Response& res, std::exception_ptr) {
        fail(res, 500, "the server failed to answer");
    });
    server.set_default_headers({{"X-Content-Type-Options", "nosniff"},
                                {"Cache-Control", "no-store"},
                                {"Referrer-Policy", "no-referrer"},
                                {"X-Frame-Options", "SAMEORIGIN"}});
    server.set_payload_max_length(static_cast<std::size_t>(where.maxUpload));
}

}  // namespace simhost_serve
