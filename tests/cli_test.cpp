// The simhost command line end to end: the built binary run as a user runs
// it, its output, files and exit codes checked.
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <algorithm>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <fstream>
#include <regex>
#include <sstream>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#if WENDLOW_BUILD_SVG
#include <zlib.h>

#include <pugixml.hpp>
#endif

extern char** environ;

namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;
using nlohmann::json;
namespace fs = std::filesystem;

const std::string kExamples = WENDLOW_SOURCE_DIR "/examples";
const std::string kFixtures = WENDLOW_SOURCE_DIR "/tests/data/svg";

const std::vector<std::string> kCommands = {
    "Guides",         "All Paths",       "Open Paths",     "Closed Paths",        "Filled Paths",
    "Unfilled Paths", "Stroked Paths",   "Unstroked Paths", "Dashed Paths",       "Undashed Paths",
    "Compound Paths", "Groups",          "Plugin Groups",  "Meshes",              "Plugin Group Meshes",
    "Symbol Instances", "Rasters",       "Placed Objects"};

struct Outcome {
    int code = -1;
    std::string out, err;
};

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> result;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) result.push_back(line);
    return result;
}

// A scratch directory of the test's own.
std::string scratch(const std::string& name) {
    const std::string dir = ::testing::TempDir() + "simhost-cli-" + name;
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}

// Runs the built simhost (under the cross build's emulator, if any) with
// its output in files, so that no pipe can fill up.
Outcome simhost(const std::vector<std::string>& args) {
    std::vector<std::string> command;
    std::string emulator = WENDLOW_EMULATOR;
    for (std::size_t start = 0; !emulator.empty() && start <= emulator.size();) {
        const std::size_t end = std::min(emulator.find('|', start), emulator.size());
        command.push_back(emulator.substr(start, end - start));
        start = end + 1;
    }
    command.push_back(WENDLOW_SIMHOST);
    command.insert(command.end(), args.begin(), args.end());

    const std::string out = ::testing::TempDir() + "simhost-cli.out";
    const std::string err = ::testing::TempDir() + "simhost-cli.err";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<char*> argv;
    for (std::string& a : command) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    Outcome run;
    if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0) {
        int status = 0;
        waitpid(pid, &status, 0);
        run.code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    posix_spawn_file_actions_destroy(&actions);
    run.out = readFile(out);
    run.err = readFile(err);
    return run;
}

// ---- What the plug-in installed ----------------------------------------------

TEST(CliBasics, VersionHelpMenusAndAbout) {
    const Outcome version = simhost({"--version"});
    EXPECT_EQ(version.code, 0);
    EXPECT_EQ(version.out, "simhost 1.0.0\n");

    const Outcome help = simhost({"--help"});
    EXPECT_EQ(help.code, 0);
    EXPECT_THAT(help.out, HasSubstr("simhost select FILE... COMMAND"));

    const Outcome menus = simhost({"menus"});
    EXPECT_EQ(menus.code, 0) << menus.err;
    std::vector<std::string> expected = {"[SelectObject]"};
    for (const std::string& text : kCommands) expected.push_back("  " + text);
    for (const char* line : {"[About]", "  About Wendlow Plug-ins", "    [WendlowAboutPluginsGroupName]", "      Brindle..."})
        expected.push_back(line);
    EXPECT_EQ(lines(menus.out), expected);  // the host's own empty groups are not shown

    const Outcome about = simhost({"about"});
    EXPECT_EQ(about.code, 0) << about.err;
    EXPECT_THAT(about.out, HasSubstr("| About Wendlow Brindle"));
    EXPECT_THAT(about.out, HasSubstr("| Version 1.0.0"));
    EXPECT_THAT(about.out, HasSubstr("[ OK ] |"));
}

TEST(CliBasics, BadUsageIsExitCodeTwoWithAReason) {
    struct Case {
        std::vector<std::string> args;
        const char* says;
    };
    const std::string sample = kExamples + "/sample.json";
    for (const Case& c : std::vector<Case>{
             {{"select"}, "select needs a FILE and a COMMAND"},
             {{"select", sample}, "select needs a FILE and a COMMAND"},
             {{"select", "--all"}, "select --all needs a FILE"},
             {{"select", sample, "Groups", "--frobnicate"}, "unknown option --frobnicate"},
             {{"select", sample, "Groups", "-o"}, "-o needs a file name"},
             {{"paint"}, "unknown subcommand \"paint\""},
             {{"menus", "extra"}, "menus takes no arguments"},
             {{"--plugin"}, "--plugin needs a value"},
             {{"--plugin", sample, "menus"}, "sample.json"},
             {{"--host-fault", "no-such-call", "select", sample, "Groups"}, "unknown host operation"},
             {{"select", sample, sample, "Groups", "-o", "x.svg"}, "-o and --png take one FILE and one COMMAND"},
             {{"select", WENDLOW_SOURCE_DIR "/cmake", "Groups"}, "no .svg, .svgz or .json documents found"},
         }) {
        const Outcome run = simhost(c.args);
        EXPECT_EQ(run.code, 2) << c.says;
        EXPECT_THAT(run.err, HasSubstr(c.says));
        EXPECT_EQ(run.out, "") << c.says;
    }
}

TEST(CliBasics, AnUnknownCommandListsTheValidOnes) {
    const Outcome run = simhost({"select", kExamples + "/sample.json", "All Triangles"});
    EXPECT_EQ(run.code, 2);
    EXPECT_THAT(run.err, HasSubstr("unknown command \"All Triangles\"; the commands are:"));
    for (const std::string& text : kCommands) EXPECT_THAT(run.err, HasSubstr("\n  " + text + "\n"));
}

// ---- Commands on JSON documents ----------------------------------------------------

TEST(CliSelect, ChoosesTheCommandByItsMenuTextInAnyCase) {
    const Outcome meshes = simhost({"select", kExamples + "/sample.json", "plugin GROUP meshes"});
    EXPECT_EQ(meshes.code, 0) << meshes.err;
    EXPECT_EQ(meshes.out, "fountain-water\n");

    // Every selected object, in document order: the plugin group with what
    // the command selected inside it, its result group's art (not its edit
    // art, "fountain-basin").
    const Outcome groups = simhost({"select", kExamples + "/sample.json", "Plugin Groups"});
    EXPECT_EQ(lines(groups.out), (std::vector<std::string>{"fountain", "fountain-result", "fountain-water",
                                                           "fountain-rim", "fountain-spray", "fountain-jet"}));
}

TEST(CliSelect, JsonOutputOfOneCommandAndOfAll) {
    const Outcome one = simhost({"select", kExamples + "/sample.json", "Guides", "--json"});
    EXPECT_EQ(one.code, 0) << one.err;
    const json result = json::parse(one.out);
    EXPECT_EQ(result["file"], kExamples + "/sample.json");
    EXPECT_EQ(result["command"], "Guides");
    EXPECT_EQ(result["result"], 0);
    EXPECT_EQ(result["selected"], json::parse(R"([{"id": "guide-horizon", "type": "path", "layer": "Guides"}])"));
    EXPECT_EQ(result["dialogs"], json::array());

    const Outcome all = simhost({"select", kExamples + "/sample.json", "--all", "--json"});
    EXPECT_EQ(all.code, 0) << all.err;
    const json every = json::parse(all.out);
    ASSERT_EQ(every["commands"].size(), kCommands.size());
    for (std::size_t i = 0; i < kCommands.size(); ++i) {
        EXPECT_EQ(every["commands"][i]["command"], kCommands[i]);
        EXPECT_EQ(every["commands"][i]["result"], 0);
    }
    // Each command runs on the document as it was read: the guide that
    // "Guides" selected (and no command can unselect) is not in "All Paths".
    for (const json& object : every["commands"][1]["selected"]) EXPECT_NE(object["id"], "guide-horizon");
    EXPECT_EQ(every["commands"][12]["selected"].size(), 6u);
}

TEST(CliSelect, APlugInErrorIsExitCodeOneWithItsErrorDialog) {
    const Outcome run = simhost({"--host-fault", "get-path-style", "select", kExamples + "/sample.json", "All Paths"});
    EXPECT_EQ(run.code, 1);
    EXPECT_THAT(run.err, HasSubstr("\"All Paths\" returned error 'FALT'"));
    EXPECT_THAT(run.err, HasSubstr("| The host could not complete a request (simulated failure)."));
    EXPECT_THAT(run.err, HasSubstr("| FALT"));

    const Outcome json = simhost({"--host-fault", "get-path-style", "select", kExamples + "/sample.json", "Open Paths",
                              "--json"});
    EXPECT_EQ(json.code, 1);
    const auto result = json::parse(json.out);
    EXPECT_EQ(result["result"], 0x46414C54);  // 'FALT'
    ASSERT_EQ(result["dialogs"].size(), 1u);
    EXPECT_EQ(result["dialogs"][0]["name"], "Error Dialog");
    EXPECT_EQ(result["dialogs"][0]["items"][2]["text"], "FALT");
}

TEST(CliSelect, UnreadableDocumentsAreExitCodeTwoWithOneLine) {
    const std::string dir = scratch("unreadable");
    std::ofstream(dir + "/broken.json") << "{\"layers\": [";
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
    // A folder of them: a line for each, after the results of the others.
    const Outcome folder = simhost({"select", dir, "Groups"});
    EXPECT_EQ(folder.code, 2);
    EXPECT_EQ(lines(folder.err).size(), 2u) << folder.err;
}

TEST(CliBatch, OneResultPerDocumentInAStableOrderAndASummary) {
    const std::string dir = scratch("batch");
    fs::create_directories(dir + "/sub");
    fs::copy_file(kExamples + "/sample.json", dir + "/b.json");
    fs::copy_file(kExamples + "/sample.json", dir + "/sub/a.JSON");
    std::ofstream(dir + "/notes.txt") << "not a document";
    std::ofstream(dir + "/c.json") << "[]";

    const Outcome run = simhost({"select", dir, "Rasters"});
    EXPECT_EQ(run.code, 2);  // c.json is unreadable
    EXPECT_EQ(lines(run.out), (std::vector<std::string>{
                                  "== " + dir + "/b.json: 1 selected", "tile-embedded",
                                  "== " + dir + "/c.json: unreadable",
                                  "== " + dir + "/sub/a.JSON: 1 selected", "tile-embedded",
                                  "Summary: 3 documents, 2 read, 1 unreadable; 2 objects selected"}));
    EXPECT_THAT(run.err, HasSubstr("c.json"));
    EXPECT_THAT(run.err, Not(HasSubstr("\r")));  // no progress line when stderr is no terminal

    fs::remove(dir + "/c.json");
    const Outcome json = simhost({"select", dir + "/b.json", dir + "/sub", "--all", "--json"});
    EXPECT_EQ(json.code, 0) << json.err;
    const auto result = json::parse(json.out);
    ASSERT_EQ(result["files"].size(), 2u);
    EXPECT_EQ(result["files"][1]["file"], dir + "/sub/a.JSON");
    EXPECT_EQ(result["files"][1]["commands"].size(), kCommands.size());
    EXPECT_EQ(result["summary"]["documents"], 2);
    EXPECT_EQ(result["summary"]["unreadable"], 0);
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
    std::map<std::string, std::string> counts;
    for (std::size_t i = 0; i < kCommands.size(); ++i) {
        const std::string& row = *(header + 1 + static_cast<long>(i));
        ASSERT_EQ(row.rfind(kCommands[i], 0), 0u) << row;
        counts[kCommands[i]] = field(row.substr(kCommands[i].size()), 0);
    }
    EXPECT_EQ(counts["Guides"], "2");  // the third guide is locked
    EXPECT_EQ(counts["All Paths"], "13");
    EXPECT_EQ(counts["Open Paths"], "3");
    EXPECT_EQ(counts["Dashed Paths"], "3");
    EXPECT_EQ(counts["Compound Paths"], "3");
    EXPECT_EQ(counts["Meshes"], "1");
    EXPECT_EQ(counts["Plugin Groups"], "0");
    EXPECT_EQ(counts["Symbol Instances"], "2");
    EXPECT_EQ(counts["Rasters"], "1");
    EXPECT_EQ(counts["Placed Objects"], "1");
}

TEST(CliSvg, SelectsWhatTheMappingImpliesOnTheSampleDrawing) {
    const std::string sample = kExamples + "/sample.svg";
    EXPECT_EQ(simhost({"select", sample, "Open Paths"}).out, "fence-rail\n/svg/g[2]/g[2]/polyline[1]\ngarden-path\n");
    // Hidden, locked, on a hidden or locked layer: never selected.
    const std::string closed = simhost({"select", sample, "closed paths"}).out;
    for (const char* id : {"cloud-locked", "pond-reflection", "note-arrow", "frame-border", "sky"})
        EXPECT_THAT(closed, Not(HasSubstr(std::string(id) + "\n"))) << id;
    EXPECT_THAT(closed, HasSubstr("stray-seed\n"));
    EXPECT_EQ(simhost({"select", sample, "Unstroked Paths"}).out, "ground\nsun\npond\nstray-seed\n");

    const Outcome json = simhost({"select", sample, "Symbol Instances", "--json"});
    EXPECT_EQ(json::parse(json.out)["selected"],
              json::parse(R"([{"id": "tree-big", "type": "symbol", "layer": "Scene"},
                              {"id": "tree-small", "type": "symbol", "layer": "Scene"}])"));
}

TEST(CliSvg, WritesTheDrawingWithOneOutlinePerSelectedObject) {
    const std::string dir = scratch("marked");
    const std::string sample = kExamples + "/sample.svg";
    const std::string before = readFile(sample);
    const Outcome run = simhost({"select", sample, "Groups", "-o", dir + "/groups.svg", "--png", dir + "/groups.png"});
    EXPECT_EQ(run.code, 0) << run.err;
    const std::vector<std::string> ids = lines(run.out);
    ASSERT_EQ(ids.size(), 12u);

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
    EXPECT_EQ(readFile(dir + "/groups.png").substr(0, 8), "\x89PNG\r\n\x1a\n");

    const Outcome guides = simhost({"select", sample, "Guides", "-o", dir + "/guides.svg"});
    EXPECT_EQ(guides.code, 0);
    EXPECT_THAT(readFile(dir + "/guides.svg"), HasSubstr("data-simhost-id=\"guide-middle\"><line"));
}

TEST(CliSvg, RefusesToWriteOverItsInputAndToMarkAJsonDocument) {
    const std::string dir = scratch("overwrite");
    fs::copy_file(kExamples + "/sample.svg", dir + "/drawing.svg");
    const std::string before = readFile(dir + "/drawing.svg");
    const Outcome run = simhost({"select", dir + "/drawing.svg", "Groups", "-o", dir + "/./drawing.svg"});
    EXPECT_EQ(run.code, 2);
    EXPECT_THAT(run.err, HasSubstr("refusing to overwrite the input"));
    EXPECT_EQ(readFile(dir + "/drawing.svg"), before);

    const Outcome json = simhost({"select", kExamples + "/sample.json", "Groups", "-o", dir + "/x.svg"});
    EXPECT_EQ(json.code, 2);
    EXPECT_THAT(json.err, HasSubstr("-o and --png need an SVG document"));
}

TEST(CliSvg, BatchOverTheFixturesReadsEveryDrawingOrSaysWhyNot) {
    const Outcome run = simhost({"select", kFixtures, "All Paths", "--json"});
    EXPECT_EQ(run.code, 2);  // the bad/ drawings
    const auto result = json::parse(run.out);
    std::vector<std::string> files, unreadable;
    for (const json& file : result["files"]) {
        files.push_back(fs::path(file["file"].get<std::string>()).filename().string());
        if (file.contains("error")) unreadable.push_back(files.back());
    }
    EXPECT_TRUE(std::is_sorted(result["files"].begin(), result["files"].end(),
                               [](const json& a, const json& b) { return a["file"] < b["file"]; }));
    EXPECT_THAT(unreadable, ElementsAre("billion-laughs.svg", "blank.svg", "empty.svg", "malformed.svg", "not-svg.svg"));
    EXPECT_EQ(result["summary"]["unreadable"], 5);
    EXPECT_EQ(lines(run.err).size(), 5u);
}

TEST(CliSvg, ReadsCompressedDrawingsAndDocumentsOfAnyName) {
    const std::string dir = scratch("names");
    fs::copy_file(kExamples + "/sample.svg", dir + "/drawing.xml");
    fs::copy_file(kExamples + "/sample.json", dir + "/document.txt");
    EXPECT_EQ(simhost({"select", dir + "/drawing.xml", "Rasters"}).out, "tile-embedded\n");
    EXPECT_EQ(simhost({"select", dir + "/document.txt", "Rasters"}).out, "tile-embedded\n");
    const std::string plain = readFile(kExamples + "/sample.svg");
    gzFile out = gzopen((dir + "/sample.svgz").c_str(), "wb");
    ASSERT_NE(out, nullptr);
    gzwrite(out, plain.data(), static_cast<unsigned>(plain.size()));
    gzclose(out);
    const Outcome gzip = simhost({"select", dir + "/sample.svgz", "Meshes"});
    EXPECT_EQ(gzip.code, 0) << gzip.err;
    EXPECT_EQ(gzip.out, "sky\n");
}

#endif  // WENDLOW_BUILD_SVG

}  // namespace
