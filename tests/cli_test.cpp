// The simhost command line end to end: the built binary run as a user runs
// it, its output, files and exit codes checked.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#if WENDLOW_BUILD_SVG
#include <zlib.h>

#include <pugixml.hpp>
#endif

#include "Tables.h"
#include "cli_support.h"

namespace {

using namespace cli_test;
using ::testing::Not;
using test_tables::rows;

const std::string kExamples = WENDLOW_SOURCE_DIR "/examples";

const std::vector<std::string> kCommands = {
    "Guides",         "All Paths",       "Open Paths",     "Closed Paths",        "Filled Paths",
    "Unfilled Paths", "Stroked Paths",   "Unstroked Paths", "Dashed Paths",       "Undashed Paths",
    "Compound Paths", "Groups",          "Plugin Groups",  "Meshes",              "Plugin Group Meshes",
    "Symbol Instances", "Rasters",       "Placed Objects"};

// ---- What the plug-in installed ----------------------------------------------

TEST(CliBasics, VersionHelpMenusAndAbout) {
    for (const char* flag : {"--version", "-V", "version"}) {
        const Outcome version = simhost({flag});
        EXPECT_EQ(version.code, 0) << flag;
        EXPECT_EQ(version.out, "simhost 1.0.0\n") << flag;
    }
    for (const char* flag : {"--help", "-h", "help"}) {
        const Outcome help = simhost({flag});
        EXPECT_EQ(help.code, 0) << flag;
        EXPECT_THAT(help.out, HasSubstr("simhost select FILE... COMMAND")) << flag;
        EXPECT_THAT(help.out, HasSubstr("exit status: 0 success; 1 the plug-in returned an error code")) << flag;
    }

    const Outcome menus = simhost({"menus"});
    EXPECT_EQ(menus.code, 0) << menus.err;
    std::vector<std::string> expected = {"[SelectObject]"};
    for (const std::string& text : kCommands) expected.push_back("  " + text);
    for (const char* line : {"[About]", "  About Wendlow Plug-ins", "    [WendlowAboutPluginsGroupName]", "      Brindle..."})
        expected.push_back(line);
    EXPECT_EQ(lines(menus.out), expected);  // the host's own empty groups are not shown
    // The same tree as JSON: the plug-in's items in menu order, and the About
    // item holding the shared group.
    const Outcome menusJson = simhost({"menus", "--json"});
    EXPECT_EQ(menusJson.code, 0) << menusJson.err;
    const json tree = json::parse(menusJson.out);
    std::vector<std::string> texts;
    for (const json& item : tree.at("groups").at(0).at("items")) texts.push_back(item.at("text"));
    EXPECT_EQ(tree["groups"][0]["name"], "SelectObject");
    EXPECT_EQ(texts, kCommands);
    EXPECT_EQ(tree["groups"][1]["items"][0]["submenu"], "WendlowAboutPluginsGroupName");
    EXPECT_EQ(tree["groups"][1]["groups"][0]["items"][0]["text"], "Brindle...");

    const Outcome about = simhost({"about"});
    EXPECT_EQ(about.code, 0) << about.err;
    EXPECT_THAT(about.out, HasSubstr("| About Wendlow Brindle"));
    EXPECT_THAT(about.out, HasSubstr("| Version 1.0.0"));
    EXPECT_THAT(about.out, HasSubstr("[ OK ] |"));
}

TEST(CliBasics, BadUsageIsExitCodeTwoWithAReason) {
    std::string all = "unknown command \"All Triangles\"; the commands are:\n";
    for (const std::string& text : kCommands) all += "  " + text + "\n";
    const Values values = {{"sample", kExamples + "/sample.json"}, {"source", WENDLOW_SOURCE_DIR}, {"all", all}};
    for (const json& c : rows("cli", "badUsage"))
        expectRefused(simhost(expandEach(c[0], values)), expand(c[1], values));
}

TEST(CliBasics, ConventionsOfTheArguments) {
    const std::string sample = kExamples + "/sample.json";
    const std::string expected = simhost({"select", sample, "Open Paths", "--json"}).out;
    ASSERT_THAT(expected, HasSubstr("\"command\": \"Open Paths\""));
    for (const json& row : rows("cli", "conventions")) {
        const std::vector<std::string> args = expandEach(row, {{"sample", sample}, {"plugin", WENDLOW_PLUGIN_PATH}});
        const Outcome run = simhost(args);
        EXPECT_EQ(run.code, 0) << args[2] << run.err;
        EXPECT_EQ(run.out, expected) << args[0] << " " << args[1] << " " << args[2];
    }
    // After --, a name that looks like an option is a file.
    const std::string dir = scratch("dash");
    fs::copy_file(sample, dir + "/-o");
    const Outcome dash = simhost({"select", "--", dir + "/-o", "Rasters"});
    EXPECT_EQ(dash.out, "tile-embedded\n") << dash.err;
}

// ---- Commands on JSON documents ----------------------------------------------------

// Every selected object, in document order, under any case of the menu
// text: a plugin group with what the command selected inside it, its result
// group's art (not its edit art, "fountain-basin"). Drawings and documents
// are told by their content, not their names; compressed ones are inflated.
TEST(CliSelect, PrintsTheSelectionInDocumentOrder) {
    const std::string sample = kExamples + "/sample.json", dir = scratch("names");
    fs::copy_file(sample, dir + "/document.txt");
#if WENDLOW_BUILD_SVG
    fs::copy_file(kExamples + "/sample.svg", dir + "/drawing.xml");
    const std::string plain = readFile(kExamples + "/sample.svg");
    gzFile gz = gzopen((dir + "/sample.svgz").c_str(), "wb");
    ASSERT_NE(gz, nullptr);
    gzwrite(gz, plain.data(), static_cast<unsigned>(plain.size()));
    gzclose(gz);
#endif
    for (const auto& [args, out] : std::vector<std::pair<std::vector<std::string>, std::string>>{
             {{"select", sample, "plugin GROUP meshes"}, "fountain-water\n"},
             {{"select", dir + "/document.txt", "Rasters"}, "tile-embedded\n"},
             {{"select", sample, "Plugin Groups"},
              "fountain\nfountain-result\nfountain-water\nfountain-rim\nfountain-spray\nfountain-jet\n"},
#if WENDLOW_BUILD_SVG
             {{"select", kExamples + "/sample.svg", "Open Paths"}, "fence-rail\n/svg/g[2]/g[2]/polyline[1]\ngarden-path\n"},
             {{"select", kExamples + "/sample.svg", "Unstroked Paths"}, "ground\nsun\npond\nstray-seed\n"},
             {{"select", dir + "/drawing.xml", "Rasters"}, "tile-embedded\n"},
             {{"select", dir + "/sample.svgz", "Meshes"}, "sky\n"},
#endif
         }) {
        const Outcome run = simhost(args);
        EXPECT_EQ(run.code, 0) << args[1] << " " << args[2] << run.err;
        EXPECT_EQ(run.out, out) << args[1] << " " << args[2];
    }
}

TEST(CliSelect, JsonOutputOfOneCommandAndOfAll) {
    const Outcome one = simhost({"select", kExamples + "/sample.json", "Guides", "--json"});
    EXPECT_EQ(one.code, 0) << one.err;
    ASSERT_EQ(lines(one.out).size(), 1u);
    EXPECT_EQ(json::parse(one.out), json::parse(R"({"file": ")" + kExamples + R"(/sample.json", "command": "Guides",
        "result": "ok", "code": "0", "codeNumber": 0, "count": 1,
        "selected": [{"id": "guide-horizon", "type": "path", "layer": "Guides", "matched": true}], "dialogs": []})"));

    // --all: one line per command, each the shape of the single one.
    const Outcome all = simhost({"select", kExamples + "/sample.json", "--all", "--json"});
    EXPECT_EQ(all.code, 0) << all.err;
    std::vector<json> every;
    for (const std::string& line : lines(all.out)) every.push_back(json::parse(line));
    ASSERT_EQ(every.size(), kCommands.size());
    for (std::size_t i = 0; i < kCommands.size(); ++i) {
        EXPECT_EQ(every[i]["command"], kCommands[i]);
        EXPECT_EQ(every[i]["result"], "ok");
        EXPECT_EQ(every[i]["count"], every[i]["selected"].size());
    }
    EXPECT_EQ(all.out.substr(0, all.out.find('\n') + 1), one.out);
    // Each command runs on the document as it was read: the guide that
    // "Guides" selected (and no command can unselect) is not in "All Paths".
    for (const json& object : every[1]["selected"]) EXPECT_NE(object["id"], "guide-horizon");
    EXPECT_EQ(every[12]["selected"].size(), 6u);
}

TEST(CliSelect, APlugInErrorIsExitCodeOneWithItsErrorDialog) {
    const Outcome run = simhost({"--host-fault", "get-path-style", "select", kExamples + "/sample.json", "All Paths"});
    EXPECT_EQ(run.code, 1);
    EXPECT_THAT(run.err, HasSubstr("\"All Paths\" returned error FALT (1178684500)"));
    EXPECT_THAT(run.err, HasSubstr("| The host could not complete a request (simulated failure)."));
    EXPECT_THAT(run.err, HasSubstr("| FALT"));

    const Outcome json = simhost({"--host-fault", "get-path-style", "select", kExamples + "/sample.json", "Open Paths",
                              "--json"});
    EXPECT_EQ(json.code, 1);
    const auto result = json::parse(json.out);
    EXPECT_EQ(result["result"], "error");
    EXPECT_EQ(result["code"], "FALT");
    EXPECT_EQ(result["codeNumber"], 0x46414C54);
    ASSERT_EQ(result["dialogs"].size(), 1u);
    EXPECT_EQ(result["dialogs"][0]["name"], "Error Dialog");
    EXPECT_EQ(result["dialogs"][0]["items"][2]["text"], "FALT");
}

// An object selected before a command that the command never selects (a
// guide: the deselect leaves guides alone) is "kept", never "matched"; one
// the command selects again is matched, whatever it was before.
TEST(CliSelect, ObjectsLeftSelectedAreKeptNotMatched) {
    const std::string file = scratch("kept") + "/guide-selected.json";
    std::string text = readFile(kExamples + "/sample.json");
    const std::string guide = R"("id": "guide-horizon", "guide": true)";
    ASSERT_NE(text.find(guide), std::string::npos);
    text.replace(text.find(guide), guide.size(), guide + R"(, "selected": true)");
    std::ofstream(file) << text;
    for (const json& row : rows("cli", "kept")) {
        const Outcome run = simhost({"select", file, row[0], "--json"});
        ASSERT_EQ(run.code, 0) << run.err;
        const json result = json::parse(run.out);
        const auto& selected = result["selected"];
        const auto it = std::find_if(selected.begin(), selected.end(), [&](const json& s) { return s["id"] == row[1]; });
        ASSERT_NE(it, selected.end()) << row[0] << " left " << row[1] << " unselected";
        EXPECT_EQ((*it)["matched"], row[2]) << row[0] << ": " << row[1];
        EXPECT_EQ(it->value("kept", false), row[3]) << row[0] << ": " << row[1];
        EXPECT_EQ(it->contains("kept"), row[3]) << "\"kept\" is written only when true";
    }
}

// Unreadable documents, named or in a folder, are exit code two with a line
// each; a folder's results come in a stable order with a summary.
TEST(CliBatch, OneResultPerDocumentInAStableOrderAndALinePerUnreadable) {
    const std::string dir = scratch("batch");
    fs::create_directories(dir + "/sub");
    fs::copy_file(kExamples + "/sample.json", dir + "/b.json");
    fs::copy_file(kExamples + "/sample.json", dir + "/sub/a.JSON");
    std::ofstream(dir + "/notes.txt") << "not a document";
    std::ofstream(dir + "/broken.json") << "{\"layers\": [";
    std::ofstream(dir + "/c.json") << "[]";
    std::string deep = "{\"layers\": [{\"art\": [";
    for (int i = 0; i < 2000; ++i) deep += "{\"type\": \"group\", \"children\": [";
    for (int i = 0; i < 2000; ++i) deep += "]}";
    std::ofstream(dir + "/deep.json") << deep << "]}]}";
    for (const std::string& file : {dir + "/missing.json", dir + "/broken.json", dir + "/deep.json"}) {
        const Outcome run = simhost({"select", file, "Groups"});
        EXPECT_EQ(run.code, 2) << file;
        EXPECT_EQ(lines(run.err).size(), 1u) << run.err;
        EXPECT_THAT(run.err, HasSubstr(file));
    }
    EXPECT_THAT(simhost({"select", dir + "/deep.json", "Groups"}).err, HasSubstr("nested more than 1024 levels"));

    const Outcome run = simhost({"select", dir, "Rasters", "--type", "json", "--summary"});
    EXPECT_EQ(run.code, 2);
    EXPECT_EQ(lines(run.out), (std::vector<std::string>{
                                  "== " + dir + "/b.json: 1 selected", "tile-embedded",
                                  "== " + dir + "/broken.json: unreadable", "== " + dir + "/c.json: unreadable",
                                  "== " + dir + "/deep.json: unreadable",
                                  "== " + dir + "/sub/a.JSON: 1 selected", "tile-embedded",
                                  "Summary: 5 documents, 2 read, 3 unreadable",
                                  "  Rasters: 2 objects selected in 2 documents"}));
    EXPECT_EQ(lines(run.err).size(), 3u) << run.err;
    EXPECT_THAT(run.err, HasSubstr("c.json"));
    EXPECT_THAT(run.err, Not(HasSubstr("\r")));  // no progress line when stderr is no terminal

    const Outcome json = simhost({"select", dir + "/b.json", dir + "/sub", "--all", "--json", "--type=json"});
    EXPECT_EQ(json.code, 0) << json.err;
    const std::vector<std::string> rows = lines(json.out);
    ASSERT_EQ(rows.size(), 2 * kCommands.size());  // no summary without --summary
    EXPECT_EQ(json::parse(rows[kCommands.size()])["file"], dir + "/sub/a.JSON");
}

#if WENDLOW_BUILD_SVG

// ---- SVG drawings -------------------------------------------------------------------

std::string field(const std::string& row, std::size_t index) {
    std::istringstream in(row);
    std::vector<std::string> words;
    for (std::string w; in >> w;) words.push_back(w);
    return index < words.size() ? words[index] : std::string();
}

TEST(CliDemo, RunsEveryCommandOnTheSampleDrawing) {
    const Outcome run = simhost({});
    EXPECT_EQ(run.code, 0) << run.err;
    EXPECT_THAT(run.out, HasSubstr("[SelectObject]\n  Guides\n  All Paths\n"));
    EXPECT_THAT(run.out, HasSubstr("The sample drawing examples/sample.svg: 31 objects on 6 layers"));
    const std::vector<std::string> all = lines(run.out);
    const auto header = std::find_if(all.begin(), all.end(), [](const std::string& l) { return l.rfind("Command ", 0) == 0; });
    ASSERT_NE(header, all.end());
    ASSERT_EQ(all.end() - header, 1 + static_cast<long>(kCommands.size()));
    std::string counts;
    for (std::size_t i = 0; i < kCommands.size(); ++i) {
        const std::string& row = *(header + 1 + static_cast<long>(i));
        ASSERT_EQ(row.rfind(kCommands[i], 0), 0u) << row;
        counts += (i ? " " : "") + field(row.substr(kCommands[i].size()), 0);
    }
    EXPECT_EQ(counts, "2 13 3 10 10 3 9 4 3 10 3 12 0 1 0 2 1 1");  // the third guide is locked
}

// A PNG's width, from its header.
std::uint32_t pngWidth(const std::string& png) {
    if (png.size() < 24) return 0;
    std::uint32_t width = 0;
    for (int i = 16; i < 20; ++i) width = width << 8 | static_cast<unsigned char>(png[static_cast<std::size_t>(i)]);
    return width;
}

TEST(CliSvg, WritesTheDrawingWithOneOutlinePerSelectedObjectAndItsPicture) {
    const std::string dir = scratch("marked");
    const std::string sample = kExamples + "/sample.svg";
    const std::string before = readFile(sample);
    const Outcome run = simhost({"select", sample, "Groups", "-o", dir + "/groups.svg", "--png", dir + "/groups.png",
                                 "--png-width=300", "--png-area", "selection", "--no-dim", "--png-background", "none"});
    EXPECT_EQ(run.code, 0) << run.err;
    const std::vector<std::string> ids = lines(run.out);
    ASSERT_EQ(ids.size(), 12u);
    EXPECT_EQ(pngWidth(readFile(dir + "/groups.png")), 300u);

    pugi::xml_document marked;
    ASSERT_TRUE(marked.load_file((dir + "/groups.svg").c_str()));
    std::vector<std::string> outlined;
    for (const pugi::xpath_node& n : marked.select_nodes("//*[@class='simhost-outline']"))
        outlined.push_back(n.node().attribute("data-simhost-id").value());
    EXPECT_EQ(outlined, ids);
    // The drawing underneath is the one read, byte for byte, and the input
    // is left as it was.
    const std::string written = readFile(dir + "/groups.svg");
    const std::size_t end = before.rfind("</svg>");
    EXPECT_EQ(written.substr(0, end), before.substr(0, end));
    EXPECT_EQ(readFile(sample), before);

    // "-" reads standard input, and the drawing it read can still be marked.
    RunOptions piped;
    piped.prefix = {"sh", "-c", "exec \"$0\" \"$@\" < " + sample};
    const Outcome fromStdin = simhost({"select", "-", "Groups", "-o", dir + "/stdin.svg"}, piped);
    EXPECT_EQ(fromStdin.code, 0) << fromStdin.err;
    EXPECT_EQ(fromStdin.out, run.out);
    EXPECT_EQ(readFile(dir + "/stdin.svg"), written);

    const Outcome guides = simhost({"select", sample, "Guides", "-o", dir + "/guides.svg"});
    EXPECT_EQ(guides.code, 0);
    EXPECT_THAT(readFile(dir + "/guides.svg"), HasSubstr("data-simhost-id=\"guide-middle\"><line"));
}

// Every id attribute of the drawing at `path`, in document order.
std::vector<std::string> idsIn(const std::string& path) {
    pugi::xml_document doc;
    EXPECT_TRUE(doc.load_file(path.c_str())) << path;
    std::vector<std::string> ids;
    for (const pugi::xpath_node& n : doc.select_nodes("//*[@id]")) ids.push_back(n.node().attribute("id").value());
    return ids;
}

TEST(CliEdit, EachEditIsSavedAndTheSelectionExported) {
    const std::string dir = scratch("edits");
    const std::string paths = WENDLOW_SOURCE_DIR "/tests/data/cli/batch/paths.svg";
    for (const json& c : rows("cli", "edits")) {
        const std::string saved = dir + "/saved.svg", exported = dir + "/exported.svg";
        fs::remove(saved);
        fs::remove(exported);
        std::vector<std::string> args = {"select", paths, c[0], "--json", "--save", saved, "--export-selection", exported};
        for (const json& option : c[1]) args.push_back(option);
        const Outcome run = simhost(args);
        ASSERT_EQ(run.code, 0) << c << run.err;
        EXPECT_EQ(run.err, "") << c;
        const json answer = json::parse(run.out);
        EXPECT_EQ(answer.value("edits", json()), c[2]) << c;
        EXPECT_EQ(answer["saved"], saved) << c;
        EXPECT_EQ(answer["exported"], exported) << c;
        EXPECT_EQ(idsIn(saved), c[3].get<std::vector<std::string>>()) << c;
        pugi::xml_document doc;
        ASSERT_TRUE(doc.load_file(saved.c_str())) << c;
        for (const json& xpath : c[4]) EXPECT_TRUE(doc.select_node(xpath.get<std::string>().c_str())) << c << xpath;
        EXPECT_EQ(idsIn(exported), c[5].get<std::vector<std::string>>()) << c;
    }
}

TEST(CliEdit, UnsavedEditsWriteNothingAndSavesNameTheirFiles) {
    const std::string dir = scratch("edit-outputs");
    const std::string sample = kExamples + "/sample.svg";
    // An edit without --save says how to save, and changes nothing else.
    const Outcome plain = simhost({"select", sample, "Open Paths"});
    const Outcome unsaved = simhost({"select", sample, "Open Paths", "--delete"});
    EXPECT_EQ(unsaved.code, plain.code);
    EXPECT_EQ(unsaved.out, plain.out);
    EXPECT_EQ(lines(unsaved.err), std::vector<std::string>{
        "simhost: the edit is not written anywhere: add --save OUT.svg (or DIR, or - for stdout)"});
    // --save with no edit writes the drawing as read; to a directory, under
    // the input's name; - is standard output, alone.
    const Outcome asRead = simhost({"select", sample, "Groups", "--save", dir});
    EXPECT_EQ(asRead.code, 0) << asRead.err;
    EXPECT_EQ(readFile(dir + "/sample.svg"), readFile(sample));
    const Outcome toStdout = simhost({"select", sample, "Groups", "--hide", "--save", "-"});
    EXPECT_EQ(toStdout.code, 0) << toStdout.err;
    EXPECT_THAT(toStdout.out, HasSubstr("display:none"));
    EXPECT_EQ(toStdout.out.substr(0, 40), readFile(sample).substr(0, 40));
    EXPECT_EQ(readFile(sample), readFile(dir + "/sample.svg"));  // the input is never written
    // A JSON document is no drawing to save, said before the command runs.
    for (const char* option : {"--save", "--export-selection"}) {
        const Outcome json = simhost({"select", kExamples + "/sample.json", "Groups", option, dir + "/x.svg"});
        EXPECT_EQ(json.code, 2) << option;
        EXPECT_THAT(json.err, HasSubstr("a JSON document is no drawing: --save and --export-selection")) << option;
        EXPECT_EQ(json.out, "") << option;
        EXPECT_FALSE(fs::exists(dir + "/x.svg")) << option;
    }
}

#endif  // WENDLOW_BUILD_SVG

}  // namespace
