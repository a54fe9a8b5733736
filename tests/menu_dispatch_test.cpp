// Choosing the plug-in's menu items through the host: each item runs its
// command with its mode on the open document, or opens the About dialog;
// items that are not the plug-in's run nothing; "AI Update" does nothing;
// and every host call of a command or of the About dialog may fail.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "MenuTestSupport.h"
#include "PluginHarness.h"
#include "menuHandler.h"
#include "simhost/DialogDriver.h"
#include "simhost/Dialogs.h"
#include "simhost/Document.h"
#include "simhost/Gate.h"

using namespace simhost;
using namespace wendlow_test;
using ::testing::ElementsAre;
using ::testing::UnorderedElementsAreArray;

namespace {

using Ids = std::set<std::string>;

// One object for each command to tell it from all the others: the paths
// (closed, guide, filled, stroked, dashes) differ so that every path mode
// selects a different set of them. "grouped" is a mesh in a group; "pgMesh"
// a mesh in a group inside a plugin group. "openFilled" starts out selected.
Document commandDocument() {
    Document doc;
    const ArtIndex root = doc.rootOf(doc.addLayer("Layer 1"));
    doc.addPath(root, PathProps{false, true, true, false, 0}, "guide");
    const ArtIndex preselected = doc.addPath(root, PathProps{false, false, true, false, 0}, "openFilled");
    doc.addPath(root, PathProps{true, false, false, true, 0}, "closedStroked");
    doc.addPath(root, PathProps{true, false, true, true, 2}, "closedFilledDashed");
    doc.addPath(root, PathProps{false, false, false, true, 0}, "openStroked");
    doc.addArt(root, kCompoundPathArt, "compound");
    doc.addArt(root, kGroupArt, "emptyGroup");
    doc.addArt(doc.addArt(root, kGroupArt, "meshGroup"), kMeshArt, "grouped");
    const ArtIndex pluginGroup = doc.addArt(root, kPluginArt, "plugin");
    doc.addArt(doc.addArt(pluginGroup, kGroupArt, "pluginEdit"), kMeshArt, "pgMesh");
    doc.addArt(root, kPlacedArt, "placed");
    doc.addArt(root, kRasterArt, "raster");
    doc.addArt(root, kSymbolArt, "symbol");
    doc.art(preselected).attributes |= kArtSelected;
    return doc;
}

Ids selectedIds(Host& host) {
    Ids ids;
    for (ArtIndex index : host.document().selected()) ids.insert(host.document().id(index));
    return ids;
}

// What each item selects in commandDocument(), by its text.
const std::map<std::string, Ids>& expectedSelections() {
    static const std::map<std::string, Ids> expected = {
        {"Guides", {"guide"}},
        {"All Paths", {"openFilled", "closedStroked", "closedFilledDashed", "openStroked"}},
        {"Open Paths", {"openFilled", "openStroked"}},
        {"Closed Paths", {"closedStroked", "closedFilledDashed"}},
        {"Filled Paths", {"openFilled", "closedFilledDashed"}},
        {"Unfilled Paths", {"closedStroked", "openStroked"}},
        {"Stroked Paths", {"closedStroked", "closedFilledDashed", "openStroked"}},
        {"Unstroked Paths", {"openFilled"}},
        {"Dashed Paths", {"closedFilledDashed"}},
        {"Undashed Paths", {"openFilled", "closedStroked", "openStroked"}},
        {"Compound Paths", {"compound"}},
        // A group is selected with what it holds; one inside a plugin group is not.
        {"Groups", {"emptyGroup", "meshGroup", "grouped"}},
        {"Plugin Groups", {"plugin"}},
        {"Meshes", {"grouped"}},
        {"Plugin Group Meshes", {"pgMesh"}},
        {"Symbol Instances", {"symbol"}},
        {"Rasters", {"raster"}},
        {"Placed Objects", {"placed"}},
    };
    return expected;
}

// The About dialog as the user saw it: built from its resource, OK set up by
// the plug-in and pressed, which closed it.
void expectAboutDialogShownAndClosedByOK(const DialogRecord& dialog) {
    EXPECT_EQ(dialog.name, "About Dialog");
    EXPECT_EQ(dialog.resourceID, 16050);
    ASSERT_FALSE(dialog.items.empty());
    EXPECT_EQ(dialog.items[0].id, 1);
    EXPECT_EQ(dialog.items[0].text, "OK");
    EXPECT_TRUE(dialog.items[0].hasNotifyProc);
    std::vector<std::string> texts;
    for (const DialogItemRecord& item : dialog.items) texts.push_back(item.text);
    EXPECT_THAT(texts, ::testing::Contains("Wendlow Brindle"));
    EXPECT_THAT(texts, ::testing::Contains(::testing::StartsWith("Version ")));
    EXPECT_EQ(dialog.closedBy, 1);
    EXPECT_TRUE(dialog.closedByUser);
    // The press reached the plug-in's own procedure, which closed the dialog.
    ASSERT_EQ(dialog.presses.size(), 1u);
    EXPECT_EQ(dialog.presses[0].item, 1);
    EXPECT_EQ(dialog.presses[0].route, PressRoute::kNotifyProc);
}

// ---- The nineteen items, end to end ----------------------------------------------------

TEST(Dispatch, EveryItemOfTheBuiltPluginRunsItsCommandOnTheDocument) {
    Host host;
    const PluginId plugin = host.loadPlugin(WENDLOW_PLUGIN_PATH);
    ASSERT_EQ(host.startup(plugin), kNoErr);
    const Document original = commandDocument();
    const std::uint64_t fingerprint = original.fingerprintBesidesSelection();

    for (const std::string& text : kMenuTexts) {
        SCOPED_TRACE(text);
        host.setDocument(commandDocument());
        EXPECT_EQ(host.chooseMenuItem(itemWithText(host, "SelectObject", text)), kNoErr);
        const Ids& expected = expectedSelections().at(text);
        EXPECT_THAT(selectedIds(host), UnorderedElementsAreArray(expected));
        EXPECT_EQ(host.document().fingerprintBesidesSelection(), fingerprint);
    }
    EXPECT_TRUE(host.dialogs().empty());
    // The About item is the AboutDialog tests'.
    expectCleanShutdown(host, plugin);
}

// ---- Items that are not the plug-in's, and "AI Update" ---------------------------------------

// Messages that run no command: "AI Go" for an item that is not the
// plug-in's (another plug-in's, one never given out, none), and "AI Update"
// for any of its own. Each returns 0 and makes no host call but the
// message's one acquisition and release (and the selector comparisons).
TEST(Dispatch, ForeignItemsAndUpdatesReturnZeroAndTouchNothing) {
    Host host;
    const PluginId other = loadAboutGroupFirst(host);
    ASSERT_EQ(host.startup(other), kNoErr);
    const PluginId wendlow = host.loadPlugin(WENDLOW_PLUGIN_PATH);
    ASSERT_EQ(host.startup(wendlow), kNoErr);
    host.setDocument(commandDocument());
    const std::uint64_t fingerprint = host.document().fingerprintBesidesSelection();
    std::vector<std::pair<const char*, AIMenuItemHandle>> messages = {
        {kSelectorAIGoMenuItem, itemWithText(host, kSharedGroup, "Group First...")},
        {kSelectorAIGoMenuItem, itemWithText(host, "About", "About Wendlow Plug-ins")},
        {kSelectorAIGoMenuItem, host.menuItemHandle(9999)},  // never given out
        {kSelectorAIGoMenuItem, nullptr},
        {kSelectorAIUpdateMenuItem, itemWithText(host, kSharedGroup, "Brindle...")},
    };
    for (const std::string& text : kMenuTexts)
        messages.emplace_back(kSelectorAIUpdateMenuItem, itemWithText(host, "SelectObject", text));
    for (std::size_t i = 0; i < messages.size(); ++i) {
        SCOPED_TRACE(std::string(messages[i].first) + ", message " + std::to_string(i));
        const Gate& gate = host.gate();
        host.gate().resetCounts();
        EXPECT_EQ(host.sendMenu(wendlow, messages[i].first, messages[i].second), kNoErr);
        EXPECT_EQ(gate.calls(Op::AcquireSuite), static_cast<std::uint64_t>(kSuiteImportCount));
        EXPECT_EQ(gate.calls(Op::ReleaseSuite), static_cast<std::uint64_t>(kSuiteImportCount));
        EXPECT_EQ(gate.totalCalls(), gate.calls(Op::AcquireSuite) + gate.calls(Op::ReleaseSuite) + gate.calls(Op::IsEqual));
    }
    EXPECT_THAT(selectedIds(host), ElementsAre("openFilled"));
    EXPECT_EQ(host.document().fingerprintBesidesSelection(), fingerprint);
    EXPECT_TRUE(host.dialogs().empty());
    expectCleanShutdown(host, wendlow);
}

// When the installation stopped early, the later slots stay null; a menu
// message with a null item must not be taken for one of them.
TEST(Dispatch, ANullItemIsNeverTakenForAnEmptySlot) {
    PluginHarness h;
    h.host.gate().addRule(FaultRule::failNthOf(Op::GetIndexString, 5, kResourceNotFoundErr));
    ASSERT_EQ(h.startup(), kResourceNotFoundErr);
    ASSERT_EQ(g->menuItems[4], nullptr);
    h.host.gate().clearRules();
    h.host.clearDialogsAndAlerts();
    h.host.setDocument(commandDocument());
    h.host.gate().resetCounts();
    EXPECT_EQ(h.menu(kSelectorAIGoMenuItem, nullptr), kNoErr);
    EXPECT_EQ(h.host.gate().calls(Op::GetSelectedArt), 0u);
    EXPECT_EQ(h.host.gate().calls(Op::Modal), 0u);
    EXPECT_THAT(selectedIds(h.host), ElementsAre("openFilled"));
    EXPECT_EQ(gAcquireCount, 0);
    h.expectCleanShutdown();
}

// goMenuItem's own acquisition is balanced on every way out, so that no
// restore in the entry point is needed to hide one it left open: for every
// item, when the command succeeds and when each of its host calls fails.
TEST(Dispatch, EveryItemReleasesItsOwnAcquisitionOnSuccessAndOnEachFailure) {
    PluginHarness h;
    ASSERT_EQ(h.startup(), kNoErr);
    std::vector<int> slots;
    for (int slot = 0; slot < 18; ++slot) slots.push_back(slot);
    slots.push_back(kAboutItemSlot);
    for (const int slot : slots) {
        SCOPED_TRACE(slot);
        AIMenuMessage message{};
        message.d.self = h.host.pluginRef(h.plugin);
        message.d.basic = h.host.basicSuite();
        message.menuItem = g->menuItems[slot];
        for (std::uint64_t nth = 0;; ++nth) {
            h.host.setDocument(commandDocument());
            HeldSuites held(h.host);
            ASSERT_EQ(held.result(), kNoErr);
            h.host.gate().resetCounts();
            if (nth > 0) h.host.gate().addRule(FaultRule::failNthCall(nth, true));
            goMenuItem(&message);
            const bool faultFired = h.host.gate().faultsFired() != 0;
            h.host.gate().clearRules();
            EXPECT_EQ(gAcquireCount, 1) << "after failing call " << nth;
            if (nth > 0 && !faultFired) break;
        }
    }
    EXPECT_EQ(h.shutdown(), kNoErr);
}

// ---- The About dialog -----------------------------------------------------------------------------

// Closed with 1 (OK) or 0 (the host closed it itself), the menu command ends
// without an error dialog; any other result of the modal call is a code the
// menu dispatch shows. The host's "About" message returns 0 whatever it is.
TEST(AboutDialog, ShownByMessageOrItemWithNoErrorWhenTheModalCallReturnsZeroOrOne) {
    Host host;
    const PluginId plugin = host.loadPlugin(WENDLOW_PLUGIN_PATH);
    ASSERT_EQ(host.startup(plugin), kNoErr);
    const AIMenuItemHandle about = itemWithText(host, kSharedGroup, "Brindle...");
    host.setDocument(commandDocument());

    // The host's own "About" message shows the same dialog, and returns 0.
    EXPECT_EQ(host.about(plugin), kNoErr);
    EXPECT_EQ(host.chooseMenuItem(about), 1);
    EXPECT_THAT(selectedIds(host), ElementsAre("openFilled"));  // the selection left alone
    ASSERT_EQ(host.dialogs().size(), 2u);
    for (const DialogRecord& dialog : host.dialogs()) {
        expectAboutDialogShownAndClosedByOK(dialog);
        EXPECT_EQ(dialog.plugin, plugin);
        EXPECT_EQ(dialog.title, "About Wendlow Brindle");
    }

    // No item pressed (the host closes the dialog with 0) or a text item (it
    // closes it with 3): the host's "About" message still returns 0, the item
    // returns the number, and only 3 is a code the dispatch shows.
    for (const ai::int32 button : {0, 3}) {
        SCOPED_TRACE(button);
        host.clearDialogsAndAlerts();
        host.setDialogButton(button);
        EXPECT_EQ(host.about(plugin), kNoErr);
        EXPECT_EQ(host.chooseMenuItem(about), button);
        ASSERT_EQ(host.dialogs().size(), button == 0 ? 2u : 3u);
        for (const std::size_t i : {0u, 1u}) {
            EXPECT_EQ(host.dialogs()[i].name, "About Dialog");
            EXPECT_EQ(host.dialogs()[i].closedBy, button);
        }
        if (button == 3) {
            EXPECT_EQ(host.dialogs()[2].name, "Error Dialog");
            EXPECT_EQ(host.dialogs()[2].items[2].text, "3");
        }
    }

    host.setDialogButton(1);
    expectCleanShutdown(host, plugin);
}

// A user who first clicks the dialog's text, then OK: the modal loop keeps
// asking until a press closes the dialog, and sees the texts the plug-in set.
class ScriptedUser final : public DialogDriver {
public:
    explicit ScriptedUser(std::vector<ai::int32> items) : items_(std::move(items)) {}
    std::optional<ai::int32> press(const OpenDialogView& dialog) override {
        seen.push_back(dialog);
        if (next_ == items_.size()) return std::nullopt;
        return items_[next_++];
    }
    std::vector<OpenDialogView> seen;

private:
    std::vector<ai::int32> items_;
    std::size_t next_ = 0;
};

TEST(AboutDialog, TheModalLoopAsksItsDriverUntilAPressClosesTheDialog) {
    Host host;
    const PluginId plugin = host.loadPlugin(WENDLOW_PLUGIN_PATH);
    ASSERT_EQ(host.startup(plugin), kNoErr);
    ScriptedUser user({3, 1, 1});
    host.setDialogDriver(&user);

    EXPECT_EQ(host.chooseMenuItem(itemWithText(host, kSharedGroup, "Brindle...")), 1);
    ASSERT_EQ(host.dialogs().size(), 1u);
    const DialogRecord& dialog = host.dialogs()[0];
    ASSERT_EQ(dialog.presses.size(), 2u) << "the press of OK closed the dialog; no third press";
    EXPECT_EQ(dialog.presses[0].item, 3);
    EXPECT_EQ(dialog.presses[0].route, PressRoute::kIgnored);
    EXPECT_EQ(dialog.presses[1].route, PressRoute::kNotifyProc);
    EXPECT_TRUE(dialog.closedByUser);
    ASSERT_EQ(user.seen.size(), 2u);
    EXPECT_EQ(user.seen[1].presses, 1);
    EXPECT_EQ(user.seen[0].title, dialog.title);
    EXPECT_TRUE(user.seen[0].items.at(0).hasNotifyProc) << "the init procedure ran before the user was asked";

    host.setDialogDriver(nullptr);
    expectCleanShutdown(host, plugin);
}

}  // namespace
