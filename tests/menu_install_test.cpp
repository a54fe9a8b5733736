// "Startup": the eighteen command items in "SelectObject", their handles in
// the globals block, the About item in the shared group, and every way the
// host can make the installation fail.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "MenuTestSupport.h"
#include "PluginHarness.h"
#include "simhost/Dialogs.h"
#include "simhost/FaultSweep.h"
#include "simhost/Gate.h"
#include "simhost/Ledger.h"
#include "simhost/Menus.h"
#include "simhost/Plugins.h"

using namespace simhost;
using namespace wendlow_test;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;
using ::testing::Not;

namespace {

std::vector<std::string> firstTexts(std::size_t n) {
    return std::vector<std::string>(kMenuTexts.begin(), kMenuTexts.begin() + static_cast<long>(n));
}

std::vector<std::string>& menuList(PluginHarness& h) {
    return h.host.plugin(h.plugin).resources.stringLists().at(17000);
}

// The About item is in place: "About" holds the group's item, the shared
// group hangs under it and holds "Brindle...", whose handle is in slot 19.
// Without `globals` (the built plug-in's are out of reach) the slot is not checked.
void expectAboutItemInstalled(Host& host, const PluginGlobals* globals) {
    ASSERT_THAT(textsOf(host, "About"), ElementsAre("About Wendlow Plug-ins"));
    const MenuItem& groupItem = host.menus().item(itemsOf(host, "About")[0]);
    ASSERT_GE(groupItem.submenu, 0);
    EXPECT_EQ(host.menus().group(groupItem.submenu).name, kSharedGroup);
    EXPECT_THAT(textsOf(host, kSharedGroup), ElementsAre("Brindle..."));
    if (globals != nullptr) {
        EXPECT_EQ(globals->menuItems[kAboutItemSlot], itemWithText(host, kSharedGroup, "Brindle..."));
    }
}
void expectAboutItemInstalled(PluginHarness& h) { expectAboutItemInstalled(h.host, g); }

// ---- A clean start -------------------------------------------------------------

TEST(Startup, TheBuiltPluginFillsSelectObjectAndTheSharedGroup) {
    Host host;
    const PluginId plugin = host.loadPlugin(WENDLOW_PLUGIN_PATH);
    host.gate().setLogging(true);
    ASSERT_EQ(host.startup(plugin), kNoErr);

    // Each text is read in order into a 255-byte buffer.
    std::vector<std::array<std::int64_t, 3>> reads;
    for (const CallRecord& call : host.gate().log())
        if (call.op == Op::GetIndexString) reads.push_back(call.numbers);
    ASSERT_EQ(reads.size(), 18u);
    for (int index = 1; index <= 18; ++index)
        EXPECT_EQ(reads[index - 1], (std::array<std::int64_t, 3>{17000, index, 255})) << "text " << index;
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

    expectAboutItemInstalled(host, nullptr);
    const MenuItem& groupItem = host.menus().item(itemsOf(host, "About").at(0));
    const MenuGroup& shared = host.menus().group(groupItem.submenu);
    EXPECT_EQ(groupItem.plugin, plugin);
    EXPECT_EQ(shared.options, 1);
    // Only the command items are left to the host to update.
    EXPECT_FALSE(groupItem.updatedAutomatically);
    EXPECT_FALSE(host.menus().item(shared.items[0]).updatedAutomatically);

    EXPECT_TRUE(host.dialogs().empty());
    EXPECT_EQ(host.ledger().totalHolds(), 0);
    expectCleanShutdown(host, plugin);
}

// Texts the list may hold or the host may hand over: the longest the
// 255-byte buffer takes fills it with no zero left as a Pascal string, so the
// key name must be a copy that keeps its terminator; a longer one the host
// cuts; an empty one, or a read that reports success and writes nothing,
// gives an item with no text, never the previous item's.
TEST(Startup, EveryTextTheHostHandsOverBecomesItsItemsTextAndKeyName) {
    const struct {
        const char* what;
        std::size_t index;      // the entry of the list replaced
        std::string entry;
        std::string shown;
        bool listEndsThere;     // the list is cut before it, and the host's reads write nothing
    } cases[] = {
        {"a text as long as the buffer", 2, std::string(254, 'x'), std::string(254, 'x'), false},
        {"a text longer than the buffer", 3, std::string(300, 'y'), std::string(254, 'y'), false},
        {"an empty text", 4, "", "", false},
        {"a read that writes nothing", 4, "", "", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        PluginHarness h;
        std::vector<std::string> expected(kMenuTexts.begin(), kMenuTexts.end());
        menuList(h)[c.index] = c.entry;
        expected[c.index] = c.shown;
        if (c.listEndsThere) {
            menuList(h).resize(c.index);
            h.host.stringLists().silentWhenMissing = true;
            std::fill(expected.begin() + static_cast<long>(c.index), expected.end(), "");
        }
        ASSERT_EQ(h.startup(), kNoErr);
        EXPECT_THAT(textsOf(h.host, "SelectObject"), ElementsAreArray(expected));
        for (MenuItemIndex item : itemsOf(h.host, "SelectObject"))
            EXPECT_EQ(h.host.menus().item(item).name, h.host.menus().item(item).text);
        for (int slot : kSlotOfIndex) EXPECT_NE(g->menuItems[slot], nullptr) << "slot " << slot;
        // Each slot holds its item's handle (the sweep below checks them all
        // against the slot table); spelled out, so a wrong table is caught too:
        // the sixteenth text's ("Symbol Instances") item in slot 16, the
        // seventeenth's ("Rasters") in 15.
        EXPECT_EQ(h.host.menus().item(*h.host.menuItemOf(g->menuItems[16])).text, expected[15]);
        EXPECT_EQ(h.host.menus().item(*h.host.menuItemOf(g->menuItems[15])).text, expected[16]);
        expectAboutItemInstalled(h);
        h.expectCleanShutdown();
    }
}

// ---- Failures of the command items --------------------------------------------------

// A failed read or add, or a failed update registration of the ninth or the
// last item, ends the installation with its code, shown with its message;
// the items before it stay. Other update registrations do not count.
TEST(StartupFailures, ACallThatCountsEndsTheInstallationWithItsCode) {
    const struct {
        StartupFault fault;
        std::size_t items;    // command items installed
        int unregistered;     // the item whose update registration failed; -1 for none
        bool aboutInstalled;
        const char* message;  // null: not checked
    } cases[] = {
        {{"the fifth read", FaultRule::failNthOf(Op::GetIndexString, 5, kResourceNotFoundErr), kResourceNotFoundErr,
          "RSRC"}, 4, -1, false, "A resource of Wendlow Brindle is missing or damaged. Reinstall the plug-in."},
        {{"the seventh add", FaultRule::failNthOf(Op::AddMenuItem, 7, kRefused), kRefused, "4242"}, 6, -1, false,
         "An error occurred in Wendlow Brindle."},
        {{"the third registration", FaultRule::failNthOf(Op::UpdateMenuItemAutomatically, 3, kRefused), kNoErr,
          nullptr}, 18, 2, true, nullptr},
        {{"the ninth registration", FaultRule::failNthOf(Op::UpdateMenuItemAutomatically, 9, kRefused), kRefused,
          "4242"}, 9, 8, false, nullptr},
        {{"the last registration", FaultRule::failNthOf(Op::UpdateMenuItemAutomatically, 18, kRefused), kRefused,
          "4242"}, 18, 17, true, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault.what);
        PluginHarness h;
        expectStartupUnder(h, c.fault);
        EXPECT_THAT(textsOf(h.host, "SelectObject"), ElementsAreArray(firstTexts(c.items)));
        const auto items = itemsOf(h.host, "SelectObject");
        for (std::size_t i = 0; i < items.size(); ++i)
            EXPECT_EQ(h.host.menus().item(items[i]).updatedAutomatically, static_cast<int>(i) != c.unregistered) << i;
        for (std::size_t i = 0; i < kSlotOfIndex.size(); ++i)
            EXPECT_EQ(g->menuItems[kSlotOfIndex[i]] != nullptr, i < c.items) << kMenuTexts[i];
        if (c.aboutInstalled) {
            expectAboutItemInstalled(h);
        } else {
            EXPECT_THAT(textsOf(h.host, "About"), IsEmpty());
            EXPECT_EQ(g->menuItems[kAboutItemSlot], nullptr);
        }
        if (c.message != nullptr && !h.host.dialogs().empty()) {
            EXPECT_EQ(h.host.dialogs()[0].items[1].text, c.message);
        }
        EXPECT_EQ(gAcquireCount, 0);
        h.expectCleanShutdown();
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
    // Each of the helper's calls failing is AboutHelperTest's; here one
    // failure at each stage of what it adds.
    const AboutFailure failures[] = {
        {"1008 acquisition", secondMenuAcquisition, false, false},
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
        h.expectCleanShutdown();
    }
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
        const std::vector<std::string> shared = textsOf(h.host, kSharedGroup);
        EXPECT_TRUE(!shared.empty() && shared.front() == "Group First...") << ::testing::PrintToString(shared);
        checkStartupUnderFault(h, result, rule);
        return fired;
    });
    EXPECT_FALSE(sweep.endless);
}

}  // namespace
