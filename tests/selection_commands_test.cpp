// The selection commands and the primitives under them (the kind queries,
// select, unselect_selection), through the menu or called directly with the
// suites held. selection_faults_test and selection_generated_test hold every
// command to the host's own run (DirectSelection) under failures and on
// generated drawings; the cases here are the ones those cannot see (a
// shuffled host, odd bytes, a lost layer, a million levels) and the
// hand-written outcome each command must reach.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "PluginHarness.h"
#include "SelectionTesting.h"
#include "simhost/Dialogs.h"
#include "simhost/Document.h"
#include "simhost/Gate.h"
#include "simhost/Generator.h"
#include "simhost/Ledger.h"
#include "simhost/MatchingOptions.h"

using namespace simhost;
using namespace wendlow_test;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

namespace {

using Ids = std::vector<std::string>;

// The plug-in in a fresh host with `drawing` open.
struct Scene {
    explicit Scene(const Document& drawing) { h.host.setDocument(drawing); }
    explicit Scene(const std::string& json) : Scene(fixture(json)) {}
    // "AI Go" for the item in `slot` (after "Startup" the first time): what is selected then.
    Ids choose(int slot) {
        if (g == nullptr) {
            EXPECT_EQ(h.startup(), kNoErr);
        }
        EXPECT_EQ(h.choose(slot), kNoErr);
        return selected();
    }
    Ids selected() { return selectedIds(h.host.document()); }
    Document& doc() { return h.host.document(); }
    AIArtHandle art(const char* id) { return h.host.artHandle(doc().find(id)); }
    std::uint64_t calls(Op op) { return h.host.gate().calls(op); }
    // The plug-in shuts down (if it started), nothing is held and no rule broken.
    void expectClean() {
        if (g != nullptr) {
            EXPECT_EQ(h.shutdown(), kNoErr);
        }
        EXPECT_THAT(h.problems(), IsEmpty());
    }
    PluginHarness h;
};

// The host shuffles its matches into the order `ids` for `type`.
void shuffleInto(Scene& s, AIArtType type, const Ids& ids) {
    s.h.host.matching().shuffle = true;
    s.h.host.matching().shuffleSeed = seedGivingOrder(s.h.host, type, ids);
    s.h.host.gate().resetCounts();
}

// ---- Paths ---------------------------------------------------------------------------------

// paths.json (tests/data/selection), eligible paths with their (closed, fill,
// stroke, dash): open (0,1,0,0), closed (1,0,1,0), dashed (1,1,1,3), bytes2
// (0,2,2,5), undashed (1,0,0,4), inGroup (0,1,1,0), deep (1,1,1,2), inPlugin
// (0,0,0,0), resultDeep (1,1,0,0), orphan (0,0,1,0). Guides: guide, pgGuide. Never
// selected apart from their plugin group: editPart and resultPart.
// Excluded by attribute or layer: locked, hidden, lockedLayer, hiddenLayer.

TEST(SelectPaths, EachItemSelectsItsEligiblePathsAndNothingElse) {
    const std::pair<int, Ids> cases[] = {
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
    const Document drawing = fixtureFile("paths");
    for (const auto& [slot, expected] : cases) {
        SCOPED_TRACE("slot " + std::to_string(slot));
        Scene s(drawing);
        EXPECT_THAT(s.choose(slot), ElementsAreArray(expected));
        EXPECT_EQ(s.doc().fingerprintBesidesSelection(), drawing.fingerprintBesidesSelection());
        // Closed state only where the mode asks for it.
        EXPECT_EQ(s.calls(Op::GetPathClosed), slot == 2 || slot == 3 ? 10u : 0u);
        EXPECT_TRUE(s.h.host.dialogs().empty());
        // The orphan's missing parent was never handed back to the host.
        s.expectClean();
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
        Scene s(R"({"layers": [{"name": "L", "art": [{"type": "path", "id": "p", "closed": )" +
                std::to_string(c.closed) + R"(, "fill": )" + std::to_string(c.fill) + R"(, "stroke": )" +
                std::to_string(c.stroke) + R"(, "dashCount": )" + std::to_string(c.dashCount) + "}]}]}");
        std::string selectedBy;
        for (const auto& [slot, letter] : items)
            if (!s.choose(slot).empty()) selectedBy += letter;
        EXPECT_EQ(selectedBy, c.selectedBy) << c.name;
        s.expectClean();
    }
}

TEST(SelectPaths, ModesOutsideTheTableClearTheSelectionAndSelectNothing) {
    for (const ai::int16 mode : {ai::int16(-32768), ai::int16(-1), ai::int16(10), ai::int16(32767)}) {
        Scene s(fixtureFile("paths"));
        {
            HeldSuites held(s.h.host);
            EXPECT_EQ(selectPaths(nullptr, mode), kNoErr);
        }
        EXPECT_THAT(s.selected(), IsEmpty()) << "mode " << mode;
        s.expectClean();
    }
}

// Unlike the whole-object commands, a path listed twice is examined twice.
TEST(SelectPaths, APathListedTwiceIsExaminedTwice) {
    Scene s(R"({"layers": [{"name": "L", "art": [
      {"type": "path", "id": "twice", "listedTwice": true}, {"type": "path", "id": "once"}]}]})");
    HeldSuites held(s.h.host);
    EXPECT_EQ(selectPaths(nullptr, kAllPaths), kNoErr);
    EXPECT_THAT(s.selected(), ElementsAre("twice", "once"));
    EXPECT_EQ(s.calls(Op::GetPathStyle), 3u);
    EXPECT_EQ(s.calls(Op::SetArtUserAttr), 3u);
}

// ---- Meshes ---------------------------------------------------------------------------------

// meshes.json: the ancestry type (the grandparent's type, 1 when there is
// none) of each mesh:
// top 1 (no grandparent), inGroup 1 (the layer's root), nested 1, inEdit 10,
// inResult 10, inPlugin 1 (the plugin group's parent is a group), underCompound
// 3, orphan 1 (no parent), parentOrphan 1 (its parent has none).

TEST(SelectMeshes, EachItemSelectsTheMeshesOfItsAncestry) {
    const Document drawing = fixtureFile("meshes");
    const std::pair<int, Ids> cases[] = {
        {13, {"top", "inGroup", "nested", "inPlugin", "orphan", "parentOrphan"}},
        {14, {"inEdit", "inResult"}},
    };
    for (const auto& [slot, expected] : cases) {
        Scene s(drawing);
        EXPECT_THAT(s.choose(slot), ElementsAreArray(expected)) << "slot " << slot;
        EXPECT_EQ(s.doc().fingerprintBesidesSelection(), drawing.fingerprintBesidesSelection());
        // Neither missing parent was handed back to the host.
        s.expectClean();
    }
}

TEST(SelectMeshes, OtherModesSelectNothingYetStillAskEveryEligibleMeshsAncestry) {
    for (const ai::int16 mode : {ai::int16(-1), ai::int16(2), ai::int16(11)}) {
        Scene s(fixtureFile("meshes"));
        HeldSuites held(s.h.host);
        EXPECT_EQ(selectMeshes(nullptr, mode), kNoErr);
        EXPECT_THAT(s.selected(), IsEmpty());
        // Nine eligible meshes, two parent queries each but for orphan,
        // which has no parent to ask about.
        EXPECT_EQ(s.calls(Op::GetArtParent), 17u);
        // Only the hidden mesh's selection was cleared.
        EXPECT_EQ(s.calls(Op::SetArtUserAttr), 1u);
    }
}


// The host lists a mesh named twice in adjacent places; a shuffle parts them.
TEST(SelectMeshes, ARepeatIsExaminedAgainOnlyAfterAnotherMeshReachedTheAncestryTest) {
    const std::pair<Ids, std::uint64_t> cases[] = {
        {{"a", "a", "b", "x"}, 2},  // straight after itself: passed over
        {{"a", "b", "a", "x"}, 3},  // b came between: examined again
        {{"a", "x", "a", "b"}, 2},  // x failed the tests and is not the previous mesh
    };
    for (const auto& [order, examined] : cases) {
        Scene s(fixtureFile("repeats"));
        shuffleInto(s, kMeshArt, order);
        {
            HeldSuites held(s.h.host);
            EXPECT_EQ(selectMeshes(nullptr, kMeshesInGroups), kNoErr);
        }
        EXPECT_THAT(s.selected(), ElementsAre("a", "b"));
        // One parent query per mesh examined: their parents are layer roots.
        EXPECT_EQ(s.calls(Op::GetArtParent), 2 * examined);
        EXPECT_EQ(s.calls(Op::SetArtUserAttr), examined);
    }
}

// ---- Every command, and the whole-object commands -----------------------------------------------

// Slots whose command selects every eligible top-level object of one type:
// all paths, compound paths, groups, plugin groups, meshes in groups
// (a top-level mesh has no grandparent), rasters, symbols, placed.
const int kKindSlots[] = {1, 10, 11, 12, 13, 15, 16, 17};

// Five layers (flags as named), each with one object of `type`; on the
// first layer also a locked and a hidden one. Any flag byte but 0 is on.
Document layerMatrix(AIArtType type) {
    Document doc;
    const struct {
        const char* name;
        bool visible, editable;
    } layers[] = {{"on", true, true}, {"B off", true, false}, {"A off", false, true}, {"both off", false, false},
                  {"odd bytes", true, true}};
    for (const auto& l : layers) {
        const LayerIndex layer = doc.addLayer(l.name, l.visible, l.editable);
        doc.addArt(doc.rootOf(layer), type, l.name);
    }
    doc.layer(4).visible = 2;
    doc.layer(4).editable = 255;
    doc.art(doc.addArt(doc.rootOf(0), type, "locked")).attributes = kArtLocked;
    doc.art(doc.addArt(doc.rootOf(0), type, "hidden")).attributes = kArtHidden | kArtSelected;
    return doc;
}

TEST(EveryCommand, SelectsOnlyObjectsOnLayersPassingBothFlagsAndWithoutExcludedBits) {
    for (const int slot : kKindSlots) {
        SCOPED_TRACE("slot " + std::to_string(slot));
        const AIArtType type = matchedType(commandOfSlot(slot).kind);
        Scene s(layerMatrix(type));
        EXPECT_THAT(s.choose(slot), ElementsAre("on", "odd bytes"));

        // Flag B of every match's layer, flag A only where B was on.
        const Document& doc = s.doc();
        std::uint64_t matches = 0, flagBOn = 0;
        for (const ArtIndex index : doc.documentOrder()) {
            if (doc.art(index).type != type) continue;
            ++matches;
            flagBOn += doc.layer(doc.art(index).layer).editable != 0;
        }
        EXPECT_EQ(s.calls(Op::GetLayerEditable), matches);
        EXPECT_EQ(s.calls(Op::GetLayerVisible), flagBOn);
        s.expectClean();
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
            Scene s(doc);
            {
                HeldSuites held(s.h.host);
                EXPECT_EQ(runPluginCommand(commandOfSlot(slot)), kNoErr);
            }
            EXPECT_EQ(s.selected(), firstLost ? Ids{} : Ids{"before"});
            // No layer is asked for after the lost one's (Groups, which also
            // meets the layer's root group, asks once more).
            EXPECT_EQ(s.calls(Op::GetArtLayer), (firstLost ? 1u : 2u) + (slot == 11 ? 1u : 0u));
            s.expectClean();
        }
    }
}

TEST(EveryCommand, AnEmptyDocumentGivesAnEmptySelectionInBothEmptyForms) {
    for (const bool nullForEmpty : {false, true}) {
        Scene s(R"({"layers": []})");
        s.h.host.matching().nullHandleForEmpty = nullForEmpty;
        for (int slot = 0; slot < kCommandSlots; ++slot) EXPECT_THAT(s.choose(slot), IsEmpty());
        EXPECT_EQ(s.calls(Op::GetArtLayer), 0u);
        EXPECT_EQ(s.calls(Op::DisposeHandle), nullForEmpty ? 0u : 2u * kCommandSlots);
        s.expectClean();
    }
}

TEST(WholeObjects, EachCommandSelectsItsKindWithWhatItsKindTakesAlong) {
    const std::pair<int, Ids> cases[] = {
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
    const Document drawing = fixtureFile("objects");
    for (const auto& [slot, expected] : cases) {
        Scene s(drawing);
        EXPECT_THAT(s.choose(slot), ElementsAreArray(expected)) << "slot " << slot;
        s.expectClean();
    }
}

// Groups A (listed twice) and B, the edit group E of a plugin group, and
// the layer's root #0: E and #0 are passed over for their parents.
TEST(SelectGroups, APassedOverGroupLeavesThePreviousObjectAsItWas) {
    const char* const json = R"({"layers": [{"name": "L", "art": [
      {"type": "group", "id": "A", "listedTwice": true}, {"type": "group", "id": "B"},
      {"type": "pluginGroup", "id": "P", "children": [{"type": "group", "id": "E"}]}]}]})";
    const std::pair<Ids, std::uint64_t> cases[] = {
        {{"A", "E", "A", "B", "#0"}, 2},   // E between the two: A is still the previous
        {{"A", "#0", "A", "B", "E"}, 2},   // so is the root, passed over for no parent
        {{"A", "B", "A", "E", "#0"}, 3},   // B acted on between: A again
    };
    for (const auto& [order, marks] : cases) {
        Scene s(json);
        shuffleInto(s, kGroupArt, order);
        HeldSuites held(s.h.host);
        EXPECT_EQ(selectGroups(nullptr), kNoErr);
        EXPECT_THAT(s.selected(), ElementsAre("A", "B"));
        EXPECT_EQ(s.calls(Op::SetArtUserAttr), marks);
    }
}

// ---- The primitives ---------------------------------------------------------------------------

// kinds.json: one object of every kind the queries ask for, a plugin group
// with edit art and a result group, and a group holding a guide.

// The host keeps a list per type for its matching query: it must follow
// the document as objects are added and levers change.
TEST(KindQueries, SeeObjectsAddedSinceTheLastQueryInDocumentOrder) {
    Scene s(fixtureFile("kinds"));
    EXPECT_THAT(matchingOrder(s.h.host, kRasterArt), ElementsAre("raster"));
    s.doc().addArt(s.doc().find("g"), kRasterArt, "early");
    s.doc().addArt(s.doc().rootOf(0), kRasterArt, "late");
    EXPECT_THAT(matchingOrder(s.h.host, kRasterArt), ElementsAre("early", "raster", "late"));
    s.doc().art(s.doc().find("raster")).listedTwice = true;
    EXPECT_THAT(matchingOrder(s.h.host, kRasterArt), ElementsAre("early", "raster", "raster", "late"));
    s.expectClean();
}

// The host answers well-formed calls on a short path of its own; a call it
// must refuse takes the full one, is counted all the same and recorded.
TEST(HostArtQueries, RefuseTheWrongObjectANullHandleOrNoPlaceForTheAnswer) {
    Scene s(fixtureFile("kinds"));
    HeldSuites held(s.h.host);
    s.h.host.gate().resetCounts();
    const AIArtHandle group = s.art("g");
    ASBoolean guide = 0;
    AIArtType type = 0;
    AIArtHandle result = nullptr;
    EXPECT_EQ(sAIPath->GetPathGuide(group, &guide), kBadParameterErr);
    EXPECT_EQ(sAIPluginGroup->GetPluginArtResultArt(group, &result), kBadParameterErr);
    EXPECT_EQ(sAIArt->GetArtType(group, nullptr), kBadParameterErr);
    EXPECT_EQ(sAIArt->GetArtType(nullptr, &type), kBadParameterErr);
    EXPECT_EQ(sAIArt->SetArtUserAttr(nullptr, kArtSelected, kArtSelected), kBadParameterErr);
    EXPECT_EQ(sLayer->GetLayerVisible(nullptr, &guide), kBadParameterErr);
    EXPECT_EQ(sAIArt->GetArtType(group, &type), kNoErr);
    EXPECT_EQ(type, kGroupArt);
    EXPECT_EQ(s.h.host.gate().totalCalls(), 7u);
    EXPECT_EQ(s.h.host.ledger().violations().size(), 6u);
    s.h.host.ledger().clearViolations();
}

// How an error ends a level of the walk is held to the host's own run by
// selection_faults_test.
TEST(Select, SetsEveryObjectBelowButGuidesAndWalksAPluginGroupThroughItsResult) {
    Scene s(fixtureFile("kinds"));
    HeldSuites held(s.h.host);
    s.h.host.gate().setLogging(true);

    EXPECT_EQ(select(s.art("g"), 1), kNoErr);
    EXPECT_THAT(s.selected(), ElementsAre("g", "gPath", "gInner", "gMesh"));

    // A guide keeps its selection either way.
    s.doc().art(s.doc().find("gGuide")).attributes |= kArtSelected;
    EXPECT_EQ(select(s.art("g"), 0), kNoErr);
    EXPECT_THAT(s.selected(), ElementsAre("gGuide"));

    // The result group and what is in it, not the edit art; get-first-child
    // is never asked for the plugin group itself.
    s.h.host.gate().clearLog();
    EXPECT_EQ(select(s.art("pg"), 1), kNoErr);
    EXPECT_THAT(s.selected(), ElementsAre("gGuide", "pg", "result", "shown"));
    for (const CallRecord& call : s.h.host.gate().log())
        EXPECT_FALSE(call.op == Op::GetArtFirstChild && call.handle == s.art("pg")) << describeCall(call);

    // An object with nothing below it.
    EXPECT_EQ(select(s.art("placed"), 1), kNoErr);
    EXPECT_EQ(s.doc().art(s.doc().find("placed")).attributes, kArtSelected);
}

TEST(UnselectSelection, ClearsAllButGuidesAndTakesBothFormsOfAnEmptySelection) {
    for (const bool nullForEmpty : {false, true}) {
        Scene s(fixtureFile("kinds"));
        s.h.host.matching().nullHandleForEmpty = nullForEmpty;
        {
            HeldSuites held(s.h.host);
            EXPECT_EQ(unselect_selection(), kNoErr);
            EXPECT_EQ(s.calls(Op::SetArtUserAttr), 0u);
            EXPECT_EQ(s.calls(Op::DisposeHandle), nullForEmpty ? 0u : 1u);

            for (const char* id : {"gGuide", "gInner", "result", "text", "gMesh"})
                s.doc().art(s.doc().find(id)).attributes |= kArtSelected;
            EXPECT_EQ(unselect_selection(), kNoErr);
            EXPECT_THAT(s.selected(), ElementsAre("gGuide"));
        }
        s.expectClean();
    }
}

// A million levels: far beyond what a walk on the machine stack survives.
TEST(Select, WalksAChainNestedAMillionDeepLikeAShallowOne) {
    constexpr std::size_t kDepth = 1000000;
    Scene s(generateNestedChain(kDepth));
    Document& doc = s.doc();
    const AIArtHandle top = s.h.host.artHandle(doc.art(doc.rootOf(0)).firstChild);
    HeldSuites held(s.h.host);
    s.h.host.gate().resetCounts();

    EXPECT_EQ(select(top, 1), kNoErr);
    EXPECT_EQ(doc.selected().size(), kDepth + 1);  // every group and the leaf path
    EXPECT_NE(doc.art(doc.find("leaf")).attributes & kArtSelected, 0);
    EXPECT_EQ(doc.art(doc.rootOf(0)).attributes & kArtSelected, 0);
    // Each object: its type, its attribute, its first child; the leaf path
    // its guide state too; every object below the top: its next sibling.
    EXPECT_EQ(s.calls(Op::GetArtType), kDepth + 1);
    EXPECT_EQ(s.calls(Op::GetArtFirstChild), kDepth + 1);
    EXPECT_EQ(s.calls(Op::GetArtSibling), kDepth);
    EXPECT_EQ(s.calls(Op::GetPathGuide), 1u);

    // unselect_selection would walk again from each of the million selected
    // objects, a quadratic amount of work; the deep walk is the top one's.
    EXPECT_EQ(select(top, 0), kNoErr);
    EXPECT_THAT(doc.selected(), IsEmpty());
    EXPECT_THAT(s.h.host.ledger().violations(), IsEmpty());
}

}  // namespace
