#include "PluginHarness.h"

#include <stdexcept>

namespace wendlow_test {

void resetPluginState() {
    g = nullptr;
    gAcquireCount = 0;
    sSPBasic = nullptr;
    for (const SuiteImport& row : imports) *row.suite = nullptr;
}

simhost::Resources shippedResources() {
    return simhost::Resources::load(WENDLOW_RESOURCES);
}

PluginHarness::PluginHarness() {
    resetPluginState();
    plugin = host.attachPlugin(PluginMain, shippedResources(), "Wendlow Brindle (in process)");
}

PluginHarness::~PluginHarness() {
    resetPluginState();
}

ASErr PluginHarness::choose(int slot) {
    if (g == nullptr) throw std::logic_error("the plug-in has no globals block");
    return host.sendMenu(plugin, kSelectorAIGoMenuItem, g->menuItems[slot]);
}

HeldSuites::HeldSuites(simhost::Host& host) : host_(host) {
    sSPBasic = host_.basicSuite();
    result_ = acquireSuites(host_.basicSuite());
}

HeldSuites::~HeldSuites() {
    releaseSuites(host_.basicSuite());
}

}  // namespace wendlow_test
