#include "Trials.h"

#include <algorithm>

#include "Isolation.h"
#include "simhost/FaultSweep.h"
#include "simhost/Gate.h"

namespace simhost::validate {

TrialCounts checkTrial(World& world, const TrialPlan& trial, std::vector<Finding>& findings) {
    if (trial.before) trial.before(world);
    std::vector<FaultRule> rules = trial.rules;
    if (trial.swept) rules.push_back(*trial.swept);
    const Observation seen = observe(world, trial.message, rules);
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
    return {seen.calls, trial.swept ? seen.firedByRule.back() : 0};
}

std::optional<TrialCounts> runTrial(CaseContext& ctx, World& world, const TrialPlan& trial) {
    ctx.trial();
    const ChildOutcome outcome = runIsolated(
        [&](int fd) {
            CaseContext inner(fd, ctx.options());
            std::vector<Finding> findings;
            const TrialCounts counts = checkTrial(world, trial, findings);
            for (const Finding& f : findings) inner.finding(f.rule, f.detail);
            inner.count("calls", counts.calls);
            inner.count("swept-faults", counts.sweptFaults);
            writeCaseEnd(fd);
        },
        ctx.options().trialTimeoutSeconds);
    CaseResult inner;
    TrialCounts counts;
    const bool ended = parseCasePayload(outcome.payload, inner, nullptr, &counts);
    if (!ended || outcome.signaled || outcome.timedOut || outcome.exitCode != 0) {
        ctx.nested(trial.label, outcome);
        return std::nullopt;
    }
    for (const Finding& f : inner.findings) ctx.finding(f.rule, trial.label + ": " + f.detail);
    return counts;
}

void sweepScenario(CaseContext& ctx, World& world, const std::string& scenario, const TrialPlan& base) {
    ctx.count("scenarios", 1);
    std::uint64_t longest = 0;  // the most calls the message made in a trial that finished
    FaultSweepOptions options;
    options.enough = [&ctx] { return ctx.saturated(); };
    const FaultSweepResult sweep = sweepFaults(
        [&](const FaultRule& rule) -> std::uint64_t {
            TrialPlan trial = base;
            trial.swept = rule;
            trial.label = scenario + ", host call " + std::to_string(rule.nth) +
                          (rule.persistent ? " and every later one fail" : " fails");
            ctx.progress(trial.label);
            const std::optional<TrialCounts> counts = runTrial(ctx, world, trial);
            if (counts) {
                longest = std::max(longest, counts->calls);
                return counts->sweptFaults;
            }
            // A child that died could not tell: its fault is taken to have
            // fired when some run reached that far.
            return rule.nth <= longest ? 1 : 0;
        },
        options);
    if (sweep.endless)
        ctx.finding("endless", scenario + " still calls the host after " + std::to_string(kSweepCallLimit) + " calls");
}

}  // namespace simhost::validate
