#include "Trials.h"

#include <algorithm>

#include "Isolation.h"

namespace simhost::validate {

std::uint64_t checkTrial(World& world, const TrialSpec& spec, std::vector<Finding>& findings) {
    if (spec.before) spec.before(world);
    const Observation seen = observe(world, spec.message, spec.rules);
    Failed failed;
    failed.add(seen.log);
    // Every operation of a suite granted as a trapping table failed.
    for (std::size_t op = 0; op < kOpCount; ++op)
        if (!spec.allowance.wrongSuite.empty() && spec.allowance.wrongSuite == opInfo(static_cast<Op>(op)).suite)
            failed.ops.insert(static_cast<Op>(op));
    checkMessage(findings, spec.message, seen, failed, spec.allowance);
    checkLedger(findings, world, failed, 1, "after " + spec.message.label());
    bool shutDown = spec.message.is(kSPInterfaceShutdownSelector);
    for (const MessageSpec& next : spec.followUps) {
        const Observation after = observe(world, next, {});
        checkMessage(findings, next, after, failed, spec.allowance);
        shutDown = next.is(kSPInterfaceShutdownSelector);
    }
    if (!spec.followUps.empty() || shutDown)
        checkLedger(findings, world, failed, shutDown ? 0 : 1,
                    shutDown ? "after the closing \"Shutdown\"" : "after the messages that follow");
    return seen.calls;
}

std::uint64_t runTrial(CaseContext& ctx, World& world, const TrialSpec& spec) {
    ctx.trial();
    const ChildOutcome outcome = runIsolated(
        [&](int fd) {
            CaseContext inner(fd, ctx.options());
            std::vector<Finding> findings;
            const std::uint64_t calls = checkTrial(world, spec, findings);
            for (const Finding& f : findings) inner.finding(f.rule, f.detail);
            inner.count("calls", calls);
            writeCaseEnd(fd);
        },
        ctx.options().trialTimeoutSeconds);
    CaseResult inner;
    const bool ended = parseCasePayload(outcome.payload, inner, nullptr);
    if (!ended || outcome.signaled || outcome.timedOut || outcome.exitCode != 0) {
        ctx.nested(spec.label, outcome);
        return 0;
    }
    for (const Finding& f : inner.findings) ctx.finding(f.rule, spec.label + ": " + f.detail);
    const std::string key = "C\tcalls\t";
    const std::size_t at = outcome.payload.find(key);
    return at == std::string::npos ? 0 : std::stoull(outcome.payload.substr(at + key.size()));
}

void sweepScenario(CaseContext& ctx, World& world, const std::string& scenario, const TrialSpec& base) {
    ctx.count("scenarios", 1);
    constexpr std::uint64_t kMaxPosition = 200000;
    std::uint64_t longest = 0;
    for (const bool persistent : {false, true}) {
        for (std::uint64_t nth = 1;; ++nth) {
            TrialSpec spec = base;
            spec.rules.push_back(FaultRule::failNthCall(nth, persistent));
            spec.label = scenario + ", host call " + std::to_string(nth) +
                         (persistent ? " and every later one fail" : " fails");
            ctx.progress(spec.label);
            const std::uint64_t calls = runTrial(ctx, world, spec);
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
