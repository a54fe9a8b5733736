#include "Trials.h"

#include <algorithm>
#include <cstdlib>

#include "Isolation.h"

namespace simhost::validate {

std::uint64_t checkTrial(World& world, const TrialPlan& trial, std::vector<Finding>& findings) {
    if (trial.before) trial.before(world);
    const Observation seen = observe(world, trial.message, trial.rules);
    if (trial.after) trial.after(world);
    Failed failed;
    failed.add(seen.log);
    // Every operation of a suite granted as a trapping table failed.
    for (std::size_t op = 0; op < kOpCount; ++op)
        if (!trial.allowance.wrongSuite.empty() && trial.allowance.wrongSuite == opInfo(static_cast<Op>(op)).suite)
            failed.ops.insert(static_cast<Op>(op));
    checkMessage(findings, trial.message, seen, failed, trial.allowance);
    checkLedger(findings, world, failed, 1, "after " + trial.message.label());
    bool shutDown = trial.message.is(kSPInterfaceShutdownSelector);
    // A null table is granted to the trial's message alone (`after` ends it).
    Allowance later = trial.allowance;
    later.nullSuite.clear();
    for (const MessageSpec& next : trial.followUps) {
        const Observation after = observe(world, next, {});
        checkMessage(findings, next, after, failed, later);
        shutDown = next.is(kSPInterfaceShutdownSelector);
    }
    if (!trial.followUps.empty() || shutDown)
        checkLedger(findings, world, failed, shutDown ? 0 : 1,
                    shutDown ? "after the closing \"Shutdown\"" : "after the messages that follow");
    return seen.calls;
}

std::uint64_t runTrial(CaseContext& ctx, World& world, const TrialPlan& trial) {
    ctx.trial();
    const ChildOutcome outcome = runIsolated(
        [&](int fd) {
            CaseContext inner(fd, ctx.options());
            std::vector<Finding> findings;
            const std::uint64_t calls = checkTrial(world, trial, findings);
            for (const Finding& f : findings) inner.finding(f.rule, f.detail);
            inner.count("calls", calls);
            writeCaseEnd(fd);
        },
        ctx.options().trialTimeoutSeconds);
    CaseResult inner;
    const bool ended = parseCasePayload(outcome.payload, inner, nullptr);
    if (!ended || outcome.signaled || outcome.timedOut || outcome.exitCode != 0) {
        ctx.nested(trial.label, outcome);
        return 0;
    }
    for (const Finding& f : inner.findings) ctx.finding(f.rule, trial.label + ": " + f.detail);
    for (const Record& r : decodeRecords(outcome.payload))
        if (r.kind == RecordKind::kCount && r.first == "calls") return std::strtoull(r.second.c_str(), nullptr, 10);
    return 0;
}

void sweepScenario(CaseContext& ctx, World& world, const std::string& scenario, const TrialPlan& base) {
    ctx.count("scenarios", 1);
    constexpr std::uint64_t kMaxPosition = 200000;
    std::uint64_t longest = 0;
    for (const bool persistent : {false, true}) {
        for (std::uint64_t nth = 1;; ++nth) {
            TrialPlan trial = base;
            trial.rules.push_back(FaultRule::failNthCall(nth, persistent));
            trial.label = scenario + ", host call " + std::to_string(nth) +
                         (persistent ? " and every later one fail" : " fails");
            ctx.progress(trial.label);
            const std::uint64_t calls = runTrial(ctx, world, trial);
            if (ctx.saturated()) return;
            longest = std::max(longest, calls);
            if (calls != 0 && calls < nth) break;
            // A child that died made an unknown number of calls: go on while
            // some run has reached this far.
            if (calls == 0 && nth > longest) break;
            if (nth >= kMaxPosition) {
                ctx.finding("endless", scenario + " still calls the host after " + std::to_string(nth) + " calls");
                return;
            }
        }
    }
}

}  // namespace simhost::validate
