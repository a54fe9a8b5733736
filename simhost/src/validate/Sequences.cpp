// Random message sequences with random failure schedules. A failing
// sequence is shrunk to a shortest one that fails the same way, and printed
// with its seed; --seed replays it.
#include <random>
#include <sstream>

#include "Batteries.h"
#include "Isolation.h"
#include "Trials.h"
#include "World.h"
#include "simhost/FaultSweep.h"
#include "simhost/Gate.h"
#include "simhost/Ledger.h"
#include "simhost/Plugins.h"

namespace simhost::validate {

namespace {

struct SeqStep {
    MessageSpec message;
    std::vector<FaultRule> rules;
};

std::string describe(const SeqStep& step) {
    std::string text = step.message.label();
    for (std::size_t i = 0; i < step.rules.size(); ++i)
        text += (i == 0 ? " with " : " and ") + describeRule(step.rules[i]);
    return text;
}

std::vector<SeqStep> generate(std::uint64_t seed, const Discovery& found) {
    std::mt19937_64 rng(seed);
    auto pick = [&rng](std::size_t n) { return static_cast<std::size_t>(rng() % (n == 0 ? 1 : n)); };
    const int items = static_cast<int>(found.items.size());
    std::vector<SeqStep> steps;
    const std::size_t length = 3 + pick(14);
    for (std::size_t i = 0; i < length; ++i) {
        SeqStep step;
        const std::size_t roll = pick(100);
        if (roll < 14) step.message = MessageSpec::interface(kSPInterfaceStartupSelector);
        else if (roll < 22) step.message = MessageSpec::interface(kSPInterfaceShutdownSelector);
        else if (roll < 28) step.message = MessageSpec::interface(kSPInterfaceAboutSelector);
        else if (roll < 62) step.message = MessageSpec::menu(kSelectorAIGoMenuItem, pick(12) == 0 ? -1 : static_cast<int>(pick(items)));
        else if (roll < 70) step.message = MessageSpec::menu(kSelectorAIUpdateMenuItem, static_cast<int>(pick(items)));
        else if (roll < 79) step.message = MessageSpec::access(kSPAccessUnloadSelector, pick(4) == 0);
        else if (roll < 88) step.message = MessageSpec::access(kSPAccessReloadSelector, pick(6) == 0);
        else if (roll < 93) step.message = MessageSpec::interface("Frobnicate");
        else if (roll < 96) step.message = MessageSpec::menu("Frobnicate", 0);
        else step.message = MessageSpec::raw("Some Other Caller", "Startup");

        if (pick(100) < 45) {
            const ASErr codes[] = {kInjectedFaultErr, kInjectedFaultErr, kInjectedFaultErr, kBadParameterErr,
                                   kOutOfMemoryErr, 1, kAlreadyReportedErr, kCanceledErr};
            const ASErr code = codes[pick(sizeof codes / sizeof codes[0])];
            const std::size_t kind = pick(10);
            FaultRule rule;
            if (kind < 4) {
                rule = FaultRule::failNthCall(1 + pick(80), pick(5) == 0, code);
            } else if (kind < 8) {
                rule = FaultRule::failNthOf(static_cast<Op>(pick(kOpCount)), 1 + pick(6), code);
                rule.persistent = pick(6) == 0;
            } else if (!found.suites.empty()) {
                rule = FaultRule::denySuite(found.suites[pick(found.suites.size())].first, code);
            } else {
                rule = FaultRule::failEvery(static_cast<Op>(pick(kOpCount)), code);
            }
            step.rules.push_back(rule);
        }
        steps.push_back(step);
    }
    return steps;
}

// Runs a sequence in this process and returns the findings of the first
// message that broke a rule, each naming the step.
std::vector<Finding> runSequence(const std::string& pluginPath, const std::vector<SeqStep>& steps) {
    World world(pluginPath);
    world.host().setDocument(richDocument());
    Failed failed;
    std::size_t lostBlocks = 0;  // blocks the contract lets go: a "Reload" with a null word drops g
    std::vector<Finding> findings;
    auto check = [&](const SeqStep& step, std::size_t index) {
        const std::size_t held = world.host().ledger().liveBlocksOf(world.plugin());
        const bool nullReload = step.message.is(kSPAccessReloadSelector) &&
                                (step.message.nullWord || world.host().plugin(world.plugin()).globals == nullptr);
        const Observation seen = observe(world, step.message, step.rules);
        if (nullReload && held > lostBlocks) lostBlocks = held;
        Failed here;
        here.add(seen.log);
        failed.add(seen.log);
        std::vector<Finding> found;
        checkMessage(found, step.message, seen, here, Allowance{});
        checkLedger(found, world, failed, 1 + lostBlocks, "after step " + std::to_string(index + 1));
        for (Finding& f : found) {
            f.detail = "step " + std::to_string(index + 1) + ": " + f.detail;
            findings.push_back(f);
        }
        return found.empty();
    };
    for (std::size_t i = 0; i < steps.size(); ++i)
        if (!check(steps[i], i)) return findings;
    SeqStep last;
    last.message = MessageSpec::interface(kSPInterfaceShutdownSelector);
    const Observation seen = observe(world, last.message, {});
    std::vector<Finding> found;
    checkMessage(found, last.message, seen, Failed{}, Allowance{});
    checkLedger(found, world, failed, lostBlocks, "after the closing \"Shutdown\"");
    for (Finding& f : found) {
        f.detail = "closing \"Shutdown\": " + f.detail;
        findings.push_back(f);
    }
    return findings;
}

// The outcome of one sequence, run in a child: its status and first rule.
struct SeqOutcome {
    Status status = Status::kPass;
    int signal = 0;
    std::vector<Finding> findings;
    std::string output;
    std::string signature() const {
        if (status == Status::kPass) return "pass";
        if (status != Status::kFail) return statusName(status);
        return findings.empty() ? "fail" : "fail:" + findings.front().rule;
    }
};

SeqOutcome runIsolatedSequence(const Options& options, const std::vector<SeqStep>& steps) {
    const ChildOutcome child = runIsolated(
        [&](int fd) {
            CaseContext inner(fd, options);
            for (const Finding& f : runSequence(options.pluginPath, steps)) inner.finding(f.rule, f.detail);
            writeCaseEnd(fd);
        },
        options.trialTimeoutSeconds);
    SeqOutcome out;
    CaseResult parsed;
    const bool ended = parseCasePayload(child.payload, parsed, nullptr);
    out.output = child.output;
    out.signal = child.signal;
    if (child.timedOut) out.status = Status::kTimeout;
    else if (child.signaled || !ended || child.exitCode != 0) out.status = Status::kCrash;
    else out.status = parsed.findings.empty() ? Status::kPass : Status::kFail;
    out.findings = parsed.findings;
    if (out.status == Status::kCrash)
        out.findings.insert(out.findings.begin(),
                            {"crash", child.signaled ? "killed by " + signalName(child.signal)
                                                     : "ended before finishing, exit code " + std::to_string(child.exitCode)});
    if (out.status == Status::kTimeout)
        out.findings.insert(out.findings.begin(), {"timeout", "no answer within the trial timeout"});
    return out;
}

// Removes steps and rules while the sequence still fails the same way.
std::vector<SeqStep> shrink(const Options& options, std::vector<SeqStep> steps, const std::string& signature,
                            std::uint64_t& runs) {
    bool progress = true;
    while (progress && runs < 400) {
        progress = false;
        for (std::size_t i = steps.size(); i-- > 0 && runs < 400;) {
            std::vector<SeqStep> shorter = steps;
            shorter.erase(shorter.begin() + static_cast<std::ptrdiff_t>(i));
            ++runs;
            if (runIsolatedSequence(options, shorter).signature() == signature) {
                steps = shorter;
                progress = true;
            }
        }
        for (std::size_t i = 0; i < steps.size() && runs < 400; ++i) {
            for (std::size_t r = steps[i].rules.size(); r-- > 0 && runs < 400;) {
                std::vector<SeqStep> simpler = steps;
                simpler[i].rules.erase(simpler[i].rules.begin() + static_cast<std::ptrdiff_t>(r));
                ++runs;
                if (runIsolatedSequence(options, simpler).signature() == signature) {
                    steps = simpler;
                    progress = true;
                }
            }
        }
    }
    return steps;
}

void randomSequences(CaseContext& ctx, const Discovery& found) {
    const Options& options = ctx.options();
    std::size_t failures = 0;
    for (std::uint64_t i = 0; i < options.iterations; ++i) {
        const std::uint64_t seed = options.seed + i;
        const std::vector<SeqStep> steps = generate(seed, found);
        ctx.progress("sequence of seed " + std::to_string(seed));
        ctx.count("sequences", 1);
        ctx.trial();
        const SeqOutcome outcome = runIsolatedSequence(options, steps);
        if (outcome.status == Status::kPass) continue;

        std::uint64_t runs = 0;
        const std::vector<SeqStep> shortest = shrink(options, steps, outcome.signature(), runs);
        const SeqOutcome again = runIsolatedSequence(options, shortest);
        std::ostringstream text;
        text << "seed " << seed << ": " << (again.findings.empty() ? outcome.signature() : again.findings.front().detail)
             << "; shortest reproducer (" << shortest.size() << " of " << steps.size() << " messages, "
             << runs << " shrinking runs):";
        for (std::size_t s = 0; s < shortest.size(); ++s) text << " [" << (s + 1) << "] " << describe(shortest[s]) << ";";
        text << " replay: simhost validate --only random --seed " << seed << " --iterations 1";
        const std::string rule = again.findings.empty() ? outcome.findings.front().rule : again.findings.front().rule;
        if (outcome.status == Status::kCrash || outcome.status == Status::kTimeout) {
            ChildOutcome child;
            child.timedOut = outcome.status == Status::kTimeout;
            child.signaled = outcome.status == Status::kCrash && outcome.signal != 0;
            child.signal = outcome.signal;
            child.output = again.output.empty() ? outcome.output : again.output;
            ctx.nested("sequence of seed " + std::to_string(seed), child);
        }
        ctx.finding(rule, text.str());
        if (++failures >= 3) return;  // enough to go on with
    }
}

}  // namespace

std::vector<CaseDef> sequenceCases(const Options&, const Discovery& found) {
    return {{"random/sequences", "random", [found](CaseContext& ctx) { randomSequences(ctx, found); }}};
}

}  // namespace simhost::validate
