// The HTTP interface of `simhost serve`, against the real program on a free
// port: commands beside the command line's answers, real modal dialogs,
// host faults, documents, and every kind of bad request.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <zlib.h>

#include <chrono>
#include <map>
#include <memory>
#include <thread>

#include "HttpApi.h"
#include "ServerProcess.h"
#include "Tables.h"
#include "cli_support.h"

namespace {

using namespace serve_test;
using cli_test::simhost;
using test_tables::rows;

const std::string kSample = std::string(WENDLOW_SOURCE_DIR) + "/examples/sample.svg";

// A connection of our own to the server, for requests the library's client
// will not send as they are.
int connectTo(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<std::uint16_t>(port));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) ADD_FAILURE() << "cannot connect";
    return fd;
}

bool sendAll(int fd, const std::string& bytes) {
    return send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
}

// The status the server answers on `fd` before it closes it; empty for none.
std::string statusOn(int fd) {
    std::string answer;
    char buffer[4096];
    for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;) answer.append(buffer, static_cast<std::size_t>(n));
    close(fd);
    return answer.size() < 12 ? std::string() : answer.substr(9, 3);
}

std::string gzipped(const std::string& text) {
    z_stream z{};
    deflateInit2(&z, Z_BEST_COMPRESSION, Z_DEFLATED, 16 + MAX_WBITS, 9, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&z, text.size()), '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
    z.avail_in = static_cast<uInt>(text.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_FINISH);
    out.resize(out.size() - z.avail_out);
    deflateEnd(&z);
    return out;
}

// An SVG drawing of exactly `size` bytes (at least 100).
std::string drawingOfSize(std::size_t size) {
    const std::string head = "<svg xmlns=\"http://www.w3.org/2000/svg\"><rect width=\"1\" height=\"1\"/>";
    return head + std::string(size - head.size() - 6, ' ') + "</svg>";
}

class ServeApi : public ::testing::Test {
protected:
    static void SetUpTestSuite() { server_ = std::make_unique<ServerProcess>(std::vector<std::string>{"--max-upload", "100000"}); }
    static void TearDownTestSuite() {
        EXPECT_EQ(server_->stop(), 0);
        EXPECT_EQ(server_->stderrText(), "") << "the ledger must be balanced at shutdown";
        server_.reset();
    }
    void TearDown() override {
        httplib::Client c = server_->client();
        c.Delete("/api/faults");
        ASSERT_EQ(parsed(c.Get("/api/dialog")), (json{{"dialog", nullptr}})) << "a test left a dialog open";
    }
    static std::string upload(const std::string& bytes, const std::string& name, const char* type = "image/svg+xml") {
        httplib::Client c = server_->client();
        auto r = c.Post(("/api/documents?name=" + name).c_str(), bytes, type);
        EXPECT_EQ(r->status, 201) << r->body;
        return parsed(r)["id"];
    }
    static inline std::unique_ptr<ServerProcess> server_;
};

// The tree itself is checked on the command line (cli_test).
TEST_F(ServeApi, MenusAreTheCommandLines) {
    auto r = server_->client().Get("/api/menus");
    ASSERT_EQ(r->status, 200);
    const cli_test::Outcome cli = simhost({"menus", "--json"});
    ASSERT_EQ(cli.code, 0);
    EXPECT_EQ(json::parse(r->body), json::parse(cli.out + cli.err));
}

// Every command on the sample selects what `simhost select` selects, under
// any spelling of its name, with an outline per selected object.
TEST_F(ServeApi, CommandsSelectWhatTheCommandLineSelects) {
    httplib::Client c = server_->client();
    const std::vector<std::pair<std::string, std::string>> spellings = {
        {"Open Paths", "open paths"}, {"Closed Paths", "CLOSED-PATHS"}, {"Groups", " groups_"},
        {"Symbol Instances", "symbolinstances"}, {"Guides", "Guides"}, {"All Paths", "all_paths"}};
    for (const auto& [text, typed] : spellings) {
        const std::string id = upload(fileText(kSample), "sample.svg");  // as the command line reads it
        auto r = postJson(c, "/api/documents/" + id + "/menu", {{"item", typed}});
        ASSERT_EQ(r->status, 200) << typed << ": " << r->body;
        const json result = json::parse(r->body);
        EXPECT_EQ(result["command"], text);
        EXPECT_EQ(result["result"], "ok");
        const cli_test::Outcome cli = simhost({"select", kSample, text});
        ASSERT_EQ(cli.code, 0);
        std::string ids;
        for (const json& s : result["selected"]) {
            ids += s["id"].get<std::string>() + "\n";
            EXPECT_NE(result["outlines"].get<std::string>().find("data-object-id=\"" + s["id"].get<std::string>() + "\""),
                      std::string::npos);
            EXPECT_EQ(s["kind"], s["type"]);
        }
        EXPECT_EQ(ids, cli.out + cli.err) << text;
        EXPECT_EQ(result["count"], result["selected"].size());
        EXPECT_EQ(c.Delete(("/api/documents/" + id).c_str())->status, 204);
    }
}

// Each document keeps its own selection between commands: a selected guide
// survives any command, on its own document only, kept and not matched
// unless the command selects it again. The selection can be read back as
// the last answer gave it, and cleared, guides too.
TEST_F(ServeApi, EachDocumentKeepsItsSelection) {
    httplib::Client c = server_->client();
    const std::string a = upload(fileText(kSample), "a.svg"), b = upload(fileText(kSample), "b.svg");
    const std::string menu = "/api/documents/" + a + "/menu", selection = "/api/documents/" + a + "/selection";
    json guides;
    for (int time = 0; time < 2; ++time) {
        guides = parsed(postJson(c, menu, {{"item", "Guides"}}))["selected"];
        ASSERT_EQ(guides.size(), 2u);
        for (const json& g : guides) EXPECT_TRUE(g["matched"] == true && !g.contains("kept")) << g;
    }
    const json onA = parsed(postJson(c, menu, {{"item", "All Paths"}}))["selected"];
    const json onB = parsed(postJson(c, "/api/documents/" + b + "/menu", {{"item", "All Paths"}}))["selected"];
    EXPECT_EQ(onA.size(), onB.size() + 2);
    EXPECT_EQ(onA.back()["id"], guides.back()["id"]);
    const json rasters = parsed(postJson(c, menu, {{"item", "Rasters"}, {"outlines", false}}));
    ASSERT_EQ(rasters["selected"].size(), 3u);
    for (const json& s : rasters["selected"]) {
        const bool guide = s["layer"] == "Guides";
        EXPECT_EQ(s["matched"], !guide) << s;
        EXPECT_EQ(s.value("kept", false), guide) << s;
    }
    auto held = c.Get((selection + "?outlines=false").c_str());
    ASSERT_EQ(held->status, 200);
    EXPECT_EQ(parsed(held)["selected"], rasters["selected"]) << "a page that comes later sees the last answer";
    auto cleared = c.Delete(selection.c_str());
    ASSERT_EQ(cleared->status, 200) << cleared->body;
    EXPECT_EQ(parsed(cleared)["count"], 0);
    EXPECT_EQ(parsed(c.Get(selection.c_str()))["count"], 0);
    for (const std::string& id : {a, b}) c.Delete(("/api/documents/" + id).c_str());
    EXPECT_EQ(c.Get(selection.c_str())->status, 404);
}

// About opens a dialog that waits for a press: while it is open the dialog
// is shown to anyone, other messages get 409, bad presses are refused, and
// the press that closes it brings back the message's result.
TEST_F(ServeApi, AModalDialogWaitsForItsPress) {
    httplib::Client c = server_->client();
    auto opened = postJson(c, "/api/documents/d1/menu", {{"item", "brindle..."}});
    ASSERT_EQ(opened->status, 202) << opened->body;
    const json dialog = json::parse(opened->body)["dialog"];
    EXPECT_EQ(dialog["title"], "About Wendlow Brindle");
    EXPECT_EQ(parsed(c.Get("/api/dialog")), (json{{"dialog", dialog}}));

    const struct { json body; const char* path; int status; } refused[] = {
        {{{"item", "Groups"}}, "/api/documents/d1/menu", 409},
        {{{"item", 99}}, "/api/dialog/press", 400},
        {{{"item", 1}, {"dialog", dialog["id"].get<int>() + 1}}, "/api/dialog/press", 409},
        {{{"item", "1"}}, "/api/dialog/press", 400},
    };
    for (const auto& r : refused) {
        auto answer = postJson(c, r.path, r.body);
        EXPECT_EQ(answer->status, r.status) << r.body;
        if (r.status == 409) {
            EXPECT_EQ(parsed(answer)["dialog"], dialog);
        }
    }
    EXPECT_EQ(c.Get("/api/documents")->status, 200) << "what needs no message still works";

    // The time a person takes to answer is not the command's.
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    auto closed = postJson(c, "/api/dialog/press", {{"item", 1}, {"dialog", dialog["id"]}});
    ASSERT_EQ(closed->status, 200);
    const json result = json::parse(closed->body);
    EXPECT_EQ(result["command"], "Brindle...");
    EXPECT_EQ(result["result"], "ok") << "closed by its own OK button: a normal end";
    EXPECT_LT(result["commandMs"].get<double>(), result["ms"].get<double>() - 300);
    ASSERT_EQ(result["dialogs"].size(), 1u);
    EXPECT_EQ(result["dialogs"][0]["closedBy"], 1);
    EXPECT_EQ(parsed(c.Get("/api/dialog")), (json{{"dialog", nullptr}}));
    EXPECT_EQ(postJson(c, "/api/dialog/press", {{"item", 1}})->status, 409);
    EXPECT_EQ(postJson(c, "/api/documents/d1/menu", {{"item", "Groups"}})->status, 200);
}

// About is the application's: it runs with no document, by its menu text
// alone; the drawing's commands need one.
TEST_F(ServeApi, AboutNeedsNoDocument) {
    httplib::Client c = server_->client();
    auto opened = postJson(c, "/api/menu", {{"item", "brindle..."}});
    ASSERT_EQ(opened->status, 202) << opened->body;
    auto closed = postJson(c, "/api/dialog/press", {{"item", 1}});
    ASSERT_EQ(closed->status, 200);
    const json result = json::parse(closed->body);
    EXPECT_TRUE(result["document"].is_null());
    EXPECT_EQ(result["result"], "ok");
    EXPECT_EQ(result["code"], "0");
    const struct {
        json body;
        int status;
    } refused[] = {{{{"item", "Groups"}}, 409}, {{{"item", "No Such Item"}}, 404}, {{{"item", 3}}, 400}};
    for (const auto& r : refused) EXPECT_EQ(postJson(c, "/api/menu", r.body)->status, r.status) << r.body;
}

// A command failing under a host fault shows the plug-in's error dialog;
// "once" fails one call, "always" every one until cleared.
TEST_F(ServeApi, HostFaultsShowTheErrorDialog) {
    httplib::Client c = server_->client();
    auto ops = parsed(c.Get("/api/faults"));
    EXPECT_NE(std::find(ops.begin(), ops.end(), "get-path-style"), ops.end());
    for (const char* mode : {"once", "always"}) {
        ASSERT_EQ(postJson(c, "/api/faults", {{"operation", "get-path-style"}, {"mode", mode}})->status, 200);
        for (int run = 0; run < 2; ++run) {
            auto r = postJson(c, "/api/documents/d1/menu", {{"item", "Filled Paths"}});
            const bool fails = run == 0 || std::string(mode) == "always";
            ASSERT_EQ(r->status, fails ? 202 : 200) << mode << run << r->body;
            if (!fails) continue;
            const json dialog = json::parse(r->body)["dialog"];
            EXPECT_EQ(dialog["items"][2]["text"], "FALT");
            const json result = parsed(postJson(c, "/api/dialog/press", {{"item", 1}}));
            EXPECT_EQ(result["code"], "FALT");
            EXPECT_EQ(result["result"], "error");
        }
        EXPECT_EQ(c.Delete("/api/faults")->status, 204);
    }
    EXPECT_EQ(postJson(c, "/api/documents/d1/menu", {{"item", "Filled Paths"}})->status, 200);
}

TEST_F(ServeApi, DocumentsAreUploadedListedDrawnAndDeleted) {
    httplib::Client c = server_->client();
    const std::string svg = fileText(kSample);
    const std::string json_id = upload(fileText(std::string(WENDLOW_SOURCE_DIR) + "/examples/sample.json"), "s.json",
                                       "application/json");
    const std::string svg_id = upload(svg, "s=1.svg");
    const json list = parsed(c.Get("/api/documents"));
    const auto entry = std::find_if(list.begin(), list.end(), [&](const json& e) { return e["id"] == svg_id; });
    ASSERT_NE(entry, list.end());
    EXPECT_EQ((*entry)["name"], "s=1.svg");
    EXPECT_EQ((*entry)["layers"], 6);
    const json layers = parsed(c.Get(("/api/documents/" + svg_id + "/layers").c_str()));
    ASSERT_EQ(layers.size(), 6u);
    EXPECT_TRUE(std::any_of(layers.begin(), layers.end(), [](const json& l) { return l["visible"] == false; }));

    auto drawing = c.Get(("/api/documents/" + svg_id + "/drawing").c_str());
    ASSERT_EQ(drawing->status, 200);
    EXPECT_EQ((*entry)["viewBox"], json::array({0, 0, 400, 300}));
    EXPECT_EQ(drawing->get_header_value("Content-Security-Policy"),
              "default-src 'none'; img-src data:; style-src 'unsafe-inline'; font-src data:; sandbox");
    EXPECT_EQ(drawing->get_header_value("X-Content-Type-Options"), "nosniff");
    for (const char* route : {"/drawing", "/svg", "/export"})
        EXPECT_EQ(c.Get(("/api/documents/" + json_id + route).c_str())->status, 404) << route;
    auto r = postJson(c, "/api/documents/" + json_id + "/menu", {{"item", "Plugin Groups"}});
    EXPECT_EQ(parsed(r)["selected"][0]["id"], "fountain") << r->body;

    // The limit is on the document as inflated, up to the byte.
    const std::string edge = upload(gzipped(drawingOfSize(100000)), "edge.svgz");
    for (const std::string& id : {svg_id, json_id, edge}) {
        EXPECT_EQ(c.Delete(("/api/documents/" + id).c_str())->status, 204);
        EXPECT_EQ(c.Get(("/api/documents/" + id + "/layers").c_str())->status, 404);
    }
}

// The drawing is served whole with its root framing the page and all the
// art, as the entry's view box says; nothing else of it changes.
TEST_F(ServeApi, TheDrawingIsFramedToShowAllItsArt) {
    const std::string ns = "<svg xmlns=\"http://www.w3.org/2000/svg\" ";
    const struct { std::string root, body; json box; } cases[] = {
        {ns + "width=\"100\" height=\"50\" viewBox=\"0 0 100 50\">", "<rect x=\"10\" y=\"10\" width=\"5\" height=\"5\"/>",
         {0, 0, 100, 50}},
        {ns + "viewBox='0 0 100 100' data-x=\"a>b\">", "<rect x=\"150\" y=\"-20\" width=\"10\" height=\"10\"/>",
         {0, -20, 160, 120}},
        {ns + "width=\"20\" height=\"20\">", "<g transform=\"translate(-30 0)\"><circle r=\"5\"/></g>", {-35, -5, 55, 25}},
    };
    httplib::Client c = server_->client();
    for (const auto& t : cases) {
        const std::string prolog = "<?xml version=\"1.0\"?>\n<!-- <svg viewBox=\"9 9 9 9\"> -->\n";
        const std::string id = upload(prolog + t.root + t.body + "</svg>\n", "framed.svg");
        EXPECT_EQ(parsed(c.Get(("/api/documents/" + id).c_str()))["viewBox"], t.box) << t.root;
        const std::string body = c.Get(("/api/documents/" + id + "/drawing").c_str())->body;
        const std::string w = t.box[2].dump(), h = t.box[3].dump();
        const std::string framed = " width=\"" + w + "\" height=\"" + h + "\" viewBox=\"" + t.box[0].dump() + " " +
                                   t.box[1].dump() + " " + w + " " + h + "\">";
        EXPECT_NE(body.find(framed), std::string::npos) << body;
        EXPECT_EQ(body.substr(0, prolog.size()), prolog);
        EXPECT_EQ(body.substr(body.size() - t.body.size() - 7), t.body + "</svg>\n");
        EXPECT_EQ(body.find("data-x=\"a>b\"") != std::string::npos, t.root.find("data-x") != std::string::npos);
        c.Delete(("/api/documents/" + id).c_str());
    }
    // Art whose box is wider than a double can hold frames nothing: the
    // entry has no view box and the drawing is served as it came.
    const std::string far = ns + "width=\"20\" height=\"20\"><path d=\"M -1e308 0 L 1e308 1e308\"/></svg>";
    const std::string id = upload(far, "far.svg");
    EXPECT_FALSE(parsed(c.Get(("/api/documents/" + id).c_str())).contains("viewBox"));
    EXPECT_EQ(c.Get(("/api/documents/" + id + "/drawing").c_str())->body, far);
    c.Delete(("/api/documents/" + id).c_str());
}

// The keys of an answer's "selected".
json keysOf(const json& answer) {
    json keys = json::array();
    for (const json& s : answer["selected"]) keys.push_back(s["id"]);
    return keys;
}

// The host's own work on a drawing of known geometry, step by step: clicks
// and marquees (topmost painted shape, its top-level object unless deep,
// never what is hidden, locked or on a hidden or locked layer), the Select
// menu, layer flags the plug-in's commands honour, Reselect, edits, undo
// and redo; each answer with what the document holds after it.
TEST_F(ServeApi, TheHostsOwnSelectionPicksAndEditsFollowTheDocument) {
    httplib::Client c = server_->client();
    const std::string id = upload(rows("serve_api", "pickingDrawing")[0], "picking.svg");
    const std::string base = "/api/documents/" + id + "/";
    int revision = 0;
    for (const json& step : rows("serve_api", "hostSteps")) {
        auto r = postJson(c, base + step[0].get<std::string>(), step[1]);
        ASSERT_EQ(r->status, step[2]) << step << ": " << r->body;
        const json answer = parsed(r);
        if (r->status != 200) {
            EXPECT_TRUE(answer["error"].is_string()) << r->body;
            continue;
        }
        if (!step[3].is_null()) {
            EXPECT_EQ(keysOf(answer), step[3]) << step;
        }
        EXPECT_EQ(answer.value("picked", json()), step[4]) << step;
        if (!step[5].is_null()) {
            EXPECT_EQ(answer["command"], step[5]) << step;
        }
        EXPECT_EQ(answer["count"], answer["selected"].size());
        EXPECT_EQ(answer["layers"], parsed(c.Get((base + "layers").c_str()))) << step;
        EXPECT_EQ(parsed(c.Get((base + "state").c_str()))["selected"], answer["selected"]) << step;
        EXPECT_GE(answer["revision"].get<int>(), revision) << step;
        revision = answer["revision"];
    }
    c.Delete(("/api/documents/" + id).c_str());
}

// Undo and redo name what they would do, and go back and forth over a
// plug-in command and an edit; the revision grows with every change to the
// drawing, and /drawing and /svg show the edit while it stands. Unedited,
// /svg is the document as it came, byte for byte.
TEST_F(ServeApi, UndoAndRedoGoOverCommandsAndEdits) {
    httplib::Client c = server_->client();
    const std::string text = fileText(kSample);
    const std::string id = upload(text, "sample.svg"), base = "/api/documents/" + id + "/";
    auto saved = [&] { return c.Get((base + "svg").c_str()); };
    ASSERT_EQ(saved()->status, 200);
    EXPECT_EQ(saved()->body, text);
    EXPECT_EQ(saved()->get_header_value("Content-Disposition"), "attachment; filename=\"sample.svg\"");
    EXPECT_EQ(saved()->get_header_value("Content-Type"), "image/svg+xml");
    EXPECT_EQ(saved()->get_header_value("Content-Security-Policy"),
              "default-src 'none'; img-src data:; style-src 'unsafe-inline'; font-src data:; sandbox");
    const json fresh = parsed(c.Get((base + "state").c_str()));
    EXPECT_TRUE(fresh["undo"].is_null() && fresh["redo"].is_null()) << fresh;
    EXPECT_EQ(postJson(c, base + "undo", json::object())->status, 409);
    EXPECT_EQ(c.Get((base + "export").c_str())->status, 409) << "nothing is selected";

    const json chosen = parsed(postJson(c, base + "menu", {{"item", "Open Paths"}}));
    ASSERT_GT(chosen["count"].get<int>(), 0) << chosen;
    EXPECT_EQ(chosen["undo"], "Open Paths");
    auto exported = c.Get((base + "export").c_str());
    ASSERT_EQ(exported->status, 200);
    EXPECT_EQ(exported->get_header_value("Content-Disposition"), "attachment; filename=\"sample-selection.svg\"");
    EXPECT_NE(exported->body.find(chosen["selected"][0]["id"].get<std::string>()), std::string::npos);

    const std::string gone = chosen["selected"][0]["id"];
    EXPECT_NE(c.Get((base + "drawing").c_str())->body.find("\"" + gone + "\""), std::string::npos);
    const json deleted = parsed(postJson(c, base + "edit", {{"op", "delete"}}));
    EXPECT_EQ(deleted["command"], "Delete");
    EXPECT_EQ(deleted["edit"]["changed"], chosen["count"]) << deleted;
    EXPECT_EQ(deleted["count"], 0);
    EXPECT_GT(deleted["revision"].get<int>(), chosen["revision"].get<int>());
    for (const char* route : {"svg", "drawing"})
        EXPECT_EQ(c.Get((base + route).c_str())->body.find("\"" + gone + "\""), std::string::npos) << route;

    const json undone = parsed(postJson(c, base + "undo", json::object()));
    EXPECT_EQ(undone["command"], "Undo " + deleted["undo"].get<std::string>());
    EXPECT_EQ(undone["selected"], chosen["selected"]) << "the deleted objects come back selected";
    EXPECT_GT(undone["revision"].get<int>(), deleted["revision"].get<int>());
    EXPECT_EQ(undone["redo"], deleted["undo"]);
    EXPECT_NE(saved()->body.find("\"" + gone + "\""), std::string::npos);
    const json before = parsed(postJson(c, base + "undo", json::object()));
    EXPECT_EQ(before["count"], 0) << "the command's selection undone";
    EXPECT_TRUE(before["undo"].is_null());
    EXPECT_EQ(before["redo"], "Open Paths");
    EXPECT_EQ(parsed(postJson(c, base + "redo", json::object()))["selected"], chosen["selected"]);
    EXPECT_EQ(parsed(postJson(c, base + "redo", json::object()))["count"], 0);
    EXPECT_EQ(c.Get((base + "svg").c_str())->body.find("\"" + gone + "\""), std::string::npos);
    c.Delete(("/api/documents/" + id).c_str());
}

// While a dialog is open, nothing changes a document: every route that
// would is refused with the open dialog, and the document is as it was.
TEST_F(ServeApi, NoDocumentChangesWhileADialogIsOpen) {
    httplib::Client c = server_->client();
    const std::string id = upload(fileText(kSample), "sample.svg"), base = "/api/documents/" + id + "/";
    ASSERT_EQ(postJson(c, base + "menu", {{"item", "Groups"}})->status, 200);
    const json before = parsed(c.Get((base + "state").c_str()));
    ASSERT_EQ(postJson(c, base + "menu", {{"item", "Brindle..."}})->status, 202);
    const json bodies = {{"selection", {{"op", "all"}}}, {"pick", {{"rect", {0, 0, 1000, 1000}}}},
                         {"layers/0", {{"visible", false}}}, {"edit", {{"op", "delete"}}}};
    for (const json& r : rows("serve_api", "whileADialogIsOpen")) {
        const std::string route = r[1];
        auto answer = r[0] == "GET" ? c.Get((base + route).c_str())
                                    : postJson(c, base + route, bodies.value(route, json::object()));
        EXPECT_EQ(answer->status, 409) << route << ": " << answer->body;
        EXPECT_TRUE(parsed(answer)["dialog"].is_object()) << route;
    }
    ASSERT_EQ(postJson(c, "/api/dialog/press", {{"item", 1}})->status, 200);
    const json after = parsed(c.Get((base + "state").c_str()));
    for (const char* field : {"revision", "layers", "undo"}) EXPECT_EQ(after[field], before[field]) << field;
    EXPECT_EQ(keysOf(after), keysOf(before));
    EXPECT_EQ(parsed(postJson(c, base + "selection", {{"op", "reselect"}}))["command"], "Groups")
        << "Reselect runs the last command on the drawing, not About";
    c.Delete(("/api/documents/" + id).c_str());
}

TEST_F(ServeApi, ThePageComesWithAStrictPolicy) {
    httplib::Client c = server_->client();
    auto page = c.Get("/");
    ASSERT_EQ(page->status, 200);
    EXPECT_EQ(page->get_header_value("Content-Type"), "text/html; charset=utf-8");
    EXPECT_EQ(page->get_header_value("Content-Security-Policy"),
              "default-src 'self'; img-src 'self' blob: data:; style-src 'self'; script-src 'self'");
    auto script = c.Get("/assets/app.js");
    ASSERT_EQ(script->status, 200);
    EXPECT_EQ(script->get_header_value("Content-Type"), "text/javascript; charset=utf-8");
}

// The reader's refusals come back as the command line words them.
TEST_F(ServeApi, BadDrawingsAreRefusedWithTheCommandLinesMessage) {
    httplib::Client c = server_->client();
    for (const char* bad : {"malformed.svg", "not-svg.svg", "empty.svg", "billion-laughs.svg", "blank.svg"}) {
        const std::string path = std::string(WENDLOW_SOURCE_DIR) + "/tests/data/svg/bad/" + bad;
        const cli_test::Outcome cli = simhost({"select", path, "Groups"});
        ASSERT_EQ(cli.code, 2) << bad;
        auto r = c.Post(("/api/documents?name=" + path).c_str(), fileText(path), "image/svg+xml");
        EXPECT_EQ(r->status, 400) << bad;
        EXPECT_EQ("simhost: " + parsed(r)["error"].get<std::string>() + "\n", cli.out + cli.err) << bad;
    }
}

// A row's body: its text, or ["spaces" | "gzip zeros" | "gzip drawing", size, bytes kept].
std::string bodyOf(const json& body) {
    if (body.is_string()) return body;
    const std::string kind = body[0];
    const std::size_t size = body[1];
    const std::string made = kind == "spaces"       ? std::string(size, ' ')
                             : kind == "gzip zeros" ? gzipped(std::string(size, '\0'))
                                                    : gzipped(drawingOfSize(size));
    return body.size() > 2 ? made.substr(0, body[2].get<std::size_t>()) : made;
}

// `text` with each {port} the server's port.
std::string withPort(std::string text, const std::string& port) {
    for (std::size_t at; (at = text.find("{port}")) != std::string::npos;) text.replace(at, 6, port);
    return text;
}

// Each bad request gets its status and an error naming what was wrong; a
// compressed upload is measured as it inflates, never held whole.
TEST_F(ServeApi, BadRequestsGetAClearError) {
    httplib::Client c = server_->client();
    const std::string port = std::to_string(server_->port());
    const long peakBefore = server_->statusKiB("VmHWM");
    for (const json& r : rows("serve_api", "badRequests")) {
        const std::string method = r[0], path = r[1];
        httplib::Request req;
        req.method = method;
        req.path = path;
        req.body = bodyOf(r[3]);
        for (const json& h : r[4]) req.set_header(h[0].get<std::string>(), withPort(h[1], port));
        if (!r[2].is_null()) req.set_header("Content-Type", r[2].get<std::string>());
        auto answer = c.send(req);
        ASSERT_TRUE(answer) << method << " " << path;
        EXPECT_EQ(answer->status, r[5]) << method << " " << path << ": " << answer->body;
        const json error = parsed(answer);
        const bool hasError = error.is_object() && error.contains("error") && error["error"].is_string();
        EXPECT_TRUE(hasError) << path << ": " << answer->body;
        if (!hasError) continue;
        EXPECT_NE(error["error"].get<std::string>().find(r[6].get<std::string>()), std::string::npos) << error;
    }
    EXPECT_LT(server_->statusKiB("VmHWM") - peakBefore, 16 * 1024) << "KiB more at the peak";
}

// Framing the library's client will not send; well framed, the drawing is kept.
TEST_F(ServeApi, BadFramingIsRefusedAndGoodFramingKept) {
    const std::string port = std::to_string(server_->port());
    const std::string svg = "<svg xmlns=\"http://www.w3.org/2000/svg\"/>", n = std::to_string(svg.size());
    const std::pair<std::string, const char*> framing[] = {
        {"Content-Length: -1", "400"}, {"Content-Length: 1x", "400"}, {"Content-Length: " + n + "\r\nTransfer-Encoding: chunked", "400"},
        {"Transfer-Encoding: gzip", "400"}, {"Content-Length: " + n, "201"}};
    for (const auto& [headers, status] : framing) {
        const int fd = connectTo(server_->port());
        sendAll(fd, "POST /api/documents?name=f.svg HTTP/1.1\r\nHost: 127.0.0.1:" + port +
                        "\r\nContent-Type: image/svg+xml\r\nConnection: close\r\n" + headers + "\r\n\r\n" + svg);
        EXPECT_EQ(statusOn(fd), status) << headers;
    }
}

// A body cut short, then the connection gone: nothing to answer, and the
// server goes on.
TEST_F(ServeApi, AnAbandonedUploadLeavesTheServerGoingOn) {
    httplib::Client c = server_->client();
    const std::string port = std::to_string(server_->port());
    const int fd = connectTo(server_->port());
    sendAll(fd, "POST /api/documents HTTP/1.1\r\nHost: 127.0.0.1:" + port +
                    "\r\nContent-Type: image/svg+xml\r\nContent-Length: 5000\r\n\r\n<svg");
    close(fd);
    EXPECT_EQ(c.Get("/api/menus")->status, 200);
    EXPECT_EQ(c.Get(("/api/menus")).value().get_header_value("X-Content-Type-Options"), "nosniff");
    EXPECT_TRUE(server_->running());
}

// Host and Origin name this server exactly: its address or, on loopback,
// localhost, with its port; nothing that merely begins like it.
TEST(ServeChecks, HostAndOriginNameThisServerExactly) {
    using simhost_serve::Listening;
    const Listening v4{"127.0.0.1", 8731, 0}, v6{"::1", 8731, 0}, any{"0.0.0.0", 8731, 0}, web{"127.0.0.1", 80, 0};
    const std::map<std::string, const Listening*> where = {{"v4", &v4}, {"v6", &v6}, {"any", &any}, {"web", &web}};
    for (const json& c : rows("serve_api", "hosts")) {
        const std::string host = c[1];
        EXPECT_EQ(simhost_serve::hostHeaderAllowed(host, *where.at(c[0])), c[2]) << c[0] << " " << host;
        EXPECT_EQ(simhost_serve::originAllowed("http://" + host, *where.at(c[0])), c[2]) << host;
    }
    // An Origin is the scheme and the host, nothing more.
    for (const char* origin : {"https://127.0.0.1:8731", "null", "http://127.0.0.1:8731/", "http://u@127.0.0.1:8731",
                               "127.0.0.1:8731", "http:/127.0.0.1:8731"})
        EXPECT_FALSE(simhost_serve::originAllowed(origin, v4)) << origin;
    EXPECT_TRUE(simhost_serve::originAllowed("HTTP://LocalHost:8731", v4));
}

// On a signal the server takes no new work, answers the uploads in flight
// with 503 (never a 201 for a document about to vanish), a stalled one when
// its read times out, and exits 0; a second signal exits at once, 128 + its
// number.
TEST(ServeShutdown, UploadsInFlightGet503AndASecondSignalHurries) {
    using namespace std::chrono_literals;
    const struct { bool secondSignal; int status; } cases[] = {{false, 0}, {true, 128 + SIGINT}};
    for (const auto& t : cases) {
        ServerProcess server;
        const std::string head = "POST /api/documents?name=slow.svg HTTP/1.1\r\nHost: 127.0.0.1:" +
                                 std::to_string(server.port()) +
                                 "\r\nContent-Type: image/svg+xml\r\nContent-Length: 1000000\r\n\r\n"
                                 "<svg xmlns=\"http://www.w3.org/2000/svg\">";
        const int stalled = connectTo(server.port()), trickling = connectTo(server.port());
        ASSERT_TRUE(sendAll(stalled, head) && sendAll(trickling, head));
        httplib::Client idle = server.client();
        idle.set_keep_alive(true);
        ASSERT_EQ(idle.Get("/api/menus")->status, 200);
        std::atomic<bool> stop{false};
        std::thread trickle([&] {
            for (int i = 0; i < 300 && !stop && sendAll(trickling, "<g/>"); ++i) std::this_thread::sleep_for(50ms);
        });
        std::this_thread::sleep_for(300ms);
        kill(server.pid(), SIGTERM);
        if (t.secondSignal) {
            std::this_thread::sleep_for(300ms);
            kill(server.pid(), SIGINT);
        }
        EXPECT_EQ(server.wait(), t.status);
        stop = true;
        trickle.join();
        EXPECT_EQ(statusOn(trickling), "503");
        // Its read times out after seconds the second signal does not wait for.
        EXPECT_EQ(statusOn(stalled), t.secondSignal ? "" : "503");
    }
}

// Every subcommand answers -h and --help with its usage, and exit 0.
TEST(ServeHelp, EverySubcommandAnswersHelp) {
    for (const char* subcommand : {"serve", "validate", "select", "menus", "about"})
        for (const char* flag : {"-h", "--help"}) {
            const cli_test::Outcome run = simhost({subcommand, flag});
            EXPECT_EQ(run.code, 0) << subcommand << " " << flag << ": " << run.err;
            EXPECT_EQ((run.out + run.err).find("usage: simhost"), 0u) << subcommand << " " << flag << ": " << run.out;
        }
}

// Shutdown walks away from an open dialog instead of waiting for it.
TEST(ServeShutdown, ASignalEndsTheServerWhileADialogWaits) {
    ServerProcess server;  // which checks the banner
    httplib::Client c = server.client();
    ASSERT_EQ(postJson(c, "/api/documents/d1/menu", {{"item", "Brindle..."}})->status, 202);
    EXPECT_EQ(server.stop(SIGINT), 0);
    EXPECT_EQ(server.stderrText(), "");
}

}  // namespace
