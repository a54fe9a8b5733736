// The cases of every battery, built from what a first run of the plug-in
// showed: its command items and the suites it acquires.
#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "Case.h"

namespace simhost::validate {

struct Discovery {
    std::vector<std::string> items;  // texts of the plug-in's command items
    std::vector<std::pair<std::string, int>> suites;  // acquired, by name and version
};

struct CaseDef {
    std::string name;
    std::string battery;
    std::function<void(CaseContext&)> run;
};

// Loads the plug-in, starts it on the rich document, chooses each item,
// and writes what it saw to `fd`; parsed by parseDiscovery.
void discover(const std::string& pluginPath, int fd);
Discovery parseDiscovery(const std::string& payload);

std::vector<CaseDef> lifecycleCases(const Options& options, const Discovery& found);
std::vector<CaseDef> everyCallCases(const Options& options, const Discovery& found);
std::vector<CaseDef> suiteCases(const Options& options, const Discovery& found);
std::vector<CaseDef> sequenceCases(const Options& options, const Discovery& found);
std::vector<CaseDef> hostileCases(const Options& options, const Discovery& found);
std::vector<CaseDef> releaseCases(const Options& options, const Discovery& found);
// Null tables granted, releases refused, several refusal codes in one run.
std::vector<CaseDef> refusalCases(const Options& options, const Discovery& found);

struct TrialPlan;
class World;
// "Startup" on a fresh world, then every item, "About", "AI Update" and
// "Shutdown" on a started one, each a trial armed by `arm` and named "<message>
// with <what>".
void suiteTrials(CaseContext& ctx, const Discovery& found, const std::string& what,
                 const std::function<void(TrialPlan&)>& arm);
// The rich document and a "Startup" with no fault, which must succeed.
void startWorld(CaseContext& ctx, World& world);

// "Open Paths" -> "open-paths".
std::string slug(const std::string& text);

// Names of the plug-in's exported dynamic symbols other than `allowed`,
// read from its ELF file; throws std::runtime_error for an unreadable file.
std::vector<std::string> extraExports(const std::string& path, const std::string& allowed);

}  // namespace simhost::validate
