// The built plug-in library as the host loads it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "AISuites.h"
#include "PluginHarness.h"
#include "simhost/Gate.h"
#include "simhost/Host.h"
#include "simhost/Menus.h"
#include "simhost/Plugins.h"

using namespace simhost;
using wendlow_test::expectCleanShutdown;

namespace {

std::vector<AIMenuItemHandle> itemsOf(Host& host, PluginId plugin) {
    std::vector<AIMenuItemHandle> items;
    for (std::size_t i = 0; i < host.menus().itemCount(); ++i)
        if (host.menus().item(static_cast<MenuItemIndex>(i)).plugin == plugin)
            items.push_back(host.menuItemHandle(static_cast<MenuItemIndex>(i)));
    return items;
}

TEST(PluginLibrary, SurvivesUnloadingItsCodeBetweenMessages) {
    Host host;
    const PluginId plugin = host.loadPlugin(WENDLOW_PLUGIN_PATH);
    ASSERT_EQ(host.startup(plugin), kNoErr);
    const AIMenuItemHandle allPaths = itemsOf(host, plugin).at(1);

    for (int cycle = 0; cycle < 3; ++cycle) {
        ASSERT_EQ(host.sendAccess(plugin, kSPAccessUnloadSelector), kNoErr);
        ASSERT_NE(host.plugin(plugin).globals, nullptr);
        host.unloadLibrary(plugin);
        host.reloadLibrary(plugin);
        ASSERT_EQ(host.sendAccess(plugin, kSPAccessReloadSelector), kNoErr);
        // The reloaded code finds its items through the block it was handed back.
        host.gate().resetCounts();
        EXPECT_EQ(host.chooseMenuItem(allPaths), kNoErr);
        EXPECT_EQ(host.gate().calls(Op::GetMatchingArt), 1u);
    }
    expectCleanShutdown(host, plugin);
}

TEST(PluginLibrary, ALibraryWithoutTheEntryPointIsRefusedClearly) {
    Host host;
    try {
        host.loadPlugin("/nonexistent/plugin.so");
        ADD_FAILURE();
    } catch (const std::runtime_error& e) {
        EXPECT_THAT(e.what(), ::testing::HasSubstr("cannot load plug-in /nonexistent/plugin.so"));
    }
    EXPECT_EQ(host.pluginCount(), 0u);
}

}  // namespace
