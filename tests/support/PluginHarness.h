// Runs the plug-in's own code, linked into the test program, under a fresh
// stand-in host, so a test can look at the plug-in's globals as well as at
// what the host saw.
#pragma once

#include <string>
#include <vector>

#include "PluginGlobals.h"
#include "shellMain.h"
#include "simhost/Host.h"
#include "simhost/Resources.h"

namespace wendlow_test {

// Clears the plug-in's globals: the globals block pointer, the acquisition
// count and every suite pointer, as a freshly loaded library has them.
void resetPluginState();

simhost::Resources shippedResources();

class PluginHarness {
public:
    PluginHarness();
    ~PluginHarness();

    simhost::Host host;
    simhost::PluginId plugin;

    ASErr startup() { return host.startup(plugin); }
    ASErr shutdown() { return host.shutdown(plugin); }
    ASErr about() { return host.about(plugin); }
    ASErr interfaceMessage(const char* selector) { return host.sendInterface(plugin, selector); }
    ASErr access(const char* selector) { return host.sendAccess(plugin, selector); }
    // "AI Go" for the item in `slot` of the plug-in's globals block.
    ASErr choose(int slot);
    ASErr menu(const char* selector, AIMenuItemHandle item) { return host.sendMenu(plugin, selector, item); }

    // Everything left held, and every violation, after the plug-in stopped.
    std::vector<std::string> problems() const { return host.problems(); }
    // "Shutdown" succeeds and leaves nothing held and no violation.
    void expectCleanShutdown();
};

// Holds the plug-in's suites for the length of a scope, for tests that call
// its functions directly.
// The same for a plug-in loaded into `host`.
void expectCleanShutdown(simhost::Host& host, simhost::PluginId plugin);

class HeldSuites {
public:
    explicit HeldSuites(simhost::Host& host);
    ~HeldSuites();
    ASErr result() const { return result_; }

private:
    simhost::Host& host_;
    ASErr result_;
};

// For its lifetime, the host grants one suite without a table: acquire-suite
// reports success and counts the hold, but the pointer it writes is null.
// One at a time.
class GrantWithoutTable {
public:
    GrantWithoutTable(simhost::Host& host, const char* name, ai::int32 version);
    ~GrantWithoutTable();
    GrantWithoutTable(const GrantWithoutTable&) = delete;
    GrantWithoutTable& operator=(const GrantWithoutTable&) = delete;

private:
    simhost::Host& host_;
    SPBasicSuite real_;
};

}  // namespace wendlow_test
