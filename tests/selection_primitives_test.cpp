// The kind queries, select and unselect_selection, called directly with the
// suites held.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "PluginHarness.h"
#include "SelectionTesting.h"
#include "simhost/Generator.h"

using namespace simhost;
using namespace wendlow_test;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

// One object of every kind the queries ask for, a plugin group with edit
// art and a result group, and a group holding a guide.
const char* const kDrawing = R"({"layers": [{"name": "L", "art": [
  {"type": "group", "id": "g", "children": [
    {"type": "path", "id": "gPath"},
    {"type": "path", "id": "gGuide", "guide": true},
    {"type": "group", "id": "gInner", "children": [{"type": "mesh", "id": "gMesh"}]}]},
  {"type": "pluginGroup", "id": "pg", "children": [{"type": "path", "id": "edit"}],
   "result": {"type": "group", "id": "result", "children": [{"type": "path", "id": "shown"}]}},
  {"type": "compoundPath", "id": "cp", "children": [{"type": "path", "id": "cpPart"}]},
  {"type": "placed", "id": "placed"}, {"type": "raster", "id": "raster"},
  {"type": "symbol", "id": "symbol"}, {"type": "text", "id": "text"}]}]})";

struct QueryCase {
    ASErr (*query)(AIArtHandle***, ai::int32*);
    AIArtType type;
    ai::int32 expected;
};

TEST(KindQueries, EachAsksForItsTypeAloneAndHandsOverEveryMatch) {
    const QueryCase cases[] = {
        {get_paths, kPathArt, 5},          {get_compound_paths, kCompoundPathArt, 1},
        {get_groups, kGroupArt, 4},        {get_pluginGroups, kPluginArt, 1},
        {get_meshes, kMeshArt, 1},         {get_placed, kPlacedArt, 1},
        {get_symbols, kSymbolArt, 1},      {get_rasters, kRasterArt, 1},
    };
    PluginHarness h;
    h.host.setDocument(fixture(kDrawing));
    HeldSuites held(h.host);
    h.host.gate().setLogging(true);
    for (const QueryCase& c : cases) {
        h.host.gate().clearLog();
        AIArtHandle** matches = nullptr;
        ai::int32 count = -1;
        ASSERT_EQ(c.query(&matches, &count), kNoErr);
        ASSERT_EQ(h.host.gate().log().size(), 1u);
        EXPECT_EQ(h.host.gate().log()[0].op, Op::GetMatchingArt);
        EXPECT_EQ(h.host.gate().log()[0].detail, "1 record(s), type " + std::to_string(c.type));
        ASSERT_EQ(count, c.expected);
        for (ai::int32 i = 0; i < count; ++i)
            EXPECT_EQ(h.host.document().art(*h.host.artIndexOf((*matches)[i])).type, c.type);
        EXPECT_EQ(sAIMDMemory->MdMemoryDisposeHandle(matches), kNoErr);
    }
    EXPECT_THAT(h.host.ledger().violations(), IsEmpty());
}

// The host keeps a list per type for its matching query: it must follow
// the document as objects are added and levers change.
TEST(KindQueries, SeeObjectsAddedSinceTheLastQueryInDocumentOrder) {
    PluginHarness h;
    h.host.setDocument(fixture(kDrawing));
    Document& doc = h.host.document();
    EXPECT_THAT(matchingOrder(h.host, kRasterArt), ElementsAre("raster"));
    doc.addArt(doc.find("g"), kRasterArt, "early");
    doc.addArt(doc.rootOf(0), kRasterArt, "late");
    EXPECT_THAT(matchingOrder(h.host, kRasterArt), ElementsAre("early", "raster", "late"));
    doc.art(doc.find("raster")).listedTwice = true;
    EXPECT_THAT(matchingOrder(h.host, kRasterArt), ElementsAre("early", "raster", "raster", "late"));
    EXPECT_THAT(h.problems(), IsEmpty());
}

// The host answers well-formed calls on a short path of its own; a call it
// must refuse takes the full one, is counted all the same and recorded.
TEST(HostArtQueries, RefuseTheWrongObjectANullHandleOrNoPlaceForTheAnswer) {
    PluginHarness h;
    h.host.setDocument(fixture(kDrawing));
    HeldSuites held(h.host);
    h.host.gate().resetCounts();
    const AIArtHandle group = h.host.artHandle(h.host.document().find("g"));
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
    EXPECT_EQ(h.host.gate().totalCalls(), 7u);
    EXPECT_EQ(h.host.ledger().violations().size(), 6u);
    h.host.ledger().clearViolations();
}

TEST(KindQueries, AFailedQueryDisposesOfAHandleTheHostGaveAndHandsNothingOver) {
    for (const bool handleOnFailure : {false, true}) {
        PluginHarness h;
        h.host.setDocument(fixture(kDrawing));
        h.host.matching().handleOnFailure = handleOnFailure;
        {
            HeldSuites held(h.host);
            h.host.gate().addRule(FaultRule::failEvery(Op::GetMatchingArt, 42));
            AIArtHandle** matches = nullptr;
            ai::int32 count = 0;
            EXPECT_EQ(get_meshes(&matches, &count), 42);
            EXPECT_EQ(matches, nullptr);
            EXPECT_EQ(h.host.gate().calls(Op::DisposeHandle), handleOnFailure ? 1u : 0u);
            h.host.gate().clearRules();
        }
        EXPECT_THAT(h.problems(), IsEmpty());
    }
}

TEST(Select, SetsEveryObjectBelowButGuidesAndWalksAPluginGroupThroughItsResult) {
    PluginHarness h;
    h.host.setDocument(fixture(kDrawing));
    Document& doc = h.host.document();
    HeldSuites held(h.host);
    h.host.gate().setLogging(true);

    EXPECT_EQ(select(h.host.artHandle(doc.find("g")), 1), kNoErr);
    EXPECT_THAT(selectedIds(doc), ElementsAre("g", "gPath", "gInner", "gMesh"));

    // A guide keeps its selection either way.
    doc.art(doc.find("gGuide")).attributes |= kArtSelected;
    EXPECT_EQ(select(h.host.artHandle(doc.find("g")), 0), kNoErr);
    EXPECT_THAT(selectedIds(doc), ElementsAre("gGuide"));

    // The result group and what is in it, not the edit art; get-first-child
    // is never asked for the plugin group itself.
    h.host.gate().clearLog();
    EXPECT_EQ(select(h.host.artHandle(doc.find("pg")), 1), kNoErr);
    EXPECT_THAT(selectedIds(doc), ElementsAre("gGuide", "pg", "result", "shown"));
    const std::string pg = "art#" + std::to_string(doc.find("pg"));
    for (const CallRecord& call : h.host.gate().log())
        EXPECT_FALSE(call.op == Op::GetArtFirstChild && call.detail == pg) << describeCall(call);

    // An object with nothing below it.
    EXPECT_EQ(select(h.host.artHandle(doc.find("placed")), 1), kNoErr);
    EXPECT_EQ(doc.art(doc.find("placed")).attributes, kArtSelected);
}

TEST(Select, AFailedWalkEndsOneLevelOnlyAndUnreadTypesOrAttributesDoNotStopIt) {
    PluginHarness h;
    h.host.setDocument(fixture(kDrawing));
    Document& doc = h.host.document();
    HeldSuites held(h.host);
    const AIArtHandle g = h.host.artHandle(doc.find("g"));

    // The first sibling asked for is gPath's: gGuide and gInner are lost to
    // g's walk, which returns the error.
    h.host.gate().addRule(FaultRule::failNthOf(Op::GetArtSibling, 1, 11));
    EXPECT_EQ(select(g, 1), 11);
    EXPECT_THAT(selectedIds(doc), ElementsAre("g", "gPath"));
    h.host.gate().clearRules();
    select(g, 0);

    // The third sibling asked for is gMesh's, inside gInner: only gInner's
    // walk ends, g's own walk ran to its end.
    h.host.gate().addRule(FaultRule::failNthOf(Op::GetArtSibling, 3, 11));
    EXPECT_EQ(select(g, 1), kNoErr);
    EXPECT_THAT(selectedIds(doc), ElementsAre("g", "gPath", "gInner", "gMesh"));
    h.host.gate().clearRules();
    select(g, 0);

    // Neither a type nor an attribute that the host would not give stops
    // the walk; a first child it would not give does, with its error.
    h.host.gate().addRule(FaultRule::failNthOf(Op::GetArtType, 1, 12));
    h.host.gate().addRule(FaultRule::failNthOf(Op::SetArtUserAttr, 2, 13));
    EXPECT_EQ(select(g, 1), kNoErr);
    EXPECT_THAT(selectedIds(doc), ElementsAre("gPath", "gMesh"));
    h.host.gate().clearRules();
    h.host.gate().addRule(FaultRule::failNthOf(Op::GetArtFirstChild, 1, 14));
    EXPECT_EQ(select(g, 1), 14);
    h.host.gate().clearRules();
    EXPECT_THAT(h.host.ledger().violations(), IsEmpty());
}

TEST(UnselectSelection, ClearsAllButGuidesAndTakesBothFormsOfAnEmptySelection) {
    for (const bool nullForEmpty : {false, true}) {
        PluginHarness h;
        h.host.setDocument(fixture(kDrawing));
        h.host.matching().nullHandleForEmpty = nullForEmpty;
        Document& doc = h.host.document();
        {
            HeldSuites held(h.host);
            EXPECT_EQ(unselect_selection(), kNoErr);
            EXPECT_EQ(h.host.gate().calls(Op::SetArtUserAttr), 0u);
            EXPECT_EQ(h.host.gate().calls(Op::DisposeHandle), nullForEmpty ? 0u : 1u);

            for (const char* id : {"gGuide", "gInner", "result", "text"}) doc.art(doc.find(id)).attributes |= kArtSelected;
            doc.art(doc.find("gMesh")).attributes |= kArtSelected;
            EXPECT_EQ(unselect_selection(), kNoErr);
            EXPECT_THAT(selectedIds(doc), ElementsAre("gGuide"));
        }
        EXPECT_THAT(h.problems(), IsEmpty());
    }
}

TEST(UnselectSelection, AFailedSelectionQueryDeselectsNothingAndReturnsItsError) {
    for (const bool handleOnFailure : {false, true}) {
        PluginHarness h;
        h.host.setDocument(fixture(kDrawing));
        h.host.matching().handleOnFailure = handleOnFailure;
        Document& doc = h.host.document();
        doc.art(doc.find("placed")).attributes |= kArtSelected;
        {
            HeldSuites held(h.host);
            h.host.gate().addRule(FaultRule::failEvery(Op::GetSelectedArt, 21));
            EXPECT_EQ(unselect_selection(), 21);
            h.host.gate().clearRules();
        }
        EXPECT_THAT(selectedIds(doc), ElementsAre("placed"));
        EXPECT_THAT(h.problems(), IsEmpty());
    }
}

// A million levels: far beyond what a walk on the machine stack survives.
TEST(Select, WalksAChainNestedAMillionDeepLikeAShallowOne) {
    constexpr std::size_t kDepth = 1000000;
    PluginHarness h;
    h.host.setDocument(generateNestedChain(kDepth));
    Document& doc = h.host.document();
    const ArtIndex top = doc.art(doc.rootOf(0)).firstChild;
    HeldSuites held(h.host);
    h.host.gate().resetCounts();

    EXPECT_EQ(select(h.host.artHandle(top), 1), kNoErr);
    EXPECT_EQ(doc.selected().size(), kDepth + 1);  // every group and the leaf path
    EXPECT_NE(doc.art(doc.find("leaf")).attributes & kArtSelected, 0);
    EXPECT_EQ(doc.art(doc.rootOf(0)).attributes & kArtSelected, 0);
    // Each object: its type, its attribute, its first child; the leaf path
    // its guide state too; every object below the top: its next sibling.
    EXPECT_EQ(h.host.gate().calls(Op::GetArtType), kDepth + 1);
    EXPECT_EQ(h.host.gate().calls(Op::GetArtFirstChild), kDepth + 1);
    EXPECT_EQ(h.host.gate().calls(Op::GetArtSibling), kDepth);
    EXPECT_EQ(h.host.gate().calls(Op::GetPathGuide), 1u);

    // unselect_selection would walk again from each of the million selected
    // objects, a quadratic amount of work; the deep walk is the top one's.
    EXPECT_EQ(select(h.host.artHandle(top), 0), kNoErr);
    EXPECT_THAT(doc.selected(), IsEmpty());
    EXPECT_THAT(h.host.ledger().violations(), IsEmpty());
}

}  // namespace
