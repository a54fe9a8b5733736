// The whole-object commands (compound paths, groups, plugin groups, placed,
// symbols, rasters), and the eligibility tests every command shares.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "PluginHarness.h"
#include "SelectionTesting.h"

using namespace simhost;
using namespace wendlow_test;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

// Slots whose command selects every eligible top-level object of one type:
// all paths, compound paths, groups, plugin groups, meshes in groups
// (a top-level mesh has no grandparent), rasters, symbols, placed.
const int kKindSlots[] = {1, 10, 11, 12, 13, 15, 16, 17};

// Four layers (flags as named), each with one object of `type`; on the
// first layer also a locked and a hidden one.
Document layerMatrix(AIArtType type) {
    Document doc;
    const struct {
        const char* name;
        bool visible, editable;
    } layers[] = {{"on", true, true}, {"B off", true, false}, {"A off", false, true}, {"both off", false, false}};
    for (const auto& l : layers) {
        const LayerIndex layer = doc.addLayer(l.name, l.visible, l.editable);
        doc.addArt(doc.rootOf(layer), type, l.name);
    }
    doc.art(doc.addArt(doc.rootOf(0), type, "locked")).attributes = kArtLocked;
    doc.art(doc.addArt(doc.rootOf(0), type, "hidden")).attributes = kArtHidden | kArtSelected;
    return doc;
}

TEST(EveryCommand, SelectsOnlyObjectsOnLayersPassingBothFlagsAndWithoutExcludedBits) {
    for (const int slot : kKindSlots) {
        SCOPED_TRACE("slot " + std::to_string(slot));
        const AIArtType type = matchedType(commandOfSlot(slot).kind);
        PluginHarness h;
        ASSERT_EQ(h.startup(), kNoErr);
        h.host.setDocument(layerMatrix(type));
        EXPECT_EQ(h.choose(slot), kNoErr);
        EXPECT_THAT(selectedIds(h.host.document()), ElementsAre("on"));

        // Flag B of every match's layer, flag A only where B was on.
        const Document& doc = h.host.document();
        std::uint64_t matches = 0, flagBOn = 0;
        for (const ArtIndex index : doc.documentOrder()) {
            if (doc.art(index).type != type) continue;
            ++matches;
            flagBOn += doc.layer(doc.art(index).layer).editable != 0;
        }
        EXPECT_EQ(h.host.gate().calls(Op::GetLayerEditable), matches);
        EXPECT_EQ(h.host.gate().calls(Op::GetLayerVisible), flagBOn);
        h.expectCleanShutdown();
    }
}

TEST(EveryCommand, AMatchWithNoLayerEndsTheWalkWithSuccess) {
    for (const int slot : kKindSlots) {
        SCOPED_TRACE("slot " + std::to_string(slot));
        const AIArtType type = matchedType(commandOfSlot(slot).kind);
        for (const bool firstLost : {true, false}) {
            Document doc;
            const ArtIndex root = doc.rootOf(doc.addLayer("L"));
            if (!firstLost) doc.addArt(root, type, "before");
            doc.art(doc.addArt(root, type, "lost")).reportNoLayer = true;
            doc.addArt(root, type, "after");
            PluginHarness h;
            h.host.setDocument(doc);
            {
                HeldSuites held(h.host);
                EXPECT_EQ(runPluginCommand(commandOfSlot(slot)), kNoErr);
            }
            if (firstLost) {
                EXPECT_THAT(selectedIds(h.host.document()), IsEmpty());
            } else {
                EXPECT_THAT(selectedIds(h.host.document()), ElementsAre("before"));
            }
            // No layer is asked for after the lost one's (Groups, which also
            // meets the layer's root group, asks once more).
            EXPECT_EQ(h.host.gate().calls(Op::GetArtLayer), (firstLost ? 1u : 2u) + (slot == 11 ? 1u : 0u));
            EXPECT_THAT(h.problems(), IsEmpty());
        }
    }
}

TEST(EveryCommand, AnEmptyDocumentGivesAnEmptySelectionInBothEmptyForms) {
    for (const bool nullForEmpty : {false, true}) {
        PluginHarness h;
        ASSERT_EQ(h.startup(), kNoErr);
        h.host.setDocument(fixture(R"({"layers": []})"));
        h.host.matching().nullHandleForEmpty = nullForEmpty;
        for (int slot = 0; slot < kCommandSlots; ++slot) EXPECT_EQ(h.choose(slot), kNoErr);
        EXPECT_EQ(h.host.gate().calls(Op::GetArtLayer), 0u);
        EXPECT_EQ(h.host.gate().calls(Op::DisposeHandle), nullForEmpty ? 0u : 2u * kCommandSlots);
        h.expectCleanShutdown();
    }
}

const char* const kObjects = R"({"layers": [{"name": "L", "art": [
  {"type": "group", "id": "top", "children": [
    {"type": "path", "id": "topPath"}, {"type": "path", "id": "topGuide", "guide": true}]},
  {"type": "pluginGroup", "id": "pg", "listedTwice": true, "children": [
      {"type": "group", "id": "edit", "children": [
        {"type": "path", "id": "editPath"},
        {"type": "group", "id": "deep", "children": [{"type": "path", "id": "deepPath"}]}]}],
   "result": {"type": "group", "id": "result", "children": [{"type": "path", "id": "shown"}]}},
  {"type": "group", "id": "cut", "noParent": true, "children": [{"type": "path", "id": "cutPath"}]},
  {"type": "compoundPath", "id": "cp", "children": [
    {"type": "path", "id": "cpPart"}, {"type": "path", "id": "cpGuide", "guide": true}]},
  {"type": "placed", "id": "placed", "listedTwice": true},
  {"type": "symbol", "id": "symbol", "children": [{"type": "path", "id": "symbolPart"}]},
  {"type": "raster", "id": "raster"}]}]})";

TEST(WholeObjects, EachCommandSelectsItsKindWithWhatItsKindTakesAlong) {
    const std::pair<int, std::vector<std::string>> cases[] = {
        // Contents too, guides excepted.
        {10, {"cp", "cpPart"}},
        // Not the layer's root nor "cut" (no parent), not "edit" nor
        // "result" (parent a plugin group); "deep" is in a plain group.
        {11, {"top", "topPath", "deep", "deepPath"}},
        // The result group and what it holds; the edit art stays as it was.
        {12, {"pg", "result", "shown"}},
        // Their own attribute only.
        {15, {"raster"}},
        {16, {"symbol"}},
        {17, {"placed"}},
    };
    const Document drawing = fixture(kObjects);
    for (const auto& c : cases) {
        PluginHarness h;
        ASSERT_EQ(h.startup(), kNoErr);
        h.host.setDocument(drawing);
        EXPECT_EQ(h.choose(c.first), kNoErr);
        EXPECT_THAT(selectedIds(h.host.document()), ::testing::ElementsAreArray(c.second)) << "slot " << c.first;
        h.expectCleanShutdown();
    }
}

TEST(WholeObjects, AnObjectListedTwiceInARowIsActedOnOnce) {
    for (const int slot : {12, 17}) {
        PluginHarness h;
        h.host.setDocument(fixture(kObjects));
        HeldSuites held(h.host);
        EXPECT_EQ(runPluginCommand(commandOfSlot(slot)), kNoErr);
        // pg: select sets pg, result and shown, then pg once more; placed: once.
        EXPECT_EQ(h.host.gate().calls(Op::SetArtUserAttr), slot == 12 ? 4u : 1u);
    }
}

// Groups A (listed twice) and B, the edit group E of a plugin group, and
// the layer's root #0: E and #0 are passed over for their parents.
TEST(SelectGroups, APassedOverGroupLeavesThePreviousObjectAsItWas) {
    const char* const json = R"({"layers": [{"name": "L", "art": [
      {"type": "group", "id": "A", "listedTwice": true}, {"type": "group", "id": "B"},
      {"type": "pluginGroup", "id": "P", "children": [{"type": "group", "id": "E"}]}]}]})";
    const std::pair<std::vector<std::string>, std::uint64_t> cases[] = {
        {{"A", "E", "A", "B", "#0"}, 2},   // E between the two: A is still the previous
        {{"A", "#0", "A", "B", "E"}, 2},   // so is the root, passed over for no parent
        {{"A", "B", "A", "E", "#0"}, 3},   // B acted on between: A again
    };
    for (const auto& c : cases) {
        PluginHarness h;
        h.host.setDocument(fixture(json));
        h.host.matching().shuffle = true;
        h.host.matching().shuffleSeed = seedGivingOrder(h.host, kGroupArt, c.first);
        h.host.gate().resetCounts();
        HeldSuites held(h.host);
        EXPECT_EQ(selectGroups(nullptr), kNoErr);
        EXPECT_THAT(selectedIds(h.host.document()), ElementsAre("A", "B"));
        EXPECT_EQ(h.host.gate().calls(Op::SetArtUserAttr), c.second);
    }
}

TEST(SelectPluginGroups, AFailedMarkEndsTheCommandAfterSelectRan) {
    PluginHarness h;
    h.host.setDocument(fixture(kObjects));
    HeldSuites held(h.host);
    // select sets pg, result and shown; the fourth is the command's own mark.
    h.host.gate().addRule(FaultRule::failNthOf(Op::SetArtUserAttr, 4, 51));
    EXPECT_EQ(selectPluginGroups(nullptr), 51);
    h.host.gate().clearRules();
    EXPECT_THAT(selectedIds(h.host.document()), ElementsAre("pg", "result", "shown"));
    EXPECT_EQ(h.host.gate().calls(Op::DisposeHandle), 2u);
}

}  // namespace
