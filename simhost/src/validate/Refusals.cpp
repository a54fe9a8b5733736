// Hostile hosts at the suites' door:
//   null-table/*       a suite granted (code 0) with a null table: a failed
//                      acquisition to the plug-in, whose hold it still gives
//                      back, never calling through the null table
//   refused-release/*  every release of a suite refused in one message; the
//                      next messages must acquire afresh and go on working
//   refusals/two-codes the first and the last row of a message's acquisition
//                      refused with two different codes: either may come back
#include <map>
#include <set>

#include "Batteries.h"
#include "Trials.h"
#include "World.h"
#include "simhost/Gate.h"

namespace simhost::validate {

namespace {

const MessageSpec kStartup = MessageSpec::interface(kSPInterfaceStartupSelector);
const MessageSpec kShutdown = MessageSpec::interface(kSPInterfaceShutdownSelector);
const MessageSpec kAbout = MessageSpec::interface(kSPInterfaceAboutSelector);

constexpr ASErr kFirstRefusal = kInjectedFaultErr;
constexpr ASErr kSecondRefusal = FourCC("NOPE");

CaseDef nullTableCase(const Discovery& found, const std::string& name, int version) {
    return {"null-table/" + slug(name) + "-" + std::to_string(version), "null-table",
            [found, name, version](CaseContext& ctx) {
                const std::string what = "\"" + name + "\" " + std::to_string(version) + " granted with a null table";
                suiteTrials(ctx, found, what, [&](TrialPlan& trial) {
                    trial.allowance.nullSuite = name;
                    trial.allowance.nullVersion = version;
                    trial.before = [name, version](World& w) { w.host().grantNullTable(name, version); };
                    trial.after = [name, version](World& w) { w.host().grantNullTable(name, version, false); };
                });
            }};
}

// Every message the plug-in answers, sent after the refusal with no fault.
std::vector<MessageSpec> everyMessage(const Discovery& found) {
    std::vector<MessageSpec> messages;
    for (std::size_t i = 0; i < found.items.size(); ++i)
        messages.push_back(MessageSpec::menu(kSelectorAIGoMenuItem, static_cast<int>(i)));
    if (!found.items.empty()) messages.push_back(MessageSpec::menu(kSelectorAIUpdateMenuItem, 0));
    messages.push_back(kAbout);
    messages.push_back(kShutdown);
    return messages;
}

CaseDef refusedReleaseCase(const Discovery& found, const std::string& name) {
    return {"refused-release/" + slug(name), "refused-release", [found, name](CaseContext& ctx) {
                FaultRule refuse = FaultRule::failNthOf(Op::ReleaseSuite, 1);
                refuse.subject = name;
                refuse.persistent = true;  // a plug-in that retries meets the refusal again
                auto run = [&](World& world, const MessageSpec& message) {
                    TrialPlan trial;
                    trial.message = message;
                    trial.rules = {refuse};
                    trial.followUps = everyMessage(found);
                    trial.label = message.label() + " with every release of \"" + name + "\" refused";
                    ctx.progress(trial.label);
                    runTrial(ctx, world, trial);
                };
                World fresh(ctx.options().pluginPath);
                fresh.host().setDocument(richDocument());
                run(fresh, kStartup);
                World started(ctx.options().pluginPath);
                startWorld(ctx, started);
                run(started, found.items.empty() ? kAbout : MessageSpec::menu(kSelectorAIGoMenuItem, 0));
            }};
}

// How many suites a message acquires in its first run, seen on a clean
// world going through the same messages as suiteTrials does.
std::map<std::string, std::uint64_t> acquisitionRuns(const std::string& pluginPath, const Discovery& found) {
    std::map<std::string, std::uint64_t> rows;
    World world(pluginPath);
    world.host().setDocument(richDocument());
    std::vector<MessageSpec> messages = {kStartup};
    for (const MessageSpec& m : everyMessage(found)) messages.push_back(m);
    for (const MessageSpec& message : messages) {
        const Observation seen = observe(world, message, {});
        std::size_t i = 0;
        while (i < seen.log.size() && seen.log[i].op != Op::AcquireSuite) ++i;
        std::uint64_t n = 0;
        for (; i < seen.log.size() && seen.log[i].op == Op::AcquireSuite; ++i) ++n;
        rows[message.label()] = n;
    }
    return rows;
}

CaseDef twoCodesCase(const Discovery& found) {
    return {"refusals/two-codes", "refusals", [found](CaseContext& ctx) {
                const auto rows = acquisitionRuns(ctx.options().pluginPath, found);
                const std::string what = "its first and last suite refused with " + showCode(kFirstRefusal) +
                                         " and " + showCode(kSecondRefusal);
                suiteTrials(ctx, found, what, [&](TrialPlan& trial) {
                    const auto at = rows.find(trial.message.label());
                    const std::uint64_t last = at == rows.end() ? 0 : at->second;
                    if (last < 2) return;  // fewer than two rows: nothing to refuse twice
                    trial.rules = {FaultRule::failNthOf(Op::AcquireSuite, 1, kFirstRefusal),
                                   FaultRule::failNthOf(Op::AcquireSuite, last, kSecondRefusal)};
                });
            }};
}

}  // namespace

std::vector<CaseDef> refusalCases(const Options&, const Discovery& found) {
    std::vector<CaseDef> cases;
    for (const auto& suite : found.suites) cases.push_back(nullTableCase(found, suite.first, suite.second));
    std::set<std::string> names;
    for (const auto& suite : found.suites)
        if (names.insert(suite.first).second) cases.push_back(refusedReleaseCase(found, suite.first));
    cases.push_back(twoCodesCase(found));
    return cases;
}

}  // namespace simhost::validate
