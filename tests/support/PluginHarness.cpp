#include "PluginHarness.h"
#include "simhost/Resources.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
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

void PluginHarness::expectCleanShutdown() {
    wendlow_test::expectCleanShutdown(host, plugin);
}

void expectCleanShutdown(simhost::Host& host, simhost::PluginId plugin) {
    EXPECT_EQ(host.shutdown(plugin), kNoErr);
    EXPECT_THAT(host.problems(), ::testing::IsEmpty());
}

HeldSuites::HeldSuites(simhost::Host& host) : host_(host) {
    sSPBasic = host_.basicSuite();
    result_ = acquireSuites(host_.basicSuite());
}

HeldSuites::~HeldSuites() {
    releaseSuites(host_.basicSuite());
}

namespace {
const char* gNullName = nullptr;
ai::int32 gNullVersion = 0;
SPBasicSuite gRealBasic{};

ASErr acquireWithoutTable(const char* name, ai::int32 version, const void** suite) {
    const ASErr err = gRealBasic.AcquireSuite(name, version, suite);
    if (err == kNoErr && std::strcmp(name, gNullName) == 0 && version == gNullVersion) *suite = nullptr;
    return err;
}
}  // namespace

GrantWithoutTable::GrantWithoutTable(simhost::Host& host, const char* name, ai::int32 version)
    : host_(host), real_(*host.basicSuite()) {
    gNullName = name;
    gNullVersion = version;
    gRealBasic = real_;
    host_.basicSuite()->AcquireSuite = acquireWithoutTable;
}

GrantWithoutTable::~GrantWithoutTable() {
    *host_.basicSuite() = real_;
}

}  // namespace wendlow_test
