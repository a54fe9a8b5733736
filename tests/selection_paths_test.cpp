// selectPaths, through the menu: the ten path items and the modes beyond.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "PluginHarness.h"
#include "SelectionTesting.h"

using namespace simhost;
using namespace wendlow_test;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

namespace {

// Eligible paths with their (closed, fill, stroke, dash): open (0,1,0,0),
// closed (1,0,1,0), dashed (1,1,1,3), bytes2 (0,2,2,5), undashed
// (1,0,0,4), inGroup (0,1,1,0), deep (1,1,1,2), inPlugin (0,0,0,0),
// resultDeep (1,1,0,0), orphan (0,0,1,0). Guides: guide, pgGuide. Never
// selected apart from their plugin group: editPart and resultPart.
// Excluded by attribute or layer: locked, hidden, lockedLayer, hiddenLayer.
const char* const kPaths = R"({"layers": [
  {"name": "Main", "art": [
    {"type": "raster", "id": "preselected", "selected": true},
    {"type": "path", "id": "open", "fill": true},
    {"type": "path", "id": "closed", "closed": true, "fill": false, "stroke": true, "selected": true},
    {"type": "path", "id": "dashed", "closed": true, "stroke": true, "dashCount": 3},
    {"type": "path", "id": "bytes2", "fill": 2, "stroke": 2, "dashCount": 5},
    {"type": "path", "id": "undashed", "closed": true, "fill": false, "dashCount": 4},
    {"type": "path", "id": "guide", "guide": true, "closed": true, "stroke": true, "dashCount": 1},
    {"type": "path", "id": "locked", "locked": true, "stroke": true},
    {"type": "path", "id": "hidden", "hidden": true, "stroke": true},
    {"type": "group", "id": "g", "children": [{"type": "path", "id": "inGroup", "stroke": true}]},
    {"type": "pluginGroup", "id": "pg", "children": [
        {"type": "group", "id": "edit", "children": [
          {"type": "path", "id": "editPart", "stroke": true, "dashCount": 1},
          {"type": "path", "id": "pgGuide", "guide": true, "fill": false},
          {"type": "group", "id": "deeper", "children": [
            {"type": "path", "id": "deep", "closed": true, "stroke": true, "dashCount": 2}]}]},
        {"type": "path", "id": "inPlugin", "fill": false}],
     "result": {"type": "group", "id": "result", "children": [
        {"type": "path", "id": "resultPart", "closed": true, "stroke": true, "dashCount": 1},
        {"type": "group", "id": "resultInner", "children": [
          {"type": "path", "id": "resultDeep", "closed": true}]}]}},
    {"type": "path", "id": "orphan", "fill": false, "stroke": true, "noParent": true}]},
  {"name": "Locked", "editable": false, "art": [{"type": "path", "id": "lockedLayer", "stroke": true}]},
  {"name": "Hidden", "visible": false, "art": [{"type": "path", "id": "hiddenLayer", "stroke": true}]}]})";

struct ModeCase {
    int slot;
    std::vector<std::string> selected;
};

TEST(SelectPaths, EachItemSelectsItsEligiblePathsAndNothingElse) {
    const ModeCase cases[] = {
        {0, {"guide", "pgGuide"}},
        {1, {"open", "closed", "dashed", "bytes2", "undashed", "inGroup", "deep", "inPlugin", "resultDeep", "orphan"}},
        {2, {"open", "bytes2", "inGroup", "inPlugin", "orphan"}},
        {3, {"closed", "dashed", "undashed", "deep", "resultDeep"}},
        {4, {"open", "dashed", "inGroup", "deep", "resultDeep"}},
        {5, {"closed", "undashed", "inPlugin", "orphan"}},
        {6, {"closed", "dashed", "inGroup", "deep", "orphan"}},
        {7, {"open", "undashed", "inPlugin", "resultDeep"}},
        {8, {"dashed", "deep"}},
        {9, {"open", "closed", "bytes2", "undashed", "inGroup", "inPlugin", "resultDeep", "orphan"}},
    };
    const Document drawing = fixture(kPaths);
    for (const ModeCase& c : cases) {
        SCOPED_TRACE("slot " + std::to_string(c.slot));
        PluginHarness h;
        ASSERT_EQ(h.startup(), kNoErr);
        h.host.setDocument(drawing);
        EXPECT_EQ(h.choose(c.slot), kNoErr);
        EXPECT_THAT(selectedIds(h.host.document()), ElementsAreArray(c.selected));
        EXPECT_EQ(h.host.document().fingerprintBesidesSelection(), drawing.fingerprintBesidesSelection());
        // Closed state only where the mode asks for it.
        EXPECT_EQ(h.host.gate().calls(Op::GetPathClosed), c.slot == 2 || c.slot == 3 ? 10u : 0u);
        EXPECT_TRUE(h.host.dialogs().empty());
        EXPECT_EQ(h.shutdown(), kNoErr);
        // The orphan's missing parent was never handed back to the host.
        EXPECT_THAT(h.problems(), IsEmpty());
    }
}

// The paint items read one flag each: fill for filled/unfilled, stroke for
// stroked/unstroked, and a stroke with a dash count for dashed/undashed.
// Only 1 is painted and only 0 unpainted; other bytes are neither.
TEST(SelectPaths, EachPaintItemReadsItsOwnFlagAndOnlyZeroOrOne) {
    const struct {
        const char* name;
        int closed, fill, stroke, dashCount;
        const char* selectedBy;  // F filled, f unfilled, S stroked, s unstroked, D dashed, d undashed
    } cases[] = {
        {"a fill alone", 0, 1, 0, 0, "Fsd"},
        {"dashes with a fill but no stroke", 1, 1, 0, 3, "Fsd"},
        {"a dashed stroke without a fill", 0, 0, 1, 3, "fSD"},
        {"a closed stroke without dashes", 1, 0, 1, 0, "fSd"},
        {"a negative dash count", 0, 1, 1, -2, "FSD"},
        {"paint bytes 2", 1, 2, 2, 5, "d"},
        {"paint bytes 255", 0, 255, 255, 1, "d"},
    };
    const std::pair<int, char> items[] = {{4, 'F'}, {5, 'f'}, {6, 'S'}, {7, 's'}, {8, 'D'}, {9, 'd'}};
    for (const auto& c : cases) {
        PluginHarness h;
        ASSERT_EQ(h.startup(), kNoErr);
        h.host.setDocument(fixture(R"({"layers": [{"name": "L", "art": [{"type": "path", "id": "p", "closed": )" +
                                   std::to_string(c.closed) + R"(, "fill": )" + std::to_string(c.fill) +
                                   R"(, "stroke": )" + std::to_string(c.stroke) + R"(, "dashCount": )" +
                                   std::to_string(c.dashCount) + "}]}]}"));
        std::string selectedBy;
        for (const auto& [slot, letter] : items) {
            EXPECT_EQ(h.choose(slot), kNoErr);
            if (!selectedIds(h.host.document()).empty()) selectedBy += letter;
        }
        EXPECT_EQ(selectedBy, c.selectedBy) << c.name;
        EXPECT_EQ(h.shutdown(), kNoErr);
    }
}

TEST(SelectPaths, ModesOutsideTheTableClearTheSelectionAndSelectNothing) {
    for (const ai::int16 mode : {ai::int16(-32768), ai::int16(-1), ai::int16(10), ai::int16(32767)}) {
        PluginHarness h;
        h.host.setDocument(fixture(kPaths));
        {
            HeldSuites held(h.host);
            EXPECT_EQ(selectPaths(nullptr, mode), kNoErr);
        }
        EXPECT_THAT(selectedIds(h.host.document()), IsEmpty()) << "mode " << mode;
        EXPECT_THAT(h.problems(), IsEmpty());
    }
}

TEST(SelectPaths, FlagBIsAskedFirstAndFlagAOnlyOfALayerThatPassedIt) {
    PluginHarness h;
    h.host.setDocument(fixture(R"({"layers": [
      {"name": "B off", "editable": false, "art": [{"type": "path", "id": "b"}]},
      {"name": "A off", "visible": false, "art": [{"type": "path", "id": "a"}]},
      {"name": "both off", "visible": 0, "editable": 0, "art": [{"type": "path", "id": "ab"}]},
      {"name": "odd bytes", "visible": 2, "editable": 255, "art": [{"type": "path", "id": "odd"}]}]})"));
    HeldSuites held(h.host);
    h.host.gate().setLogging(true);
    EXPECT_EQ(selectPaths(nullptr, kAllPaths), kNoErr);
    // Any byte but 0 counts as on.
    EXPECT_THAT(selectedIds(h.host.document()), ElementsAre("odd"));

    std::vector<std::string> flags;
    for (const CallRecord& call : h.host.gate().log()) {
        if (call.op == Op::GetLayerEditable) flags.push_back("B");
        if (call.op == Op::GetLayerVisible) flags.push_back("A");
    }
    EXPECT_THAT(flags, ElementsAre("B", "B", "A", "B", "B", "A"));
}

TEST(SelectPaths, APathListedTwiceIsExaminedTwice) {
    PluginHarness h;
    h.host.setDocument(fixture(R"({"layers": [{"name": "L", "art": [
      {"type": "path", "id": "twice", "listedTwice": true}, {"type": "path", "id": "once"}]}]})"));
    HeldSuites held(h.host);
    EXPECT_EQ(selectPaths(nullptr, kAllPaths), kNoErr);
    EXPECT_THAT(selectedIds(h.host.document()), ElementsAre("twice", "once"));
    EXPECT_EQ(h.host.gate().calls(Op::GetPathStyle), 3u);
    EXPECT_EQ(h.host.gate().calls(Op::SetArtUserAttr), 3u);
}

}  // namespace
