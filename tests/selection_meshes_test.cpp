// selectMeshes: the two mesh items, every ancestry, repeats and stops.
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

// Ancestry type (the grandparent's type, 1 when there is none) of each mesh:
// top 1 (no grandparent), inGroup 1 (the layer's root), nested 1, inEdit 10,
// inResult 10, inPlugin 1 (the plugin group's parent is a group), underCompound
// 3, orphan 1 (no parent), parentOrphan 1 (its parent has none).
const char* const kMeshes = R"({"layers": [
  {"name": "Main", "art": [
    {"type": "mesh", "id": "top"},
    {"type": "group", "id": "g", "children": [
      {"type": "mesh", "id": "inGroup"},
      {"type": "group", "id": "g2", "children": [{"type": "mesh", "id": "nested"}]},
      {"type": "pluginGroup", "id": "pg2", "children": [{"type": "mesh", "id": "inPlugin"}]}]},
    {"type": "pluginGroup", "id": "pg", "children": [
        {"type": "group", "id": "edit", "children": [{"type": "mesh", "id": "inEdit"}]}],
     "result": {"type": "group", "id": "result", "children": [{"type": "mesh", "id": "inResult"}]}},
    {"type": "compoundPath", "id": "cp", "children": [
      {"type": "group", "id": "cpGroup", "children": [{"type": "mesh", "id": "underCompound"}]}]},
    {"type": "mesh", "id": "orphan", "noParent": true},
    {"type": "group", "id": "cut", "noParent": true, "children": [{"type": "mesh", "id": "parentOrphan"}]},
    {"type": "mesh", "id": "locked", "locked": true},
    {"type": "mesh", "id": "hidden", "hidden": true, "selected": true}]},
  {"name": "Locked", "editable": false, "art": [{"type": "mesh", "id": "lockedLayer"}]},
  {"name": "Hidden", "visible": false, "art": [{"type": "mesh", "id": "hiddenLayer"}]}]})";

TEST(SelectMeshes, EachItemSelectsTheMeshesOfItsAncestry) {
    const Document drawing = fixture(kMeshes);
    const std::pair<int, std::vector<std::string>> cases[] = {
        {13, {"top", "inGroup", "nested", "inPlugin", "orphan", "parentOrphan"}},
        {14, {"inEdit", "inResult"}},
    };
    for (const auto& c : cases) {
        PluginHarness h;
        ASSERT_EQ(h.startup(), kNoErr);
        h.host.setDocument(drawing);
        EXPECT_EQ(h.choose(c.first), kNoErr);
        EXPECT_THAT(selectedIds(h.host.document()), ElementsAreArray(c.second)) << "slot " << c.first;
        EXPECT_EQ(h.host.document().fingerprintBesidesSelection(), drawing.fingerprintBesidesSelection());
        EXPECT_EQ(h.shutdown(), kNoErr);
        // Neither missing parent was handed back to the host.
        EXPECT_THAT(h.problems(), IsEmpty());
    }
}

TEST(SelectMeshes, OtherModesSelectNothingYetStillAskEveryEligibleMeshsAncestry) {
    for (const ai::int16 mode : {ai::int16(-1), ai::int16(2), ai::int16(11)}) {
        PluginHarness h;
        h.host.setDocument(fixture(kMeshes));
        HeldSuites held(h.host);
        EXPECT_EQ(selectMeshes(nullptr, mode), kNoErr);
        EXPECT_THAT(selectedIds(h.host.document()), IsEmpty());
        // Nine eligible meshes, two parent queries each but for orphan,
        // which has no parent to ask about.
        EXPECT_EQ(h.host.gate().calls(Op::GetArtParent), 17u);
        // Only the hidden mesh's selection was cleared.
        EXPECT_EQ(h.host.gate().calls(Op::SetArtUserAttr), 1u);
    }
}

const char* const kRepeats = R"({"layers": [{"name": "L", "art": [
  {"type": "mesh", "id": "a", "listedTwice": true}, {"type": "mesh", "id": "b"},
  {"type": "mesh", "id": "x", "locked": true}]}]})";

// The host lists a mesh named twice in adjacent places; a shuffle parts them.
TEST(SelectMeshes, ARepeatIsExaminedAgainOnlyAfterAnotherMeshReachedTheAncestryTest) {
    const std::pair<std::vector<std::string>, std::uint64_t> cases[] = {
        {{"a", "a", "b", "x"}, 2},  // straight after itself: passed over
        {{"a", "b", "a", "x"}, 3},  // b came between: examined again
        {{"a", "x", "a", "b"}, 2},  // x failed the tests and is not the previous mesh
    };
    for (const auto& c : cases) {
        PluginHarness h;
        h.host.setDocument(fixture(kRepeats));
        h.host.matching().shuffle = true;
        h.host.matching().shuffleSeed = seedGivingOrder(h.host, kMeshArt, c.first);
        h.host.gate().resetCounts();
        {
            HeldSuites held(h.host);
            EXPECT_EQ(selectMeshes(nullptr, kMeshesInGroups), kNoErr);
        }
        EXPECT_THAT(selectedIds(h.host.document()), ElementsAre("a", "b"));
        // One parent query per mesh examined: their parents are layer roots.
        EXPECT_EQ(h.host.gate().calls(Op::GetArtParent), 2 * c.second);
        EXPECT_EQ(h.host.gate().calls(Op::SetArtUserAttr), c.second);
    }
}

TEST(SelectMeshes, AFailedGrandparentQueryCountsAsNoGrandparent) {
    PluginHarness h;
    h.host.setDocument(fixture(kMeshes));
    HeldSuites held(h.host);
    // Two parent queries for each of the four meshes before it: the tenth
    // is the grandparent query of "inEdit", whose grandparent is a plugin
    // group. Failed, it reads as none, so inEdit is taken for a mesh in a group.
    h.host.gate().addRule(FaultRule::failNthOf(Op::GetArtParent, 10, 31));
    EXPECT_EQ(selectMeshes(nullptr, kMeshesInGroups), kNoErr);
    h.host.gate().clearRules();
    EXPECT_THAT(selectedIds(h.host.document()),
                ElementsAre("top", "inGroup", "nested", "inPlugin", "inEdit", "orphan", "parentOrphan"));
    // A failed parent query is an error.
    h.host.gate().addRule(FaultRule::failNthOf(Op::GetArtParent, 3, 32));
    EXPECT_EQ(selectMeshes(nullptr, kMeshesInGroups), 32);
    h.host.gate().clearRules();
    EXPECT_THAT(selectedIds(h.host.document()), ElementsAre("top"));
}

}  // namespace
