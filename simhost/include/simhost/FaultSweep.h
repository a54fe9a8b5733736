// Fails every host call of a scenario in turn: the 1st, the 2nd, ... until
// a run completes with no fault fired. Each call is failed in two modes:
// once (the call fails, later ones run) and from then on (that call and
// every later one fail).
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "simhost/Gate.h"

namespace simhost {

struct FaultSweepOptions {
    bool transient = true;
    bool persistent = true;
    ASErr code = kInjectedFaultErr;
    // A scenario that still fires a fault after this many trials is
    // reported as endless.
    std::uint64_t maxTrials = 1000000;
};

struct FaultSweepResult {
    std::uint64_t trials = 0;        // runs with a fault that fired
    std::uint64_t callsInScenario = 0;  // calls of the run in which no fault fired
    bool endless = false;
};

// `trial` must set up a fresh world, add `rule` to that world's gate after
// the setup (so calls are counted from the scenario's start), run the
// scenario, check its outcome, and return the number of faults that fired
// (the gate's faultsFired()). A trial in which none fired ends the mode.
FaultSweepResult sweepFaults(const std::function<std::uint64_t(const FaultRule& rule)>& trial,
                             const FaultSweepOptions& options = {});

// "call 7, from then on" and the like, for messages that name a trial.
std::string describeRule(const FaultRule& rule);

}  // namespace simhost
