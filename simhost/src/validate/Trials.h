// A trial: one message sent, with a fault plan, in a child forked from a
// prepared world, then checked; and the sweep that fails every host call of
// a scenario in turn.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "Case.h"
#include "World.h"
#include "simhost/Gate.h"

namespace simhost::validate {

struct TrialPlan {
    std::string label;
    MessageSpec message;
    std::vector<FaultRule> rules;
    // A sweep's rule, added after `rules`: the calls it fails are counted
    // apart, since those of `rules` may fire in every trial.
    std::optional<FaultRule> swept;
    Allowance allowance;
    // Sent after the message with no fault, to see that the plug-in recovers
    // and gives everything back; the last is usually "Shutdown".
    std::vector<MessageSpec> followUps;
    // Run in the trial's child before the message.
    std::function<void(World&)> before;
    // Run in the trial's child after the message, before the follow-ups.
    std::function<void(World&)> after;
};

// Runs the checks of one trial in the current process; returns what its
// message did.
TrialCounts checkTrial(World& world, const TrialPlan& trial, std::vector<Finding>& findings);

// Runs one trial in a child of this process; its findings go to ctx, named
// by the trial's label. Returns what the message did; none when the child
// died before it could tell.
std::optional<TrialCounts> runTrial(CaseContext& ctx, World& world, const TrialPlan& trial);

// Fails the 1st, 2nd, ... call of the scenario's message, once and from then
// on, with the one sweep of FaultSweep.h.
void sweepScenario(CaseContext& ctx, World& world, const std::string& scenario, const TrialPlan& base);

}  // namespace simhost::validate
