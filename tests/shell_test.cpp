// The plug-in shell: message dispatch, the globals block, and the counted
// acquisition of the suite table, including every way the host can refuse.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <new>
#include <stdexcept>

#include "MenuTestSupport.h"
#include "PluginHarness.h"
#include "menuHandler.h"
#include "simhost/Dialogs.h"
#include "simhost/Document.h"
#include "simhost/Gate.h"
#include "simhost/Ledger.h"
#include "simhost/Menus.h"
#include "simhost/Plugins.h"

using namespace simhost;
using wendlow_test::GrantWithoutTable;
using wendlow_test::HeldSuites;
using wendlow_test::PluginHarness;
using wendlow_test::StartupFault;
using wendlow_test::expectStartupUnder;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

namespace {

using wendlow_test::kRefused;

bool allSuitePointersNull() {
    for (const SuiteImport& row : imports)
        if (*row.suite != nullptr) return false;
    return true;
}

// The count back at 0, every table pointer cleared and, given a harness, no
// problem found.
void expectNothingHeld(PluginHarness* h = nullptr) {
    EXPECT_EQ(gAcquireCount, 0);
    EXPECT_TRUE(allSuitePointersNull());
    if (h != nullptr) {
        EXPECT_THAT(h->problems(), IsEmpty());
    }
}

// ---- The message table -------------------------------------------------------

TEST(MessageTable, StartupAllocatesAClearedBlockNamesThePluginAndReleasesEverything) {
    PluginHarness h;
    EXPECT_EQ(h.startup(), kNoErr);
    ASSERT_NE(g, nullptr);
    EXPECT_TRUE(h.host.ledger().isLiveBlock(g));
    EXPECT_EQ(h.host.plugin(h.plugin).name, "Wendlow Brindle");
    // Slots the menus do not fill stay cleared, not the host's fill pattern.
    EXPECT_EQ(g->menuItems[18], nullptr);
    EXPECT_EQ(g->menuItems[20], nullptr);
    expectNothingHeld(&h);
    // The startup message's globals word is not written.
    EXPECT_EQ(h.host.plugin(h.plugin).globals, nullptr);
}

TEST(MessageTable, UnknownCallersAndSelectorsReturnZeroButStillHoldTheSuites) {
    PluginHarness h;
    const struct { const char* caller; const char* selector; } messages[] = {
        {kSPInterfaceCaller, "Frobnicate"},
        {kCallerAIMenu, "AI Something"},
        {"AI Tool", "AI Track"},
        {kSPAccessCaller, "Flush"},
    };
    for (const auto& m : messages) {
        h.host.gate().resetCounts();
        AIMenuMessage message{};
        EXPECT_EQ(h.host.send(h.plugin, m.caller, m.selector, &message.d), kNoErr) << m.caller << " " << m.selector;
        const std::uint64_t expected = std::strcmp(m.caller, kSPAccessCaller) == 0 ? 0 : kSuiteImportCount;
        EXPECT_EQ(h.host.gate().calls(Op::AcquireSuite), expected) << m.caller;
        EXPECT_EQ(h.host.gate().calls(Op::ReleaseSuite), expected) << m.caller;
        EXPECT_EQ(gAcquireCount, 0);
    }
    EXPECT_THAT(h.host.dialogs(), IsEmpty());
    EXPECT_THAT(h.problems(), IsEmpty());
}

TEST(MessageTable, AccessMessagesHandTheBlockOverAndBackWithoutSuites) {
    PluginHarness h;
    ASSERT_EQ(h.startup(), kNoErr);
    PluginGlobals* block = g;
    h.host.gate().resetCounts();

    // "Unload" with a null word still receives g.
    EXPECT_EQ(h.host.sendAccessWithGlobals(h.plugin, kSPAccessUnloadSelector, nullptr), kNoErr);
    EXPECT_EQ(h.host.plugin(h.plugin).globals, block);
    // "Reload" with a null word leaves no globals and the count at 0.
    gAcquireCount = 3;
    EXPECT_EQ(h.host.sendAccessWithGlobals(h.plugin, kSPAccessReloadSelector, nullptr), kNoErr);
    EXPECT_EQ(g, nullptr);
    EXPECT_EQ(gAcquireCount, 0);
    // "Reload" with the word takes the block back.
    EXPECT_EQ(h.host.sendAccessWithGlobals(h.plugin, kSPAccessReloadSelector, block), kNoErr);
    EXPECT_EQ(g, block);
    EXPECT_EQ(h.host.gate().calls(Op::AcquireSuite), 0u);

    EXPECT_EQ(h.choose(1), kNoErr);  // the menus still work
    h.expectCleanShutdown();
    // "Shutdown" clears the word "Unload" filled.
    EXPECT_EQ(g, nullptr);
    EXPECT_EQ(h.host.plugin(h.plugin).globals, nullptr);
}

TEST(MessageTable, CodesOneAndAlreadyReportedReachTheHostWithoutADialog) {
    PluginHarness h;
    ASSERT_EQ(h.startup(), kNoErr);
    // (The About item's 1 is menu_dispatch_test's.)
    h.host.gate().addRule(FaultRule::failNthOf(Op::GetMatchingArt, 1, kAlreadyReportedErr));
    EXPECT_EQ(h.choose(1), kAlreadyReportedErr);
    EXPECT_THAT(h.host.dialogs(), IsEmpty());
    EXPECT_EQ(gAcquireCount, 0);

    h.host.gate().clearRules();
    h.host.gate().addRule(FaultRule::failNthOf(Op::GetMatchingArt, 1, kBadParameterErr));
    EXPECT_EQ(h.choose(1), kBadParameterErr);
    ASSERT_EQ(h.host.dialogs().size(), 1u);
    EXPECT_EQ(h.host.dialogs()[0].name, "Error Dialog");
    EXPECT_EQ(h.shutdown(), kNoErr);
}

// ---- The globals block ---------------------------------------------------------

TEST(GlobalsBlock, MessagesWithoutABlockMatchNoItemAndShutdownFreesNothing) {
    PluginHarness h;
    // Before "Startup": a menu message, even for a null item, runs nothing.
    EXPECT_EQ(h.menu(kSelectorAIGoMenuItem, nullptr), kNoErr);
    EXPECT_EQ(h.host.gate().calls(Op::GetSelectedArt), 0u);
    // "Shutdown" with no block makes no free-block call.
    EXPECT_EQ(h.shutdown(), kNoErr);
    EXPECT_EQ(h.host.gate().calls(Op::FreeBlock), 0u);
    // After "Shutdown", the same.
    ASSERT_EQ(h.startup(), kNoErr);
    const AIMenuItemHandle guides = g->menuItems[0];
    ASSERT_EQ(h.shutdown(), kNoErr);
    EXPECT_EQ(h.menu(kSelectorAIGoMenuItem, guides), kNoErr);
    EXPECT_EQ(h.host.gate().calls(Op::GetSelectedArt), 0u);
    EXPECT_EQ(h.shutdown(), kNoErr);
    EXPECT_EQ(h.host.gate().calls(Op::FreeBlock), 1u);
    EXPECT_THAT(h.problems(), IsEmpty());
}

// A new block at a second "Startup" would leave the first allocated when
// "Shutdown" frees the one the plug-in holds.
TEST(GlobalsBlock, ASecondStartupKeepsTheBlockItHas) {
    PluginHarness h;
    ASSERT_EQ(h.startup(), kNoErr);
    PluginGlobals* first = g;
    ASSERT_EQ(h.startup(), kNoErr);
    EXPECT_EQ(g, first);
    EXPECT_EQ(h.host.ledger().liveBlocks(), 1u);
    h.expectCleanShutdown();
}

// "Startup" failing at one of its own steps: the code is returned and shown,
// what came before the failure stays, and nothing is held.
TEST(GlobalsBlock, AFailedStartupStepIsReturnedShownAndLeavesNothingHeld) {
    const struct {
        StartupFault fault;
        bool blockKept, named;
        std::size_t itemsAdded;
    } cases[] = {
        {{"the allocation", FaultRule::failNthOf(Op::AllocateBlock, 1, kOutOfMemoryErr), kOutOfMemoryErr, "MEM!"},
         false, false, 0},
        {{"the name", FaultRule::failNthOf(Op::SetPluginName, 1, kRefused), kRefused, "4242"}, true, false, 0},
        // An ai::Error from the string wrappers, after the command items were added.
        {{"the About group's text", FaultRule::failNthOf(Op::StringInitialize, 1, kRefused), kRefused, "4242"}, true,
         true, 18},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault.what);
        PluginHarness h;
        const std::size_t itemsBefore = h.host.menus().itemCount();
        expectStartupUnder(h, c.fault);
        EXPECT_EQ(g != nullptr, c.blockKept);  // kept until "Shutdown"
        EXPECT_EQ(h.host.plugin(h.plugin).name, c.named ? "Wendlow Brindle" : "");
        EXPECT_EQ(h.host.menus().itemCount() - itemsBefore, c.itemsAdded);
        if (g != nullptr) {
            EXPECT_EQ(g->menuItems[kAboutItemSlot], nullptr);
        }
        expectNothingHeld();
        h.expectCleanShutdown();
    }
}

// ---- Counted acquisition ---------------------------------------------------------

// A refusal before the ADM Basic suite (row 12) is held cannot be shown in
// an alert: the other rows are still acquired, and the first refusal is the
// result. From row 13 on, the alert is shown and the later rows are left.
TEST(Acquisition, ARefusalAtEveryRowIsReturnedAndNothingIsLeftHeld) {
    for (int row = 0; row < kSuiteImportCount; ++row) {
        SCOPED_TRACE(imports[row].name);
        PluginHarness h;
        FaultRule deny = FaultRule::denySuite(imports[row].name, kRefused);
        h.host.gate().addRule(deny);
        h.host.gate().resetCounts();
        EXPECT_EQ(h.startup(), kRefused);
        EXPECT_EQ(g, nullptr) << "no handler runs after a refusal";
        expectNothingHeld();

        const bool alertShown = row > 12;
        if (alertShown) {
            const std::string expected = "Error: 4242, suite: " + std::string(imports[row].name) +
                                         ", version: " + std::to_string(imports[row].version) + "!";
            EXPECT_THAT(h.host.alerts(), ElementsAre(expected));
            EXPECT_EQ(h.host.gate().calls(Op::AcquireSuite), static_cast<std::uint64_t>(row + 1));
        } else {
            EXPECT_THAT(h.host.alerts(), IsEmpty());
            EXPECT_EQ(h.host.gate().calls(Op::AcquireSuite), static_cast<std::uint64_t>(kSuiteImportCount));
        }
        // Only what was granted goes back: one release per granted row.
        EXPECT_EQ(h.host.gate().calls(Op::ReleaseSuite), h.host.gate().calls(Op::AcquireSuite) - 1);
        // The error dialog needs the basic, dialog and item suites.
        const bool dialogPossible = row != 12 && row != 13 && row != 14;
        EXPECT_EQ(h.host.dialogs().size(), dialogPossible ? 1u : 0u);
        EXPECT_THAT(h.problems(), IsEmpty());
    }
}

// Several refusals in one acquisition, each with its own code: the first
// refused row's code is the result, whichever rows come after it.
TEST(Acquisition, OfSeveralRefusalsTheFirstRowsCodeIsReturned) {
    const struct {
        int first, second;
        std::uint64_t asked;  // acquisitions the host saw
        const char* alert;    // the alert's suite, if one is shown
    } cases[] = {
        {3, 7, kSuiteImportCount, nullptr},    // both before the ADM Basic suite
        {5, 14, 15, "ADM Item Suite"},         // one before, one after it
        {13, 15, 14, "ADM Dialog Suite"},      // both after: the first one stops the loop
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.first) + " and " + std::to_string(c.second));
        PluginHarness h;
        h.host.gate().addRule(FaultRule::denySuite(imports[c.first].name, 1001));
        h.host.gate().addRule(FaultRule::denySuite(imports[c.second].name, 2002));
        h.host.gate().resetCounts();
        EXPECT_EQ(h.startup(), 1001);
        EXPECT_EQ(h.host.gate().calls(Op::AcquireSuite), c.asked);
        if (c.alert == nullptr) {
            EXPECT_THAT(h.host.alerts(), IsEmpty());
        } else {
            ASSERT_EQ(h.host.alerts().size(), 1u);
            EXPECT_THAT(h.host.alerts()[0], HasSubstr(c.alert));
        }
        expectNothingHeld(&h);
    }
}

// A grant without a table is a refusal, since nothing can be called through
// it, but still a hold: it is given back with the rest, at whichever row.
TEST(Acquisition, AGrantWithoutATableIsRefusedAndStillGivenBackAtEveryRow) {
    for (int row = 0; row < kSuiteImportCount; ++row) {
        SCOPED_TRACE(imports[row].name);
        PluginHarness h;
        GrantWithoutTable grant(h.host, imports[row].name, imports[row].version);
        EXPECT_EQ(h.startup(), kSuiteNotFoundErr);
        EXPECT_EQ(g, nullptr) << "no handler runs after a refusal";
        EXPECT_EQ(h.host.gate().calls(Op::ReleaseSuite), h.host.gate().calls(Op::AcquireSuite));
        expectNothingHeld(&h);
    }
}

TEST(Acquisition, ARefusedReleaseStopsAtThatRowAndStillLowersTheCount) {
    for (int row = 0; row < kSuiteImportCount; ++row) {
        SCOPED_TRACE(imports[row].name);
        PluginHarness h;
        sSPBasic = h.host.basicSuite();
        ASSERT_EQ(acquireSuites(h.host.basicSuite()), kNoErr);
        h.host.gate().addRule(FaultRule::failNthOf(Op::ReleaseSuite, static_cast<std::uint64_t>(row + 1), kRefused));
        EXPECT_EQ(releaseSuites(h.host.basicSuite()), kRefused);
        EXPECT_EQ(gAcquireCount, 0);
        for (int r = 0; r < kSuiteImportCount; ++r)
            EXPECT_EQ(*imports[r].suite != nullptr, r >= row) << "row " << r;
        // The host still counts the refused row and the rows after it.
        EXPECT_EQ(h.host.ledger().totalHolds(), kSuiteImportCount - row);
        // The next message acquires afresh.
        h.host.gate().clearRules();
        EXPECT_EQ(h.interfaceMessage("Nothing"), kNoErr);
        expectNothingHeld();
    }
}

// ---- Exceptions ------------------------------------------------------------------------

// A hostile host whose own functions throw: acquire-suite for one suite, the
// alert, the modal dialog, an art call inside a command, or release-suite.
// The plug-in's tables are copies of the host's with the throwing entry put
// in; holds still go by name, so the host's ledger sees them.
struct Throwing {
    enum Where { kAcquire, kAlert, kModal, kArtCall, kRelease } where;
    const char* suite;  // kAcquire: the suite whose acquisition throws
};
Throwing gThrowing{};
SPBasicSuite gRealBasic{};
ADMBasicSuite gAdmBasicCopy{};
ADMDialogSuite gAdmDialogCopy{};
AIArtSuite gArtCopy{};

template <typename Suite>
void substitute(const void** suite, Suite& copy) {
    copy = *static_cast<const Suite*>(*suite);
    *suite = &copy;
}

ASErr throwingAcquire(const char* name, ai::int32 version, const void** suite) {
    if (gThrowing.where == Throwing::kAcquire && std::strcmp(name, gThrowing.suite) == 0)
        throw std::runtime_error("the host's acquire-suite threw");
    const ASErr err = gRealBasic.AcquireSuite(name, version, suite);
    if (err != kNoErr) return err;
    if (gThrowing.where == Throwing::kAlert && std::strcmp(name, kADMBasicSuite) == 0) {
        substitute(suite, gAdmBasicCopy);
        gAdmBasicCopy.ErrorAlert = [](const char*) { throw std::runtime_error("the host's alert threw"); };
    }
    if (gThrowing.where == Throwing::kModal && std::strcmp(name, kADMDialogSuite) == 0) {
        substitute(suite, gAdmDialogCopy);
        gAdmDialogCopy.Modal = [](SPPluginRef, const char*, ai::int32, ai::int32, ADMDialogInitProc, ADMUserData,
                                  ai::int32) -> ai::int32 { throw std::runtime_error("the host's modal threw"); };
    }
    if (gThrowing.where == Throwing::kArtCall && std::strcmp(name, kAIArtSuite) == 0) {
        substitute(suite, gArtCopy);
        // As the walk's stack would, deep in a tree, when memory runs out.
        gArtCopy.GetArtType = [](AIArtHandle, AIArtType*) -> ASErr { throw std::bad_alloc(); };
    }
    return err;
}

ASErr throwingRelease(const char* name, ai::int32 version) {
    if (gThrowing.where == Throwing::kRelease) throw std::runtime_error("the host's release-suite threw");
    return gRealBasic.ReleaseSuite(name, version);
}

// Whatever throws, no exception reaches the host, the count is back where
// the message found it, and what was granted is given back (but for a
// release that throws itself: what the host did not take back, it keeps).
TEST(Exceptions, AHostFunctionThatThrowsLeavesNothingHeldAndTheCountRestored) {
    const struct {
        Throwing throwing;
        int slot;  // the command sent; -1: "Startup" after the document's one
        ASErr expected;
        bool released;
    } cases[] = {
        {{Throwing::kAcquire, kAIMatchingArtSuite}, -1, kUnexpectedExceptionErr, true},
        {{Throwing::kAcquire, kADMItemSuite}, -1, kUnexpectedExceptionErr, true},
        {{Throwing::kAlert, nullptr}, -1, kUnexpectedExceptionErr, true},
        {{Throwing::kModal, nullptr}, 1, kUnexpectedExceptionErr, true},
        // Inside "AI Go", with goMenuItem's nested acquisition open.
        {{Throwing::kArtCall, nullptr}, 1, kOutOfMemoryErr, true},
        {{Throwing::kRelease, nullptr}, 1, kUnexpectedExceptionErr, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.throwing.where));
        PluginHarness h;
        const ArtIndex root = h.host.document().layer(h.host.document().addLayer("Layer")).root;
        h.host.document().addPath(root, PathProps{});
        ASSERT_EQ(h.startup(), kNoErr);
        // The alert needs a refusal once the ADM Basic suite is held; the
        // modal dialog a code to report.
        if (c.throwing.where == Throwing::kAlert) h.host.gate().addRule(FaultRule::denySuite(kADMItemSuite, kRefused));
        if (c.throwing.where == Throwing::kModal) h.host.gate().addRule(FaultRule::failNthOf(Op::GetMatchingArt, 1, kRefused));
        SPBasicSuite& basic = *h.host.basicSuite();
        gRealBasic = basic;
        gThrowing = c.throwing;
        basic.AcquireSuite = throwingAcquire;
        basic.ReleaseSuite = throwingRelease;
        const ASErr result = c.slot < 0 ? h.interfaceMessage("Anything") : h.choose(c.slot);
        basic = gRealBasic;
        h.host.gate().clearRules();

        EXPECT_EQ(result, c.expected);
        EXPECT_EQ(gAcquireCount, 0);
        EXPECT_EQ(h.host.ledger().totalHolds(), c.released ? 0 : kSuiteImportCount);
        for (const Violation& v : h.host.ledger().violations()) ADD_FAILURE() << v.rule << ": " << v.detail;
        if (c.expected == kOutOfMemoryErr) {
            ASSERT_EQ(h.host.dialogs().size(), 1u);
            EXPECT_EQ(h.host.dialogs()[0].items[2].text, "MEM!");
        }
        // The next message acquires afresh and gives everything back.
        EXPECT_EQ(h.choose(1), kNoErr);
        EXPECT_EQ(gAcquireCount, 0);
        EXPECT_EQ(h.host.ledger().totalHolds(), c.released ? 0 : kSuiteImportCount);
        EXPECT_TRUE(allSuitePointersNull());
        EXPECT_EQ(h.shutdown(), kNoErr);
    }
}

}  // namespace
