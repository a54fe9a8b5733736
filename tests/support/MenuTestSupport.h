// Shared by the menu tests: the plug-in's menus as the host holds them, the
// second test plug-in, and the balance check after a host failure.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "simhost/Gate.h"
#include "simhost/Host.h"

namespace wendlow_test {

// The group of the maker's About items, shared by all its plug-ins.
inline constexpr const char* kSharedGroup = "WendlowAboutPluginsGroupName";
// The code the menu tests' faults fail calls with.
inline constexpr ASErr kRefused = 4242;
// The eighteen texts of menu list 17000, in index order.
extern const std::array<std::string, 18> kMenuTexts;
// Slot of the globals block for index 1 to 18 of list 17000 (element 0 is
// index 1): the symbol command's text comes before the raster command's,
// while the raster handle sits before the symbol handle.
extern const std::array<int, 18> kSlotOfIndex;

// The group of that name; -1 when the host has none.
simhost::MenuGroupIndex groupNamed(simhost::Host& host, const std::string& name);
// The items of the group of that name, in order; none when there is no such group.
std::vector<simhost::MenuItemIndex> itemsOf(simhost::Host& host, const std::string& group);
std::vector<std::string> textsOf(simhost::Host& host, const std::string& group);
// The handle of the item with that text in that group; throws when there is none.
AIMenuItemHandle itemWithText(simhost::Host& host, const std::string& group, const std::string& text);

// Loads the test plug-in that makes "WendlowAboutPluginsGroupName" itself.
// `groupName` replaces the name it gives the group; empty keeps its own.
simhost::PluginId loadAboutGroupFirst(simhost::Host& host, const std::string& groupName = {});

// After a scenario in which the host failed calls: whatever is still held
// beyond what the host's own refusals explain (a refused release keeps that
// suite and, since the release stops there, the suites of the later rows; a
// refused destroy, dispose or free keeps that one object), and every
// violation. Needs the gate's log on for the whole scenario. Empty when all
// is well.
std::vector<std::string> unexplainedLeftovers(simhost::Host& host);

class PluginHarness;

// One host call failing during "Startup": the rule, the code "Startup"
// returns, and the code its error dialog shows (null: no dialog).
struct StartupFault {
    const char* what;
    simhost::FaultRule rule;
    ASErr result;
    const char* codeShown;
};
// Runs "Startup" with the fault's rule in force and checks its result and
// the error dialog it shows, if any.
void expectStartupUnder(PluginHarness& h, const StartupFault& fault);

// The end of a trial with the injected fault code: any error dialog shows
// that code; with the rules cleared the plug-in shuts down, the count is back
// at 0, and nothing is left that the host's refusals do not explain.
void expectFaultTrialEndsCleanly(PluginHarness& h);

}  // namespace wendlow_test
