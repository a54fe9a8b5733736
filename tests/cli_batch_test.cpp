// The command line for scripts and batches: JSON Lines, exit codes, failed
// writes, folders of documents, worker processes and marked outputs.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>

#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "Tables.h"
#include "cli_support.h"

#if WENDLOW_BUILD_SVG

namespace {

using namespace cli_test;
using ::testing::ElementsAre;
using test_tables::rows;

// A folder of drawings: paths.svg, sub/images.svg, sub/empty-layer.svg, a
// stray stray.json, notes.txt and broken.svg, a link to nothing.
const std::string kFolder = WENDLOW_SOURCE_DIR "/tests/data/cli/batch";
const std::string kPaths = kFolder + "/paths.svg";

std::vector<json> jsonLines(const std::string& text) {
    std::vector<json> rows;
    for (const std::string& line : lines(text)) rows.push_back(json::parse(line));
    return rows;
}

// ---- Output a script can trust ------------------------------------------------------

// Names a script cannot foresee: every line the command line writes is
// JSON that reads back to the names in the documents, whatever bytes they
// hold (bytes that are not UTF-8 read back as U+FFFD).
TEST(CliJsonLines, HostileNamesReadBackAsTheyAre) {
    const std::string dir = scratch("hostile");
    const std::string layer = "L\"a\\y\x7f\ner \xc3\xbc";
    // One kind of byte each, so that no id is escaped for another one's sake.
    const std::vector<std::string> ids = {"q\"uote", "back\\slash", "unit\x1f", "ctl\x01",
                                          "tab\t", "\xc3\xbcn\xc3\xaf\xe6\x97\xa5", "/\\\"\\u0041"};
    json art = json::array();
    for (const std::string& id : ids) art.push_back({{"type", "path"}, {"id", id}});
    const std::string good = dir + "/d\"q\\b\t\x01 \xc3\xa9.json", bad = dir + "/x\"\\\x02.json";
    const std::string notUtf8 = dir + "/n\xff.json";
    std::ofstream(good) << json{{"layers", {{{"name", layer}, {"art", art}}}}}.dump();
    std::ofstream(bad) << "{\"layers\": [";
    fs::copy_file(good, notUtf8);
    std::ofstream(dir + "/c\"\\\xe6\x97\xa5.svg")
        << "<svg xmlns='http://www.w3.org/2000/svg' width='9' height='9'>"
           "<path id='c&quot;\\&#x65E5;' d='M0 0L1 1M2 2L3 3'/></svg>";
    const Outcome run = simhost({"select", dir, "--all", "--json", "--summary", "--type=svg,json", "--jobs", "2"});
    EXPECT_EQ(run.code, 2);
    std::map<std::string, std::vector<json>> byFile;  // every line is one JSON value
    for (const json& row : jsonLines(run.out))
        if (!row.contains("summary")) byFile[row["file"]].push_back(row);
    const std::string replaced = dir + "/n\xef\xbf\xbd.json";
    ASSERT_EQ(byFile.size(), 4u) << run.out;
    ASSERT_EQ(byFile[bad].size(), 1u);
    EXPECT_THAT(byFile[bad][0]["error"].get<std::string>(), HasSubstr(bad));
    for (const std::string& file : {good, replaced}) {
        ASSERT_EQ(byFile[file].size(), 18u) << file;
        std::vector<std::string> seen;
        for (const json& object : byFile[file][1]["selected"]) {  // All Paths
            seen.push_back(object["id"]);
            EXPECT_EQ(object["layer"], layer);
        }
        EXPECT_EQ(seen, ids) << file;
    }
    const json& paths = byFile[dir + "/c\"\\\xe6\x97\xa5.svg"].at(1)["selected"];
    ASSERT_EQ(paths.size(), 2u);
    EXPECT_EQ(paths[1]["id"], "c\"\\\xe6\x97\xa5/subpath[2]");
    EXPECT_EQ(paths[1]["element"], "c\"\\\xe6\x97\xa5");
}

// Each selected object says why and which element it came from: "matched"
// is false for what came with a container the command chose and the
// command would not have taken on its own: another type, or hidden or
// locked.
TEST(CliJsonLines, EachSelectedObjectSaysWhyAndWhichElement) {
    for (const json& c : rows("cli", "why")) {
        const std::string document = WENDLOW_SOURCE_DIR "/tests/data/cli/" + c[0].get<std::string>();
        const Outcome run = simhost({"select", document, c[1], "--json"});
        ASSERT_EQ(run.code, 0) << run.err;
        const json result = json::parse(run.out);
        json seen = json::array();
        for (const json& object : result["selected"]) seen.push_back({object["id"], object["matched"], object.value("element", "")});
        EXPECT_EQ(seen, c[2]) << c[0] << " " << c[1];
    }
}

TEST(CliJsonLines, ABatchStreamsOneLinePerDocumentAndCommand) {
    const Outcome run = simhost({"select", kFolder, "--all", "--json", "--summary", "--jobs", "1"});
    EXPECT_EQ(run.code, 2);  // the broken link
    EXPECT_EQ(lines(run.err), std::vector<std::string>{"simhost: " + kFolder + "/broken.svg: broken link"});
    std::vector<json> rows = jsonLines(run.out);
    ASSERT_EQ(rows.size(), 3 * 18 + 1u);
    const json summary = rows.back()["summary"];
    rows.pop_back();
    EXPECT_EQ(rows[0]["file"], kPaths);
    EXPECT_EQ(rows[18]["file"], kFolder + "/sub/empty-layer.svg");
    EXPECT_EQ(rows[36]["file"], kFolder + "/sub/images.svg");
    EXPECT_EQ(summary["documents"], 3);
    EXPECT_EQ(summary["skipped"], 1);
    // Totals per command, not one sum.
    ASSERT_EQ(summary["commands"].size(), 18u);
    for (std::size_t c = 0; c < 18; ++c) {
        std::size_t selected = 0, documents = 0, errors = 0;
        for (std::size_t d = 0; d < 3; ++d) {
            selected += rows[d * 18 + c]["selected"].size();
            documents += rows[d * 18 + c]["selected"].empty() ? 0 : 1;
            errors += rows[d * 18 + c]["result"] == "error" ? 1 : 0;
        }
        EXPECT_EQ(summary["commands"][c]["command"], rows[c]["command"]);
        EXPECT_EQ(summary["commands"][c]["selected"], selected) << c;
        EXPECT_EQ(summary["commands"][c]["documents"], documents) << c;
        EXPECT_EQ(summary["commands"][c]["errors"], errors) << c;
    }
}

TEST(CliJsonLines, AFailedWriteEndsTheRunWithExitCodeTwo) {
    const std::string dir = scratch("write-fails");
    for (const Stdout to : {Stdout::kFull, Stdout::kClosedPipe}) {
        for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
                 {"select", kPaths, "All Paths"},
                 {"select", kPaths, "All Paths", "--json"},
                 {"select", kFolder, "--all", "--json", "--jobs", "2"},
                 {"select", kPaths, "Groups", "-o", "-"},
                 {"menus"},
             }) {
            RunOptions options;
            options.stdoutTo = to;
            const Outcome run = simhost(args, options);
            std::string what = to == Stdout::kFull ? "full:" : "pipe:";
            for (const std::string& arg : args) what += " " + arg;
            EXPECT_EQ(run.code, 2) << what;
            EXPECT_THAT(run.err, HasSubstr(to == Stdout::kFull ? "No space left on device" : "Broken pipe")) << what;
        }
    }
}

// Exit codes: 2 (unreadable) outranks 1 (a plug-in error, or nothing
// selected with --require-selection), wherever the unreadable document
// comes; -c and -l print nothing for it on standard output.
TEST(CliJsonLines, CountsFileNamesAnEmptySelectionAndSummaries) {
    const std::string images = kFolder + "/sub/images.svg";
    const std::string bad = WENDLOW_SOURCE_DIR "/tests/data/svg/bad/malformed.svg";
    const std::string fault = "--host-fault=get-path-style";
    // Holds its globals block past "Shutdown": the host's finding is a 1, in every worker.
    const std::string leaky = fs::path(WENDLOW_CRASHING_PLUGIN).parent_path().string() + "/mini-leaks-block.so";
    const Values values = {{"paths", kPaths}, {"images", images}, {"bad", bad}, {"fault", fault}, {"leaky", leaky},
                           {"folder", kFolder}};
    for (const json& row : rows("cli", "counts")) {
        const Outcome run = simhost(expandEach(row[0], values));
        const std::string what = row[0][2].get<std::string>() + " " + row[0].back().get<std::string>();
        EXPECT_EQ(run.code, row[2]) << what << run.err;
        EXPECT_EQ(run.out, expand(row[1], values)) << what;
    }
    const std::vector<std::string> all = lines(simhost({"select", kPaths, "--all", "-c"}).out);
    ASSERT_EQ(all.size(), 18u);
    EXPECT_EQ(all[1], "All Paths: 4");
    EXPECT_EQ(all[10], "Compound Paths: 3");
    // In a batch each line names its document.
    const std::vector<std::string> both = lines(simhost({"select", kPaths, images, "--all", "-c"}).out);
    ASSERT_EQ(both.size(), 36u);
    EXPECT_EQ(both[10], kPaths + ": Compound Paths: 3");
    EXPECT_EQ(both[18 + 15], images + ": Symbol Instances: 1");
    const json counted = json::parse(simhost({"select", kPaths, "Groups", "--json", "--count"}).out);
    EXPECT_EQ(counted["count"], 2);
    EXPECT_FALSE(counted.contains("selected"));
    const std::vector<std::string> rows = lines(simhost({"select", kFolder, "--all", "--summary"}).out);
    ASSERT_GE(rows.size(), 19u);
    EXPECT_EQ(std::vector<std::string>(rows.end() - 19, rows.end() - 16),
              (std::vector<std::string>{"Summary: 3 documents, 3 read, 0 unreadable; 1 entry skipped",
                                        "  Guides: 0 objects selected in 0 documents",
                                        "  All Paths: 4 objects selected in 1 document"}));
}

// ---- Batches -------------------------------------------------------------------------

TEST(CliBatchFolder, SearchesDrawingsOnlyAndReportsWhatItCannotRead) {
    for (const json& c : rows("cli", "folders")) {
        const std::vector<std::string> options = c[0];
        const bool brokenLink = c[2];
        std::vector<std::string> args = {"select", kFolder, "Groups", "--json"};
        args.insert(args.end(), options.begin(), options.end());
        const Outcome run = simhost(args);
        std::vector<std::string> files;
        for (const json& row : jsonLines(run.out)) files.push_back(row["file"].get<std::string>().substr(kFolder.size() + 1));
        const std::string what = options.empty() ? "default" : options.back();
        EXPECT_EQ(files, c[1]) << what;
        EXPECT_EQ(run.code, brokenLink ? 2 : 0) << what;
        EXPECT_EQ(run.err.find("broken.svg: broken link") != std::string::npos, brokenLink) << what;
    }
    // A named .json is read whatever --type says.
    EXPECT_EQ(simhost({"select", kFolder + "/stray.json", "Rasters"}).out, "tile-embedded\n");
}

TEST(CliBatchFolder, AnUnreadableDirectoryIsReportedNotSkipped) {
    const std::string dir = scratch("unreadable-dir");
    fs::create_directories(dir + "/closed");
    fs::copy_file(kPaths, dir + "/open.svg");
    fs::permissions(dir + "/closed", fs::perms::none);
    RunOptions options;
    if (geteuid() == 0) {  // root reads every directory: run as nobody
        if (!fs::exists("/usr/bin/setpriv")) GTEST_SKIP() << "needs setpriv (util-linux) to run as nobody";
        options.prefix = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
    }
    const Outcome run = simhost({"select", dir, "Groups", "--summary"}, options);
    fs::permissions(dir + "/closed", fs::perms::owner_all);
    EXPECT_EQ(run.code, 2);
    EXPECT_THAT(run.err, HasSubstr("closed: cannot read the directory"));
    EXPECT_THAT(run.out, HasSubstr("; 1 entry skipped"));
}

TEST(CliBatchFolder, WorkersGiveTheSameLinesInTheSameOrder) {
    // Varied drawings: the SVG fixtures (the unreadable ones too), the
    // examples, this folder with its JSON document and broken link.
    const std::vector<std::string> base = {"select",  WENDLOW_SOURCE_DIR "/tests/data/svg", WENDLOW_SOURCE_DIR "/examples",
                                           kFolder,   "--all", "--json", "--summary", "--type", "svg,json"};
    auto run = [&](const char* jobs) {
        std::vector<std::string> args = base;
        args.insert(args.end(), {"--jobs", jobs});
        return simhost(args);
    };
    const Outcome one = run("1"), two = run("2"), many = run("7");
    std::vector<json> rows = jsonLines(one.out);
    ASSERT_GT(rows.size(), 18u * 20);
    EXPECT_EQ(one.code, 2);
    // Every drawing is read but the bad ones, each of which says why.
    const json summary = rows.back()["summary"];
    rows.pop_back();
    std::vector<std::string> unreadable;
    for (const json& row : rows)
        if (row.contains("error")) unreadable.push_back(fs::path(row["file"].get<std::string>()).filename().string());
    EXPECT_THAT(unreadable, ElementsAre("billion-laughs.svg", "blank.svg", "empty.svg", "malformed.svg", "not-svg.svg"));
    EXPECT_EQ(summary["unreadable"], 5);
    EXPECT_EQ(summary["documents"], (rows.size() - 5) / 18 + 5);
    EXPECT_EQ(lines(one.err).size(), 6u) << one.err;  // and the broken link
    for (const Outcome* other : {&two, &many}) {
        EXPECT_EQ(other->code, one.code);
        EXPECT_EQ(other->out, one.out);
        EXPECT_EQ(other->err, one.err);
    }
}

// Large documents among small ones: the small ones behind a large one are
// done first by the other workers, and still come out in input order.
TEST(CliBatchFolder, UnevenDocumentsComeOutInInputOrder) {
    const std::string dir = scratch("uneven");
    auto write = [&dir](const std::string& name, int paths) {
        json art = json::array();
        for (int i = 0; i < paths; ++i) art.push_back({{"type", "path"}, {"id", name + std::to_string(i)}});
        std::ofstream(dir + "/" + name + ".json") << json{{"layers", {{{"name", "L"}, {"art", art}}}}}.dump();
    };
    const std::vector<std::pair<std::string, int>> documents = {{"a", 40000}, {"b", 1}, {"c", 2}, {"d", 3},
                                                                {"e", 30000}, {"f", 4}, {"g", 5}};
    std::string expected;
    for (const auto& [name, paths] : documents) {
        write(name, paths);
        expected += dir + "/" + name + ".json: " + std::to_string(paths) + "\n";
    }
    for (const char* jobs : {"1", "2", "3"}) {
        const Outcome run = simhost({"select", dir, "All Paths", "-c", "--type=json", "--jobs", jobs});
        EXPECT_EQ(run.code, 0) << run.err;
        EXPECT_EQ(run.out, expected) << "--jobs " << jobs;
    }
}

TEST(CliBatchFolder, AWorkerThatDiesCostsOnlyItsDocument) {
    // The plug-in crashes on a path the host says has no layer.
    const std::string dir = scratch("crash");
    const std::string fine = R"({"layers": [{"name": "L", "art": [{"type": "path", "id": "p"}]}]})";
    const std::string fatal = R"({"layers": [{"name": "L", "art": [{"type": "path", "id": "p", "noLayer": true}]}]})";
    for (const char* name : {"a", "c", "d", "f"}) std::ofstream(dir + "/" + name + ".json") << fine;
    for (const char* name : {"b", "e"}) std::ofstream(dir + "/" + name + ".json") << fatal;
    const Outcome run = simhost({"--plugin", WENDLOW_CRASHING_PLUGIN, "select", dir, "Mini Select", "--type=json",
                                 "--json", "--jobs", "2"});
    EXPECT_EQ(run.code, 2);
    // The death is a signal, or, under the sanitizers, their exit status.
    auto how = [](const std::string& error) {
        const std::size_t paren = error.rfind(" (");
        const std::string why = error.substr(paren + 2);
        return error.substr(0, paren) + (why == "signal 11)" || why.rfind("exit status", 0) == 0 ? " (died)" : " " + why);
    };
    std::vector<std::string> outcome;
    for (const json& row : jsonLines(run.out))
        outcome.push_back(fs::path(row["file"].get<std::string>()).stem().string() + " " +
                          (row.contains("error") ? how(row["error"].get<std::string>().substr(dir.size() + 1))
                                                 : row["selected"][0]["id"].get<std::string>()));
    EXPECT_EQ(outcome, (std::vector<std::string>{"a p", "b b.json: the worker running it ended (died)", "c p", "d p",
                                                 "e e.json: the worker running it ended (died)", "f p"}))
        << run.err;
}

// Whether a progress line "[i/n] documents" is followed by anything but the
// carriage return that clears it, or ends the output uncleared.
bool progressLeftStanding(const std::string& err) {
    const std::string tail = "] documents";
    for (std::size_t at = err.find(tail); at != std::string::npos; at = err.find(tail, at + 1)) {
        const std::size_t after = at + tail.size();
        if (after == err.size() || err[after] != '\r') return true;
    }
    return false;
}

TEST(CliBatchFolder, ProgressOnlyOnATerminalClearedBeforeEachMessage) {
    RunOptions terminal;
    terminal.stderrOnTerminal = true;
    const Outcome run = simhost({"select", WENDLOW_SOURCE_DIR "/tests/data/svg", "Groups", "--jobs", "2"}, terminal);
    EXPECT_EQ(run.code, 2);
    EXPECT_THAT(run.err, HasSubstr("\r\033[K["));
    // Every progress line is cleared before the next message, and at the end.
    EXPECT_FALSE(progressLeftStanding(run.err)) << run.err;
    EXPECT_THAT(run.err, HasSubstr("simhost: " WENDLOW_SOURCE_DIR "/tests/data/svg/bad/malformed.svg"));
    // Not on a file: CliBatch's folder run checks that.
}

TEST(CliBatchFolder, MarksOneDrawingAndOnePicturePerDocument) {
    const std::string dir = scratch("marked-batch");
    fs::create_directories(dir + "/svg");
    fs::create_directories(dir + "/png");
    const Outcome run = simhost({"select", kFolder, "All Paths", "-o", dir + "/svg", "--png-dir", dir + "/png"});
    EXPECT_EQ(run.code, 2) << run.err;  // the broken link, only
    for (const char* name : {"paths", "sub/empty-layer", "sub/images"}) {
        const std::string svg = readFile(dir + "/svg/" + name + ".svg");
        EXPECT_THAT(svg, HasSubstr("id=\"simhost-selection\"")) << name;
        EXPECT_EQ(readFile(dir + "/png/" + name + ".png").substr(0, 8), "\x89PNG\r\n\x1a\n") << name;
    }
    const std::string paths = readFile(dir + "/svg/paths.svg");
    for (const char* id : {"open-line", "two-boxes/subpath[1]", "two-boxes/subpath[2]", "box"})
        EXPECT_THAT(paths, HasSubstr(std::string("data-simhost-id=\"") + id + "\"")) << id;
}

TEST(CliBatchFolder, SavesOneEditedDrawingPerDocumentFromItsWorker) {
    const std::string dir = scratch("saved-batch");
    for (const char* sub : {"/saved", "/exported"}) fs::create_directories(dir + sub);
    const Outcome run = simhost({"select", kFolder, "All Paths", "--hide", "--json", "--jobs", "2", "--save",
                                 dir + "/saved", "--export-selection", dir + "/exported"});
    EXPECT_EQ(run.code, 2) << run.err;  // the broken link, only
    std::map<std::string, json> answers;
    for (const json& row : jsonLines(run.out))
        if (row.contains("command")) answers[row["file"]] = row;
    ASSERT_EQ(answers.size(), 3u) << run.out;
    for (const char* name : {"paths", "sub/empty-layer", "sub/images"}) {
        const json& answer = answers[kFolder + "/" + name + ".svg"];
        const std::string saved = dir + "/saved/" + name + ".svg", exported = dir + "/exported/" + name + ".svg";
        EXPECT_EQ(answer["saved"], saved) << name;
        EXPECT_EQ(answer["exported"], exported) << name;
        const bool selected = answer["count"].get<int>() != 0;
        EXPECT_EQ(answer["edits"]["hide"].get<int>() != 0, selected) << name;
        EXPECT_EQ(readFile(saved).find("display:none") != std::string::npos, selected) << name;
        EXPECT_THAT(readFile(exported), HasSubstr("<svg")) << name;
    }
    EXPECT_THAT(readFile(dir + "/saved/paths.svg"), HasSubstr("id=\"open-line\""));
}

TEST(CliBatchFolder, OutputsAreCheckedBeforeAnyWork) {
    const std::string dir = scratch("prechecks");
    fs::copy_file(kPaths, dir + "/paths.svg");
    fs::copy_file(kPaths, dir + "/paths.svgz");  // the same name once marked
    fs::create_directories(dir + "/out");
    const Values values = {{"input", dir + "/paths.svg"}, {"dir", dir}, {"folder", kFolder}, {"paths", kPaths}};
    for (const json& c : rows("cli", "prechecks")) {
        RunOptions options;
        options.env = c[1].get<std::vector<std::string>>();
        expectRefused(simhost(expandEach(c[0], values), options), expand(c[2], values));
    }
    // A JSON document is told by its content, so it is refused once read,
    // still before the command runs and prints its selection.
    const Outcome json = simhost({"select", WENDLOW_SOURCE_DIR "/examples/sample.json", "Groups", "-o", dir + "/out/x.svg"});
    EXPECT_EQ(json.code, 2);
    EXPECT_THAT(json.err, HasSubstr("-o and --png need an SVG document"));
    EXPECT_EQ(json.out, "");
    EXPECT_TRUE(fs::is_empty(dir + "/out"));
    EXPECT_EQ(readFile(dir + "/paths.svg"), readFile(kPaths));
}

}  // namespace

#endif  // WENDLOW_BUILD_SVG
