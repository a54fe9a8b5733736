// "Startup": the eighteen command items in "SelectObject", their handles in
// the globals block, the About item in the shared group, and every way the
// host can make the installation fail.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "MenuTestSupport.h"
#include "PluginHarness.h"
#include "simhost/FaultSweep.h"

using namespace simhost;
using namespace wendlow_test;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;
using ::testing::Not;

namespace {

constexpr const char* kSharedGroup = "WendlowAboutPluginsGroupName";
constexpr ASErr kRefused = 4242;

std::vector<std::string> firstTexts(std::size_t n) {
    return std::vector<std::string>(kMenuTexts.begin(), kMenuTexts.begin() + static_cast<long>(n));
}

std::vector<std::string>& menuList(PluginHarness& h) {
    return h.host.plugin(h.plugin).resources.stringLists().at(17000);
}

// The About item is in place: "About" holds the group's item, the shared
// group hangs under it and holds "Brindle...", whose handle is in slot 19.
void expectAboutItemInstalled(PluginHarness& h) {
    ASSERT_THAT(textsOf(h.host, "About"), ElementsAre("About Wendlow Plug-ins"));
    const MenuItem& groupItem = h.host.menus().item(itemsOf(h.host, "About")[0]);
    ASSERT_GE(groupItem.submenu, 0);
    EXPECT_EQ(h.host.menus().group(groupItem.submenu).name, kSharedGroup);
    EXPECT_THAT(textsOf(h.host, kSharedGroup), ElementsAre("Brindle..."));
    EXPECT_EQ(g->menuItems[kAboutItemSlot], itemWithText(h.host, kSharedGroup, "Brindle..."));
}

// ---- A clean start -------------------------------------------------------------

TEST(Startup, TheBuiltPluginFillsSelectObjectAndTheSharedGroup) {
    Host host;
    const PluginId plugin = host.loadPlugin(WENDLOW_PLUGIN_PATH);
    ASSERT_EQ(host.startup(plugin), kNoErr);

    ASSERT_THAT(textsOf(host, "SelectObject"), ElementsAreArray(kMenuTexts));
    for (MenuItemIndex index : itemsOf(host, "SelectObject")) {
        const MenuItem& item = host.menus().item(index);
        SCOPED_TRACE(item.text);
        EXPECT_EQ(item.plugin, plugin);
        // The key name is the text itself, handed over as a C string.
        EXPECT_EQ(item.name, item.text);
        EXPECT_TRUE(item.updatedAutomatically);
        EXPECT_EQ(item.updateAction, 1);
        EXPECT_THAT(item.updateConditions, ElementsAre(0, 0, 0, 0, 64, 0));
    }

    ASSERT_THAT(textsOf(host, "About"), ElementsAre("About Wendlow Plug-ins"));
    const MenuItem& groupItem = host.menus().item(itemsOf(host, "About")[0]);
    EXPECT_EQ(groupItem.plugin, plugin);
    ASSERT_GE(groupItem.submenu, 0);
    const MenuGroup& shared = host.menus().group(groupItem.submenu);
    EXPECT_EQ(shared.name, kSharedGroup);
    EXPECT_EQ(shared.options, 1);
    EXPECT_THAT(textsOf(host, kSharedGroup), ElementsAre("Brindle..."));
    // Only the command items are left to the host to update.
    EXPECT_FALSE(groupItem.updatedAutomatically);
    EXPECT_FALSE(host.menus().item(shared.items[0]).updatedAutomatically);

    EXPECT_TRUE(host.dialogs().empty());
    EXPECT_EQ(host.ledger().totalHolds(), 0);
    EXPECT_EQ(host.shutdown(plugin), kNoErr);
    EXPECT_THAT(host.problems(), IsEmpty());
}

TEST(Startup, TheSlotsHoldTheHandlesTheSlotTableGives) {
    PluginHarness h;
    ASSERT_EQ(h.startup(), kNoErr);
    const auto items = itemsOf(h.host, "SelectObject");
    ASSERT_EQ(items.size(), 18u);
    for (int index = 1; index <= 18; ++index) {
        SCOPED_TRACE(kMenuTexts[index - 1]);
        EXPECT_EQ(g->menuItems[kSlotOfIndex[index - 1]], h.host.menuItemHandle(items[index - 1]));
    }
    // Spelled out: the sixteenth text's item in slot 16, the seventeenth's in 15.
    EXPECT_EQ(h.host.menus().item(*h.host.menuItemOf(g->menuItems[16])).text, "Symbol Instances");
    EXPECT_EQ(h.host.menus().item(*h.host.menuItemOf(g->menuItems[15])).text, "Rasters");
    expectAboutItemInstalled(h);
    EXPECT_EQ(g->menuItems[18], nullptr);
    EXPECT_EQ(g->menuItems[20], nullptr);
    EXPECT_EQ(h.shutdown(), kNoErr);
    EXPECT_THAT(h.problems(), IsEmpty());
}

TEST(Startup, EachTextIsReadInOrderIntoA255ByteBuffer) {
    PluginHarness h;
    h.host.gate().setLogging(true);
    ASSERT_EQ(h.startup(), kNoErr);
    std::vector<std::string> reads;
    for (const CallRecord& call : h.host.gate().log())
        if (call.op == Op::GetIndexString) reads.push_back(call.detail);
    ASSERT_EQ(reads.size(), 18u);
    for (int index = 1; index <= 18; ++index)
        EXPECT_EQ(reads[index - 1], "17000, " + std::to_string(index) + ", 255");
}

// The longest text the buffer takes fills all 255 bytes once it is a Pascal
// string, leaving no zero anywhere: the key name must be a copy that keeps
// its terminator. A longer text is cut by the host at the buffer's end.
TEST(Startup, TextsAsLongAsTheBufferAreHandedOverTerminated) {
    PluginHarness h;
    const std::string longest(254, 'x');
    menuList(h)[2] = longest;
    menuList(h)[3] = std::string(300, 'y');
    ASSERT_EQ(h.startup(), kNoErr);
    const auto items = itemsOf(h.host, "SelectObject");
    ASSERT_EQ(items.size(), 18u);
    EXPECT_EQ(h.host.menus().item(items[2]).text, longest);
    EXPECT_EQ(h.host.menus().item(items[2]).name, longest);
    EXPECT_EQ(h.host.menus().item(items[3]).text, std::string(254, 'y'));
    EXPECT_EQ(h.host.menus().item(items[3]).name, std::string(254, 'y'));
    expectAboutItemInstalled(h);
    EXPECT_EQ(h.shutdown(), kNoErr);
    EXPECT_THAT(h.problems(), IsEmpty());
}

TEST(Startup, AnEmptyTextAddsAnItemWithNoText) {
    PluginHarness h;
    menuList(h)[4] = "";
    ASSERT_EQ(h.startup(), kNoErr);
    std::vector<std::string> expected(kMenuTexts.begin(), kMenuTexts.end());
    expected[4] = "";
    EXPECT_THAT(textsOf(h.host, "SelectObject"), ElementsAreArray(expected));
    EXPECT_NE(g->menuItems[4], nullptr);
    expectAboutItemInstalled(h);
    EXPECT_EQ(h.shutdown(), kNoErr);
    EXPECT_THAT(h.problems(), IsEmpty());
}

// A host that reports success for a text it does not have and writes
// nothing: each such item gets an empty text, never the previous item's.
TEST(Startup, AReadThatWritesNothingGivesAnEmptyText) {
    PluginHarness h;
    menuList(h).resize(4);
    h.host.stringLists().silentWhenMissing = true;
    ASSERT_EQ(h.startup(), kNoErr);
    std::vector<std::string> expected = firstTexts(4);
    expected.resize(18);
    EXPECT_THAT(textsOf(h.host, "SelectObject"), ElementsAreArray(expected));
    for (MenuItemIndex item : itemsOf(h.host, "SelectObject"))
        EXPECT_EQ(h.host.menus().item(item).name, h.host.menus().item(item).text);
    expectAboutItemInstalled(h);
    EXPECT_EQ(h.shutdown(), kNoErr);
    EXPECT_THAT(h.problems(), IsEmpty());
}

// ---- Failures of the command items --------------------------------------------------

TEST(StartupFailures, AFailedReadEndsTheInstallationWithItsCode) {
    PluginHarness h;
    h.host.gate().addRule(FaultRule::failNthOf(Op::GetIndexString, 5, kResourceNotFoundErr));
    EXPECT_EQ(h.startup(), kResourceNotFoundErr);
    EXPECT_THAT(textsOf(h.host, "SelectObject"), ElementsAreArray(firstTexts(4)));
    for (int slot = 4; slot < kGlobalSlotCount; ++slot) EXPECT_EQ(g->menuItems[slot], nullptr) << "slot " << slot;
    EXPECT_THAT(textsOf(h.host, "About"), IsEmpty());
    EXPECT_EQ(groupNamed(h.host, kSharedGroup), -1);
    EXPECT_EQ(h.host.gate().calls(Op::AddMenuItem), 4u);
    // The code is shown with its message from the error list.
    ASSERT_EQ(h.host.dialogs().size(), 1u);
    EXPECT_EQ(h.host.dialogs()[0].name, "Error Dialog");
    EXPECT_EQ(h.host.dialogs()[0].items[1].text,
              "A resource of Wendlow Brindle is missing or damaged. Reinstall the plug-in.");
    EXPECT_EQ(h.host.dialogs()[0].items[2].text, "RSRC");
    EXPECT_EQ(gAcquireCount, 0);
    EXPECT_EQ(h.shutdown(), kNoErr);
    EXPECT_THAT(h.problems(), IsEmpty());
}

TEST(StartupFailures, AFailedAddEndsTheInstallationWithItsCode) {
    PluginHarness h;
    h.host.gate().addRule(FaultRule::failNthOf(Op::AddMenuItem, 7, kRefused));
    EXPECT_EQ(h.startup(), kRefused);
    EXPECT_THAT(textsOf(h.host, "SelectObject"), ElementsAreArray(firstTexts(6)));
    for (int slot = 6; slot < kGlobalSlotCount; ++slot) EXPECT_EQ(g->menuItems[slot], nullptr) << "slot " << slot;
    EXPECT_EQ(h.host.gate().calls(Op::UpdateMenuItemAutomatically), 6u);
    EXPECT_THAT(textsOf(h.host, "About"), IsEmpty());
    EXPECT_EQ(h.shutdown(), kNoErr);
    EXPECT_THAT(h.problems(), IsEmpty());
}

TEST(StartupFailures, OnlyTheNinthAndTheLastUpdateRegistrationsCount) {
    {
        SCOPED_TRACE("third");
        PluginHarness h;
        h.host.gate().addRule(FaultRule::failNthOf(Op::UpdateMenuItemAutomatically, 3, kRefused));
        EXPECT_EQ(h.startup(), kNoErr);
        EXPECT_THAT(textsOf(h.host, "SelectObject"), ElementsAreArray(kMenuTexts));
        EXPECT_FALSE(h.host.menus().item(itemsOf(h.host, "SelectObject")[2]).updatedAutomatically);
        EXPECT_TRUE(h.host.menus().item(itemsOf(h.host, "SelectObject")[3]).updatedAutomatically);
        expectAboutItemInstalled(h);
        EXPECT_TRUE(h.host.dialogs().empty());
        EXPECT_EQ(h.shutdown(), kNoErr);
        EXPECT_THAT(h.problems(), IsEmpty());
    }
    {
        SCOPED_TRACE("ninth");
        PluginHarness h;
        h.host.gate().addRule(FaultRule::failNthOf(Op::UpdateMenuItemAutomatically, 9, kRefused));
        EXPECT_EQ(h.startup(), kRefused);
        EXPECT_THAT(textsOf(h.host, "SelectObject"), ElementsAreArray(firstTexts(9)));
        EXPECT_NE(g->menuItems[8], nullptr);
        for (int slot = 9; slot < kGlobalSlotCount; ++slot) EXPECT_EQ(g->menuItems[slot], nullptr) << "slot " << slot;
        EXPECT_THAT(textsOf(h.host, "About"), IsEmpty());
        ASSERT_EQ(h.host.dialogs().size(), 1u);
        EXPECT_EQ(h.host.dialogs()[0].items[2].text, "4242");
        EXPECT_EQ(h.shutdown(), kNoErr);
        EXPECT_THAT(h.problems(), IsEmpty());
    }
    {
        SCOPED_TRACE("eighteenth");
        PluginHarness h;
        h.host.gate().addRule(FaultRule::failNthOf(Op::UpdateMenuItemAutomatically, 18, kRefused));
        EXPECT_EQ(h.startup(), kRefused);
        EXPECT_THAT(textsOf(h.host, "SelectObject"), ElementsAreArray(kMenuTexts));
        expectAboutItemInstalled(h);
        ASSERT_EQ(h.host.dialogs().size(), 1u);
        EXPECT_EQ(h.host.dialogs()[0].items[2].text, "4242");
        EXPECT_EQ(h.shutdown(), kNoErr);
        EXPECT_THAT(h.problems(), IsEmpty());
    }
}

// ---- Failures of the About item: never the installation's result -------------------

struct AboutFailure {
    const char* what;
    FaultRule rule;
    bool groupItemAdded;  // "About" keeps the group's item
    bool groupAdded;      // the shared group exists
};

TEST(StartupFailures, AboutItemFailuresLeaveTheResultAndTheCommandItems) {
    FaultRule secondMenuAcquisition = FaultRule::failNthOf(Op::AcquireSuite, 2, kRefused);
    secondMenuAcquisition.subject = "AI Menu Suite";
    const AboutFailure failures[] = {
        {"1008 acquisition", secondMenuAcquisition, false, false},
        {"count-menu-groups", FaultRule::failNthOf(Op::CountMenuGroups, 1, kRefused), false, false},
        {"get-nth-menu-group", FaultRule::failNthOf(Op::GetNthMenuGroup, 3, kRefused), false, false},
        {"get-menu-group-name", FaultRule::failNthOf(Op::GetMenuGroupName, 2, kRefused), false, false},
        {"the group's item", FaultRule::failNthOf(Op::AddMenuItem, 19, kRefused), false, false},
        {"add-menu-group-as-submenu", FaultRule::failNthOf(Op::AddMenuGroupAsSubMenu, 1, kRefused), true, false},
        {"the plug-in's own item", FaultRule::failNthOf(Op::AddMenuItem, 20, kRefused), true, true},
    };
    for (const AboutFailure& failure : failures) {
        SCOPED_TRACE(failure.what);
        PluginHarness h;
        h.host.gate().addRule(failure.rule);
        EXPECT_EQ(h.startup(), kNoErr);
        EXPECT_EQ(h.host.gate().faultsFired(), 1u);
        EXPECT_THAT(textsOf(h.host, "SelectObject"), ElementsAreArray(kMenuTexts));
        EXPECT_EQ(g->menuItems[kAboutItemSlot], nullptr);
        EXPECT_EQ(textsOf(h.host, "About").size(), failure.groupItemAdded ? 1u : 0u);
        EXPECT_EQ(groupNamed(h.host, kSharedGroup) >= 0, failure.groupAdded);
        EXPECT_THAT(textsOf(h.host, kSharedGroup), IsEmpty());
        EXPECT_TRUE(h.host.dialogs().empty());
        // The helper's own suite is given back on every way out.
        EXPECT_EQ(h.host.ledger().holds({kAIMenuSuite, kAIMenuSuiteVersion}), 0);
        EXPECT_EQ(gAcquireCount, 0);
        EXPECT_EQ(h.shutdown(), kNoErr);
        EXPECT_THAT(h.problems(), IsEmpty());
    }
}

// An ai::Error raised while the helper holds its 1008 suite (building the
// plug-in's own item text) comes out of the built plug-in as its code, with
// that suite given back and the count balanced.
TEST(StartupFailures, AStringFailureInsideTheHelperComesOutAsItsCode) {
    Host host;
    const PluginId plugin = host.loadPlugin(WENDLOW_PLUGIN_PATH);
    // 1: "About Wendlow Plug-ins"; 2: "Brindle...", while 1008 is held.
    host.gate().addRule(FaultRule::failNthOf(Op::StringInitialize, 2, kRefused));
    EXPECT_EQ(host.startup(plugin), kRefused);
    EXPECT_EQ(host.gate().faultsFired(), 1u);
    EXPECT_EQ(host.ledger().holds({kAIMenuSuite, kAIMenuSuiteVersion}), 0);
    EXPECT_EQ(host.ledger().totalHolds(), 0);
    EXPECT_EQ(host.ledger().liveStrings(), 0u);
    ASSERT_EQ(host.dialogs().size(), 1u);
    EXPECT_EQ(host.dialogs()[0].items[2].text, "4242");
    EXPECT_THAT(textsOf(host, "SelectObject"), ElementsAreArray(kMenuTexts));
    EXPECT_THAT(textsOf(host, kSharedGroup), IsEmpty());
    // The count came back to 0: the next message acquires and releases afresh.
    host.gate().resetCounts();
    EXPECT_EQ(host.chooseMenuItem(itemWithText(host, "SelectObject", "All Paths")), kNoErr);
    EXPECT_EQ(host.gate().calls(Op::AcquireSuite), static_cast<std::uint64_t>(kSuiteImportCount));
    EXPECT_EQ(host.ledger().totalHolds(), 0);
    EXPECT_EQ(host.shutdown(plugin), kNoErr);
    EXPECT_THAT(host.problems(), IsEmpty());
}

// ---- Every host call of "Startup" failing -------------------------------------------

// After "Startup" with one call failed: the code is 0 or the injected one,
// what was installed is a prefix of the eighteen items in their slots, the
// About item is either complete or absent, the count is back at 0, and once
// the plug-in has shut down nothing is held that the host did not refuse to
// take back.
void checkStartupUnderFault(PluginHarness& h, ASErr result, const FaultRule& rule) {
    SCOPED_TRACE(describeRule(rule));
    EXPECT_TRUE(result == kNoErr || result == kInjectedFaultErr) << result;
    EXPECT_EQ(gAcquireCount, 0);
    const auto items = itemsOf(h.host, "SelectObject");
    ASSERT_LE(items.size(), 18u);
    for (std::size_t i = 0; i < items.size(); ++i) {
        EXPECT_EQ(h.host.menus().item(items[i]).text, kMenuTexts[i]);
        if (g != nullptr) {
            EXPECT_EQ(g->menuItems[kSlotOfIndex[i]], h.host.menuItemHandle(items[i]));
        }
    }
    if (g != nullptr) {
        for (std::size_t i = items.size(); i < 18; ++i) EXPECT_EQ(g->menuItems[kSlotOfIndex[i]], nullptr);
        if (g->menuItems[kAboutItemSlot] != nullptr) {
            EXPECT_EQ(g->menuItems[kAboutItemSlot], itemWithText(h.host, kSharedGroup, "Brindle..."));
        } else {
            EXPECT_THAT(textsOf(h.host, kSharedGroup), Not(Contains("Brindle...")));
        }
    }
    EXPECT_LE(textsOf(h.host, "About").size(), 1u);
    expectFaultTrialEndsCleanly(h);
}

TEST(StartupFaultSweep, EveryHostCallOfStartupFailingOnceOrFromThenOn) {
    const FaultSweepResult sweep = sweepFaults([](const FaultRule& rule) -> std::uint64_t {
        PluginHarness h;
        h.host.gate().setLogging(true);
        h.host.gate().addRule(rule);
        const ASErr result = h.startup();
        const std::uint64_t fired = h.host.gate().faultsFired();
        checkStartupUnderFault(h, result, rule);
        return fired;
    });
    EXPECT_FALSE(sweep.endless);
    // Acquisition, allocation, name, 18 reads, adds and updates, the helper.
    EXPECT_GT(sweep.callsInScenario, 17u + 2u + 54u + 17u);
}

TEST(StartupFaultSweep, EveryHostCallFailingWhenTheGroupWasMadeFirst) {
    const FaultSweepResult sweep = sweepFaults([](const FaultRule& rule) -> std::uint64_t {
        PluginHarness h;
        const PluginId other = loadAboutGroupFirst(h.host);
        if (h.host.startup(other) != kNoErr) ADD_FAILURE() << "the other plug-in did not start";
        h.host.gate().setLogging(true);
        h.host.gate().addRule(rule);
        const ASErr result = h.startup();
        const std::uint64_t fired = h.host.gate().faultsFired();
        // The other plug-in's group is never made twice, nor a second item under "About".
        EXPECT_EQ(textsOf(h.host, "About").size(), 1u);
        EXPECT_EQ(textsOf(h.host, kSharedGroup).front(), "Group First...");
        checkStartupUnderFault(h, result, rule);
        return fired;
    });
    EXPECT_FALSE(sweep.endless);
}

}  // namespace
