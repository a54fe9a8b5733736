// The stand-in host on its own: suites granted and trapped, the gate's
// fault plans, the ledger, string lists and dialogs.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "ADMSuites.h"
#include "AISuites.h"
#include "simhost/Document.h"
#include "simhost/DocumentJson.h"
#include "simhost/Gate.h"
#include "simhost/Host.h"
#include "simhost/Ledger.h"
#include "simhost/Resources.h"

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
