// The About-plug-ins group that all of the maker's plug-ins share: made by
// whichever comes first, found by its exact name by the others, and the
// helper that does it, failure by failure.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>

#include "MenuTestSupport.h"
#include "PluginHarness.h"
#include "SDKAboutPluginsHelper.h"
#include "simhost/Dialogs.h"
#include "simhost/FaultSweep.h"
#include "simhost/Gate.h"
#include "simhost/Ledger.h"
#include "simhost/Menus.h"

using namespace simhost;
using namespace wendlow_test;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

// ---- Through the built plug-ins --------------------------------------------------------

TEST(SharedGroup, MadeFirstByAnotherPluginItGetsExactlyOneItemMore) {
    Host host;
    const PluginId other = loadAboutGroupFirst(host);
    ASSERT_EQ(host.startup(other), kNoErr);
    const MenuGroupIndex shared = groupNamed(host, kSharedGroup);
    ASSERT_GE(shared, 0);

    const PluginId wendlow = host.loadPlugin(WENDLOW_PLUGIN_PATH);
    host.gate().resetCounts();
    ASSERT_EQ(host.startup(wendlow), kNoErr);

    ASSERT_THAT(textsOf(host, "About"), ElementsAre("About Wendlow Plug-ins"));
    EXPECT_EQ(host.menus().item(itemsOf(host, "About")[0]).plugin, other);
    EXPECT_EQ(groupNamed(host, kSharedGroup), shared);
    ASSERT_THAT(textsOf(host, kSharedGroup), ElementsAre("Group First...", "Brindle..."));
    const MenuItem& brindle = host.menus().item(itemsOf(host, kSharedGroup)[1]);
    EXPECT_EQ(brindle.plugin, wendlow);
    // One count, a search that stops at the group, and no second group.
    EXPECT_EQ(host.gate().calls(Op::CountMenuGroups), 1u);
    EXPECT_EQ(host.gate().calls(Op::GetNthMenuGroup), static_cast<std::uint64_t>(shared) + 1);
    EXPECT_EQ(host.gate().calls(Op::AddMenuGroupAsSubMenu), 0u);
    EXPECT_EQ(host.gate().calls(Op::AddMenuItem), 19u);

    // Each item goes to the plug-in that added it.
    EXPECT_EQ(host.chooseMenuItem(itemWithText(host, kSharedGroup, "Brindle...")), 1);
    ASSERT_EQ(host.dialogs().size(), 1u);
    EXPECT_EQ(host.dialogs()[0].plugin, wendlow);
    EXPECT_EQ(host.dialogs()[0].name, "About Dialog");
    EXPECT_EQ(host.chooseMenuItem(itemWithText(host, kSharedGroup, "Group First...")), kNoErr);
    EXPECT_EQ(host.dialogs().size(), 1u);

    EXPECT_EQ(host.shutdown(wendlow), kNoErr);
    expectCleanShutdown(host, other);
}

// Names are compared byte for byte and in full: a group whose name differs
// in letter case, or is the shared name with a byte more or less, is another
// plug-in maker's group, and Wendlow Brindle makes its own.
TEST(SharedGroup, AGroupWhoseNameDiffersOnlyInCaseIsNeverTakenForIt) {
    for (const char* lookalike : {"wendlowaboutpluginsgroupname", "WENDLOWABOUTPLUGINSGROUPNAME",
                                  "WendlowAboutPluginsGroupname", "WendlowAboutPluginsGroupNam",
                                  "WendlowAboutPluginsGroupNames"}) {
        SCOPED_TRACE(lookalike);
        Host host;
        const PluginId other = loadAboutGroupFirst(host, lookalike);
        ASSERT_EQ(host.startup(other), kNoErr);
        ASSERT_GE(groupNamed(host, lookalike), 0);
        ASSERT_EQ(groupNamed(host, kSharedGroup), -1);

        const PluginId wendlow = host.loadPlugin(WENDLOW_PLUGIN_PATH);
        ASSERT_EQ(host.startup(wendlow), kNoErr);
        ASSERT_THAT(textsOf(host, "About"), ElementsAre("About Wendlow Plug-ins", "About Wendlow Plug-ins"));
        EXPECT_THAT(textsOf(host, lookalike), ElementsAre("Group First..."));
        EXPECT_THAT(textsOf(host, kSharedGroup), ElementsAre("Brindle..."));
        const MenuItem& ours = host.menus().item(itemsOf(host, "About")[1]);
        EXPECT_EQ(ours.plugin, wendlow);
        EXPECT_EQ(ours.submenu, groupNamed(host, kSharedGroup));
        expectCleanShutdown(host, wendlow);
    }
}

// A host may answer get-menu-group-name with success and no name. Such a
// group matches nothing; the search goes on past it.
TEST(SharedGroup, GroupsTheHostGivesNoNameForAreSkipped) {
    {
        SCOPED_TRACE("the host's lever");
        Host host;
        const void* table = nullptr;
        ASSERT_EQ(host.basicSuite()->AcquireSuite(kAIMenuSuite, kAIMenuSuiteVersion, &table), kNoErr);
        const auto* menu = static_cast<const AIMenuSuite*>(table);
        const MenuGroupIndex edit = groupNamed(host, "Edit");
        host.menus().group(edit).reportNullName = true;
        const char* name = "unchanged";
        EXPECT_EQ(menu->GetMenuGroupName(host.menuGroupHandle(edit), &name), kNoErr);
        EXPECT_EQ(name, nullptr);
        EXPECT_EQ(groupNamed(host, "Edit"), edit);
        host.basicSuite()->ReleaseSuite(kAIMenuSuite, kAIMenuSuiteVersion);
    }
    {
        SCOPED_TRACE("the group exists after them");
        Host host;
        const PluginId other = loadAboutGroupFirst(host);
        ASSERT_EQ(host.startup(other), kNoErr);
        for (const char* name : {"File", "Edit", "About"})
            host.menus().group(groupNamed(host, name)).reportNullName = true;
        const PluginId wendlow = host.loadPlugin(WENDLOW_PLUGIN_PATH);
        host.gate().resetCounts();
        ASSERT_EQ(host.startup(wendlow), kNoErr);
        EXPECT_EQ(host.gate().calls(Op::AddMenuGroupAsSubMenu), 0u);
        EXPECT_THAT(textsOf(host, "About"), ElementsAre("About Wendlow Plug-ins"));
        EXPECT_THAT(textsOf(host, kSharedGroup), ElementsAre("Group First...", "Brindle..."));
        EXPECT_THAT(host.problems(), IsEmpty());
    }
}

// ---- The helper on its own ---------------------------------------------------------------

// Calls AddAboutPluginsMenuItem as addMenu does, through `basic` (the
// host's own unless given).
ASErr addAboutItem(PluginHarness& h, AIMenuItemHandle* item, SPBasicSuite* basic = nullptr) {
    SPInterfaceMessage message{};
    message.d.self = h.host.pluginRef(h.plugin);
    message.d.basic = basic != nullptr ? basic : h.host.basicSuite();
    const ai::UnicodeString groupText("About Wendlow Plug-ins", 0);
    SDKAboutPluginsHelper helper;
    return helper.AddAboutPluginsMenuItem(&message, kSharedGroup, groupText, "Brindle...", item);
}

// The helper with the plug-in's suites held for the Unicode strings.
class AboutHelperTest : public ::testing::Test {
protected:
    AboutHelperTest() : held_(h.host) {}
    ASErr add(AIMenuItemHandle* item, SPBasicSuite* basic = nullptr) { return addAboutItem(h, item, basic); }
    int helperHolds() { return h.host.ledger().holds({kAIMenuSuite, kAIMenuSuiteVersion}); }

    PluginHarness h;

private:
    HeldSuites held_;
};

// An address no menu item of the host ever has.
AIMenuItemHandle sentinel() {
    static char marker;
    return reinterpret_cast<AIMenuItemHandle>(&marker);
}

// A host that grants the 1008 suite with a count of zero menu groups: the
// group is made all the same.
AIMenuSuite gNoGroupsMenu;

TEST_F(AboutHelperTest, MakesTheGroupWhenTheHostCountsNoGroupsAtAll) {
    SPBasicSuite basic = *h.host.basicSuite();
    basic.AcquireSuite = [](const char* name, ai::int32 version, const void** suite) -> ASErr {
        const ASErr err = Host::current().basicSuite()->AcquireSuite(name, version, suite);
        if (err == kNoErr && std::strcmp(name, kAIMenuSuite) == 0 && version == kAIMenuSuiteVersion) {
            gNoGroupsMenu = *static_cast<const AIMenuSuite*>(*suite);
            gNoGroupsMenu.CountMenuGroups = [](ai::int32* count) -> ASErr {
                *count = 0;
                return kNoErr;
            };
            *suite = &gNoGroupsMenu;
        }
        return err;
    };
    AIMenuItemHandle item = sentinel();
    ASSERT_EQ(add(&item, &basic), kNoErr);
    EXPECT_EQ(h.host.gate().calls(Op::GetNthMenuGroup), 0u);
    EXPECT_EQ(item, itemWithText(h.host, kSharedGroup, "Brindle..."));
    EXPECT_EQ(helperHolds(), 0);
}

TEST_F(AboutHelperTest, AGrantWithoutATableAddsNothingAndGivesTheHoldBack) {
    GrantWithoutTable grant(h.host, kAIMenuSuite, kAIMenuSuiteVersion);
    h.host.gate().resetCounts();
    AIMenuItemHandle item = sentinel();
    EXPECT_EQ(add(&item), kNoErr);
    EXPECT_EQ(item, sentinel());
    EXPECT_EQ(h.host.gate().calls(Op::CountMenuGroups), 0u);
    EXPECT_EQ(h.host.gate().calls(Op::AddMenuItem), 0u);
    EXPECT_EQ(helperHolds(), 0);
}

TEST_F(AboutHelperTest, AHostFailureIsReturnedWithTheHandleUntouchedAndTheSuiteGivenBack) {
    FaultRule menuAcquisition = FaultRule::failNthOf(Op::AcquireSuite, 1, kRefused);
    menuAcquisition.subject = "AI Menu Suite";
    struct Case {
        const char* what;
        FaultRule rule;
        std::size_t aboutItems;  // items under "About" afterwards
    };
    const Case cases[] = {
        {"acquire-suite", menuAcquisition, 0},
        {"count-menu-groups", FaultRule::failNthOf(Op::CountMenuGroups, 1, kRefused), 0},
        {"get-nth-menu-group", FaultRule::failNthOf(Op::GetNthMenuGroup, 1, kRefused), 0},
        {"get-menu-group-name", FaultRule::failNthOf(Op::GetMenuGroupName, 4, kRefused), 0},
        {"add-menu-item under About", FaultRule::failNthOf(Op::AddMenuItem, 1, kRefused), 0},
        {"add-menu-group-as-submenu", FaultRule::failNthOf(Op::AddMenuGroupAsSubMenu, 1, kRefused), 1},
        {"add-menu-item in the group", FaultRule::failNthOf(Op::AddMenuItem, 2, kRefused), 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        h.host.gate().clearRules();
        h.host.gate().resetCounts();
        h.host.gate().addRule(c.rule);
        const std::size_t aboutBefore = textsOf(h.host, "About").size();
        AIMenuItemHandle item = sentinel();
        EXPECT_EQ(add(&item), kRefused);
        EXPECT_EQ(h.host.gate().faultsFired(), 1u);
        EXPECT_EQ(item, sentinel());
        EXPECT_EQ(helperHolds(), 0);
        EXPECT_EQ(textsOf(h.host, "About").size(), aboutBefore + c.aboutItems);
        EXPECT_THAT(textsOf(h.host, kSharedGroup), IsEmpty());
        if (c.rule.subject) {
            EXPECT_EQ(h.host.gate().calls(Op::CountMenuGroups), 0u);
        }
        EXPECT_EQ(h.host.ledger().liveStrings(), 0u);
    }
}

// The string wrappers throw ai::Error; the helper lets it pass but gives its
// suite back on the way, and the item handle keeps its value.
TEST(AboutHelper, AStringFailurePassesAsAiErrorWithTheSuiteGivenBack) {
    // 1: the group item's text copied into its record; then the plug-in's
    // item text built, and copied into its record.
    for (const FaultRule& rule : {FaultRule::failNthOf(Op::StringCopy, 1, kRefused),
                                  FaultRule::failNthOf(Op::StringInitialize, 2, kRefused),
                                  FaultRule::failNthOf(Op::StringCopy, 2, kRefused)}) {
        SCOPED_TRACE(describeRule(rule));
        PluginHarness h;
        HeldSuites held(h.host);
        h.host.gate().addRule(rule);
        AIMenuItemHandle item = sentinel();
        ASErr thrown = kNoErr;
        try {
            addAboutItem(h, &item);
        } catch (const ai::Error& e) {
            thrown = e.code();
        }
        EXPECT_EQ(h.host.ledger().liveStrings(), 0u);
        EXPECT_EQ(thrown, kRefused);
        EXPECT_EQ(h.host.gate().faultsFired(), 1u);
        EXPECT_EQ(item, sentinel());
        EXPECT_EQ(h.host.ledger().holds({kAIMenuSuite, kAIMenuSuiteVersion}), 0);
        EXPECT_THAT(textsOf(h.host, kSharedGroup), IsEmpty());
    }
}

}  // namespace
