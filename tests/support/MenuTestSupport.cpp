#include "MenuTestSupport.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <stdexcept>

#include "PluginHarness.h"
#include "shellMain.h"
#include "simhost/Dialogs.h"
#include "simhost/Gate.h"
#include "simhost/Ledger.h"
#include "simhost/Menus.h"
#include "simhost/Plugins.h"

namespace wendlow_test {

using namespace simhost;

const std::array<std::string, 18> kMenuTexts = {
    "Guides",         "All Paths",        "Open Paths",          "Closed Paths",     "Filled Paths",
    "Unfilled Paths", "Stroked Paths",    "Unstroked Paths",     "Dashed Paths",     "Undashed Paths",
    "Compound Paths", "Groups",           "Plugin Groups",       "Meshes",           "Plugin Group Meshes",
    "Symbol Instances", "Rasters",        "Placed Objects",
};

const std::array<int, 18> kSlotOfIndex = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 16, 15, 17};

MenuGroupIndex groupNamed(Host& host, const std::string& name) {
    return host.menus().findGroup(name);
}

std::vector<MenuItemIndex> itemsOf(Host& host, const std::string& group) {
    const MenuGroupIndex index = groupNamed(host, group);
    if (index < 0) return {};
    return host.menus().group(index).items;
}

std::vector<std::string> textsOf(Host& host, const std::string& group) {
    std::vector<std::string> texts;
    for (MenuItemIndex item : itemsOf(host, group)) texts.push_back(host.menus().item(item).text);
    return texts;
}

AIMenuItemHandle itemWithText(Host& host, const std::string& group, const std::string& text) {
    for (MenuItemIndex item : itemsOf(host, group))
        if (host.menus().item(item).text == text) return host.menuItemHandle(item);
    throw std::runtime_error("no item \"" + text + "\" in group \"" + group + "\"");
}

PluginId loadAboutGroupFirst(Host& host, const std::string& groupName) {
    const PluginId id = host.loadPlugin(ABOUT_GROUP_FIRST_PATH);
    if (!groupName.empty()) host.plugin(id).resources.stringLists().at(16000).at(0) = groupName;
    return id;
}

namespace {

int importRow(const Ledger::SuiteKey& key) {
    for (int row = 0; row < kSuiteImportCount; ++row)
        if (key.first == imports[row].name && key.second == imports[row].version) return row;
    return -1;
}

}  // namespace

std::vector<std::string> unexplainedLeftovers(Host& host) {
    std::map<Ledger::SuiteKey, int> keptSuites;
    std::size_t keptStrings = 0, keptHandles = 0, keptBlocks = 0;
    for (const CallRecord& call : host.gate().log()) {
        if (call.injected == kNoErr) continue;
        switch (call.op) {
            case Op::ReleaseSuite: {
                const Ledger::SuiteKey key{call.text, call.version};
                const int row = importRow(key);
                if (row < 0) {
                    ++keptSuites[key];
                    break;
                }
                for (int later = row; later < kSuiteImportCount; ++later)
                    ++keptSuites[{imports[later].name, imports[later].version}];
                break;
            }
            case Op::StringDestroy: ++keptStrings; break;
            case Op::DisposeHandle: ++keptHandles; break;
            case Op::FreeBlock: ++keptBlocks; break;
            default: break;
        }
    }

    std::vector<std::string> lines;
    for (const auto& [key, holds] : host.ledger().suiteHolds())
        if (holds > keptSuites[key])
            lines.push_back("suite \"" + key.first + "\" " + std::to_string(key.second) + " held " +
                            std::to_string(holds) + " time(s), " + std::to_string(keptSuites[key]) +
                            " explained by refused releases");
    if (host.ledger().liveStrings() > keptStrings)
        lines.push_back(std::to_string(host.ledger().liveStrings()) + " Unicode string(s) live, " +
                        std::to_string(keptStrings) + " destroy(s) refused");
    if (host.ledger().liveHandles() > keptHandles)
        lines.push_back(std::to_string(host.ledger().liveHandles()) + " memory handle(s) live, " +
                        std::to_string(keptHandles) + " dispose(s) refused");
    if (host.ledger().liveBlocks() > keptBlocks)
        lines.push_back(std::to_string(host.ledger().liveBlocks()) + " memory block(s) live, " +
                        std::to_string(keptBlocks) + " free(s) refused");
    for (const Violation& v : host.ledger().violations()) lines.push_back("violation [" + v.rule + "] " + v.detail);
    return lines;
}

void expectStartupUnder(PluginHarness& h, const StartupFault& fault) {
    h.host.gate().addRule(fault.rule);
    EXPECT_EQ(h.startup(), fault.result);
    EXPECT_EQ(h.host.dialogs().size(), fault.codeShown != nullptr ? 1u : 0u);
    if (fault.codeShown != nullptr && !h.host.dialogs().empty()) {
        EXPECT_EQ(h.host.dialogs()[0].items[2].text, fault.codeShown);
    }
}

void expectFaultTrialEndsCleanly(PluginHarness& h) {
    for (const DialogRecord& dialog : h.host.dialogs())
        if (dialog.name == "Error Dialog") {
            EXPECT_EQ(dialog.items[2].text, "FALT");
        }
    h.host.gate().clearRules();
    EXPECT_EQ(h.shutdown(), kNoErr);
    EXPECT_EQ(gAcquireCount, 0);
    EXPECT_THAT(unexplainedLeftovers(h.host), ::testing::IsEmpty());
}

}  // namespace wendlow_test
