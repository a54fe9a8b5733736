// Command names as people type them, and error codes as people read them:
// the pieces the command line and the web server share.
#include <gtest/gtest.h>

#include "CommandNames.h"
#include "Answers.h"

namespace {

using namespace simhost_cli;

const std::vector<std::string> kMenu = {"Guides", "All Paths", "Open Paths", "Closed Paths", "Groups",
                                        "Plugin Groups", "Meshes", "Plugin Group Meshes"};

TEST(CommandNames, MatchIgnoringCaseSpacesHyphensAndUnderscores) {
    struct Case {
        const char* typed;
        int index;  // -1: no command
    };
    for (const Case& c : std::vector<Case>{{"Open Paths", 2}, {"open-paths", 2}, {"OpenPaths", 2}, {"OPEN_PATHS", 2},
                                           {"all paths ", 1}, {" plugin-group_meshes", 7}, {"Open Path", -1},
                                           {"Open Pathss", -1}, {"OpenPaths!", -1}, {"", -1}, {" - _", -1}}) {
        const auto found = matchCommand(kMenu, c.typed);
        EXPECT_EQ(found ? static_cast<int>(*found) : -1, c.index) << '"' << c.typed << '"';
    }
}

TEST(CommandNames, ClosestNamesNearestFirst) {
    struct Case { const char* typed; std::vector<std::string> closest; };
    for (const Case& c : std::vector<Case>{
             {"Grups", {"Groups"}}, {"plugin", {"Plugin Groups", "Plugin Group Meshes"}},  // those it begins
             {"Opne Paths", {"Open Paths"}}, {"Closed Pats", {"Closed Paths"}}, {"meshs", {"Meshes"}},
             {"triangles", {}}, {"", {}}}) {
        EXPECT_EQ(closestCommands(kMenu, c.typed), c.closest) << c.typed;
    }
}

TEST(ErrorCodes, FourPrintableCharactersOrTheDecimalNumber) {
    struct Case { ASErr code; const char* name; };
    for (const Case& c : std::vector<Case>{{0x46414C54, "FALT"}, {0x214D454D, "!MEM"}, {0x20202020, "    "},
                                           {0x7E7E7E7E, "~~~~"}, {0, "0"}, {1, "1"},
                                           {0x46414C1F, "1178684447"},  // a control byte
                                           {0x7F414C54, "2134985812"},  // DEL
                                           {static_cast<ASErr>(0x80414C54), "-2143204268"}, {-108, "-108"}}) {
        EXPECT_EQ(simhost::codeText(c.code), c.name) << c.code;
    }
}

}  // namespace
