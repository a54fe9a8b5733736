// The stand-in host on its own: suites granted and trapped, the gate's
// fault plans, the ledger, string lists and dialogs.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "ADMSuites.h"
#include "AISuites.h"
#include "IAIUnicodeString.h"
#include "simhost/DocumentJson.h"
#include "simhost/Host.h"

using namespace simhost;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

namespace {

template <typename Suite>
const Suite* acquire(Host& host, const char* name, ai::int32 version, ASErr* err = nullptr) {
    const void* table = nullptr;
    const ASErr code = host.basicSuite()->AcquireSuite(name, version, &table);
    if (err) *err = code;
    return static_cast<const Suite*>(table);
}

TEST(SuiteGrants, ServesOnlyKnownNamesAndVersionsAndCountsHolds) {
    Host host;
    SPBasicSuite* basic = host.basicSuite();
    ASErr err = 0;
    EXPECT_EQ(acquire<AIArtSuite>(host, kAIArtSuite, 1012, &err), nullptr);
    EXPECT_EQ(err, kSuiteNotFoundErr);
    EXPECT_EQ(acquire<AIArtSuite>(host, "AI Art suite", kAIArtSuiteVersion, &err), nullptr);
    EXPECT_EQ(err, kSuiteNotFoundErr);

    const AIArtSuite* first = acquire<AIArtSuite>(host, kAIArtSuite, kAIArtSuiteVersion, &err);
    ASSERT_EQ(err, kNoErr);
    const AIArtSuite* second = acquire<AIArtSuite>(host, kAIArtSuite, kAIArtSuiteVersion, &err);
    EXPECT_EQ(first, second);
    EXPECT_EQ(host.ledger().holds({kAIArtSuite, kAIArtSuiteVersion}), 2);
    EXPECT_EQ(basic->ReleaseSuite(kAIArtSuite, kAIArtSuiteVersion), kNoErr);
    EXPECT_EQ(basic->ReleaseSuite(kAIArtSuite, kAIArtSuiteVersion), kNoErr);
    EXPECT_EQ(basic->ReleaseSuite(kAIArtSuite, kAIArtSuiteVersion), kSuiteNotHeldErr);
    ASSERT_EQ(host.ledger().violations().size(), 1u);
    EXPECT_EQ(host.ledger().violations()[0].rule, "release-not-held");
}

TEST(SuiteGrants, BothMenuVersionsAreServedSeparately) {
    Host host;
    const auto* v7 = acquire<AIMenuSuite1007>(host, kAIMenuSuite, kAIMenuSuiteVersion1007);
    const auto* v8 = acquire<AIMenuSuite>(host, kAIMenuSuite, kAIMenuSuiteVersion);
    ASSERT_NE(v7, nullptr);
    ASSERT_NE(v8, nullptr);
    EXPECT_NE(static_cast<const void*>(v7), static_cast<const void*>(v8));
    EXPECT_EQ(host.ledger().totalHolds(), 2);
}

TEST(SuiteGrants, ReservedSlotsAndReleasedTablesTrapAndNameTheSlot) {
    Host host;
    const auto* art = acquire<AIArtSuite>(host, kAIArtSuite, kAIArtSuiteVersion);
    ASSERT_NE(art, nullptr);
    // Slot 2 is reserved.
    auto reserved = reinterpret_cast<ASErr (*)()>(art->reserved0to4[2]);
    EXPECT_EQ(reserved(), kTrapErr);
    host.basicSuite()->ReleaseSuite(kAIArtSuite, kAIArtSuiteVersion);
    AIArtType type = 0;
    EXPECT_EQ(art->GetArtType(nullptr, &type), kTrapErr);
    ASSERT_EQ(host.ledger().violations().size(), 2u);
    EXPECT_EQ(host.ledger().violations()[0].rule, "reserved-slot");
    EXPECT_THAT(host.ledger().violations()[0].detail, HasSubstr("slot 2 of \"AI Art Suite\" 1013"));
    EXPECT_EQ(host.ledger().violations()[1].rule, "released-suite");
    EXPECT_THAT(host.ledger().violations()[1].detail, HasSubstr("slot 6 of \"AI Art Suite\""));
}

TEST(SuiteGrants, AWrongTableTrapsEverySlot) {
    Host host;
    host.grantWrongTable(kAILayerSuite, kAILayerSuiteVersion);
    const auto* layer = acquire<AILayerSuite>(host, kAILayerSuite, kAILayerSuiteVersion);
    ASSERT_NE(layer, nullptr);
    ASBoolean flag = 7;
    EXPECT_EQ(layer->GetLayerVisible(nullptr, &flag), kTrapErr);
    EXPECT_EQ(flag, 7);
    ASSERT_EQ(host.ledger().violations().size(), 1u);
    EXPECT_EQ(host.ledger().violations()[0].rule, "wrong-table");
}

TEST(Gate, FailsTheNthCallOnceOrFromThenOn) {
    Host host;
    SPBasicSuite* basic = host.basicSuite();
    host.gate().addRule(FaultRule::failNthCall(2));
    void* block = nullptr;
    EXPECT_EQ(basic->AllocateBlock(4, &block), kNoErr);
    EXPECT_EQ(basic->FreeBlock(block), kInjectedFaultErr);
    EXPECT_EQ(basic->FreeBlock(block), kNoErr);
    EXPECT_EQ(host.gate().faultsFired(), 1u);

    host.gate().clearRules();
    host.gate().addRule(FaultRule::failNthCall(2, true, 77));
    EXPECT_EQ(basic->AllocateBlock(4, &block), kNoErr);
    EXPECT_EQ(basic->AllocateBlock(4, &block), 77);
    EXPECT_EQ(block, nullptr);
    EXPECT_EQ(basic->AllocateBlock(4, &block), 77);
    EXPECT_EQ(host.gate().faultsFired(), 2u);
}

TEST(Gate, DeniesOneSuiteAndFailsOneOperation) {
    Host host;
    host.gate().addRule(FaultRule::denySuite(kADMBasicSuite, 5));
    host.gate().addRule(FaultRule::failNthOf(Op::IsEqual, 2));
    ASErr err = 0;
    EXPECT_EQ(acquire<ADMBasicSuite>(host, kADMBasicSuite, kADMBasicSuiteVersion, &err), nullptr);
    EXPECT_EQ(err, 5);
    acquire<AIArtSuite>(host, kAIArtSuite, kAIArtSuiteVersion, &err);
    EXPECT_EQ(err, kNoErr);
    SPBasicSuite* basic = host.basicSuite();
    EXPECT_TRUE(basic->IsEqual("Startup", "Startup"));
    EXPECT_FALSE(basic->IsEqual("Startup", "Startup"));
    EXPECT_TRUE(basic->IsEqual("Startup", "Startup"));
    EXPECT_FALSE(basic->IsEqual("Startup", "startup"));
    EXPECT_EQ(host.gate().calls(Op::IsEqual), 4u);
    EXPECT_EQ(host.gate().calls(Op::AcquireSuite), 2u);
}

TEST(Gate, LogsCallsWithTheirArgumentsOnlyWhenAsked) {
    Host host;
    SPBasicSuite* basic = host.basicSuite();
    basic->IsEqual("a", "b");
    EXPECT_THAT(host.gate().log(), IsEmpty());
    host.gate().setLogging(true);
    host.gate().addRule(FaultRule::failNthOf(Op::AcquireSuite, 1, 9));
    const void* table = nullptr;
    basic->AcquireSuite(kAIUserSuite, kAIUserSuiteVersion, &table);
    ASSERT_EQ(host.gate().log().size(), 1u);
    EXPECT_EQ(describeCall(host.gate().log()[0]),
              "2 acquire-suite(\"AI User Suite\", 1006) -> injected fault 9");
    EXPECT_EQ(opNamed("get-type"), Op::GetArtType);
    EXPECT_EQ(opNamed("GetArtType"), Op::GetArtType);
    EXPECT_FALSE(opNamed("nothing"));
}

TEST(Ledger, BlocksAreCountedAndUnknownFreesAreViolations) {
    Host host;
    SPBasicSuite* basic = host.basicSuite();
    void* block = nullptr;
    ASSERT_EQ(basic->AllocateBlock(84, &block), kNoErr);
    // The host fills new blocks with a pattern so an uncleared block shows.
    EXPECT_EQ(static_cast<unsigned char*>(block)[83], 0xA5);
    EXPECT_THAT(host.problems(), ElementsAre(HasSubstr("memory block(s) allocated outside any message")));
    EXPECT_EQ(basic->FreeBlock(block), kNoErr);
    EXPECT_THAT(host.problems(), IsEmpty());
    EXPECT_EQ(basic->FreeBlock(block), kBadParameterErr);
    EXPECT_THAT(host.problems(), ElementsAre(HasSubstr("free-block")));
}

TEST(UnicodeStrings, InitializeCopyAndDestroyAreAccounted) {
    Host host;
    const auto* strings = acquire<AIUnicodeStringSuite>(host, kAIUnicodeStringSuite, kAIUnicodeStringSuiteVersion);
    ai::UnicodeString a;
    ai::UnicodeString b;
    ASSERT_EQ(strings->Initialize(&a, "About", 5, 0), kNoErr);
    EXPECT_EQ(*host.ledger().stringText(a.handle()), "About");
    EXPECT_EQ(strings->Copy(&b, &a), kNoErr);
    EXPECT_NE(a.handle(), b.handle());
    EXPECT_EQ(*host.ledger().stringText(b.handle()), "About");
    EXPECT_EQ(strings->Copy(&b, &b), kNoErr);
    EXPECT_EQ(host.ledger().liveStrings(), 2u);
    strings->Destroy(&a);
    strings->Destroy(&b);
    EXPECT_EQ(a.handle(), nullptr);
    EXPECT_EQ(host.ledger().liveStrings(), 0u);
    host.basicSuite()->ReleaseSuite(kAIUnicodeStringSuite, kAIUnicodeStringSuiteVersion);
    EXPECT_THAT(host.problems(), IsEmpty());
}

TEST(Resources, ParsesListsAndDialogsAndReportsBadFiles) {
    const Resources r = Resources::parse(
        R"({"stringLists": {"5": ["a", "b"]},
            "dialogs": {"7": {"name": "D", "items": [{"id": 1, "kind": "button", "text": "OK"}]}}})",
        "test");
    ASSERT_NE(r.stringList(5), nullptr);
    EXPECT_THAT(*r.stringList(5), ElementsAre("a", "b"));
    EXPECT_EQ(r.stringList(6), nullptr);
    ASSERT_NE(r.dialog(7), nullptr);
    EXPECT_EQ(r.dialog(7)->items[0].text, "OK");
    EXPECT_THROW(Resources::parse("{", "broken.json"), ResourceError);
    EXPECT_THROW(Resources::parse(R"({"stringLists": {"x": []}})", "bad-id.json"), ResourceError);
    EXPECT_THROW(Resources::load("/nonexistent/file.json"), ResourceError);
}

TEST(DocumentModel, DocumentOrderVisitsResultGroupsAfterEditArt) {
    Document doc;
    const LayerIndex layer = doc.addLayer("L");
    const ArtIndex plugin = doc.addArt(doc.rootOf(layer), kPluginArt, "pg");
    doc.addPath(plugin, {}, "edit");
    const ArtIndex result = doc.addResultGroup(plugin, "result");
    doc.addArt(result, kMeshArt, "mesh");
    doc.addArt(doc.rootOf(layer), kRasterArt, "raster");
    std::vector<std::string> ids;
    for (ArtIndex i : doc.documentOrder()) ids.push_back(doc.id(i));
    EXPECT_THAT(ids, ElementsAre("", "pg", "edit", "result", "mesh", "raster"));
    EXPECT_EQ(doc.art(result).parent, plugin);
    EXPECT_EQ(doc.art(plugin).firstChild, doc.find("edit"));
}

TEST(DocumentJson, RoundTripsEveryFieldAndLever) {
    const std::string text = R"({"layers": [
      {"name": "Back", "visible": false, "editable": 2, "art": [
        {"type": "pluginGroup", "id": "pg", "children": [{"type": "path", "id": "e", "closed": true}],
         "result": {"type": "group", "id": "r", "children": [{"type": "mesh", "id": "m", "noParent": true}]}},
        {"type": "path", "id": "p", "guide": true, "fill": 255, "stroke": true, "dashCount": 3,
         "selected": true, "locked": true, "listedTwice": true, "noLayer": true},
        {"type": 42, "id": "odd", "attributes": 16}]},
      {"name": "Front", "art": []}]})";
    const Document doc = documentFromJson(text, "fixture");
    ASSERT_EQ(doc.layerCount(), 2u);
    EXPECT_EQ(doc.layer(0).visible, 0);
    EXPECT_EQ(doc.layer(0).editable, 2);
    const ArtNode& p = doc.art(doc.find("p"));
    EXPECT_EQ(p.fillPaint, 255);
    EXPECT_EQ(p.dashCount, 3);
    EXPECT_EQ(p.attributes, kArtSelected | kArtLocked);
    EXPECT_TRUE(p.listedTwice && p.reportNoLayer && p.guide);
    EXPECT_EQ(doc.id(doc.art(doc.find("pg")).resultGroup), "r");
    EXPECT_EQ(doc.art(doc.find("odd")).type, 42);

    const Document again = documentFromJson(documentToJson(doc), "round trip");
    EXPECT_EQ(again.fingerprintBesidesSelection(), doc.fingerprintBesidesSelection());
    EXPECT_EQ(documentToJson(again), documentToJson(doc));
}

TEST(DocumentJson, RejectsMalformedDocumentsWithTheirOrigin) {
    for (const char* bad : {"[", "[]", R"({"layers": 3})", R"({"layers": [{"art": [{"id": "x"}]}]})",
                            R"({"layers": [{"art": [{"type": "nope"}]}]})",
                            R"({"layers": [{"art": [{"type": "path", "fill": 300}]}]})",
                            R"({"layers": [{"art": [{"type": "group", "result": {"type": "group"}}]}]})"}) {
        try {
            documentFromJson(bad, "bad.json");
            ADD_FAILURE() << "accepted " << bad;
        } catch (const DocumentError& e) {
            EXPECT_THAT(e.what(), HasSubstr("bad.json: "));
        }
    }
}

TEST(DocumentJson, NestingFarDeeperThanTheStackReadsAndWrites) {
    constexpr int kDepth = 200000;
    std::string text = R"({"layers": [{"name": "deep", "art": [)";
    for (int i = 0; i < kDepth; ++i) text += R"({"type": "group", "children": [)";
    text += R"({"type": "path", "id": "leaf"})";
    for (int i = 0; i < kDepth; ++i) text += "]}";
    text += "]}]}";
    const Document doc = documentFromJson(text, "deep.json");
    EXPECT_EQ(doc.artCount(), static_cast<std::size_t>(kDepth) + 2);
    EXPECT_EQ(doc.documentOrder().back(), doc.find("leaf"));
    EXPECT_EQ(documentFromJson(documentToJson(doc), "again").artCount(), doc.artCount());
}

}  // namespace
