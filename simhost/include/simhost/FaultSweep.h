// Fails every host call of a scenario in turn: the 1st, the 2nd, ... until
// a run completes with no fault fired. Each call is failed in two modes:
// once (the call fails, later ones run) and from then on (that call and
// every later one fail). The tests and the validator's every-call battery
// both sweep with this one loop.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "simhost/Gate.h"

namespace simhost {

// The last call a sweep fails. The longest scenario swept (a command on the
// validator's richest document) makes under two hundred host calls; a
// scenario whose run still reaches call kSweepCallLimit is taken to be
// caught in a loop and reported endless, so that a sweep ends on every
// plug-in, however broken.
constexpr std::uint64_t kSweepCallLimit = 200000;

struct FaultSweepOptions {
    // Asked after each trial: true ends the sweep there, as when the caller
    // has seen enough findings. Unset: the sweep runs to its end.
    std::function<bool()> enough;
};

struct FaultSweepResult {
    std::uint64_t trials = 0;           // runs with a fault that fired
    std::uint64_t callsInScenario = 0;  // calls of the run in which no fault fired
    bool endless = false;               // a run still fired a fault at kSweepCallLimit
};

// `trial` must set up a fresh world, add `rule` to that world's gate after
// the setup (so calls are counted from the scenario's start), run the
// scenario, check its outcome, and return the number of faults `rule` fired
// (the gate's faultsFired() when it is the only rule). The first trial of a
// mode in which none fired ends that mode.
FaultSweepResult sweepFaults(const std::function<std::uint64_t(const FaultRule& rule)>& trial,
                             const FaultSweepOptions& options = {});

// "call 7, from then on" and the like, for messages that name a trial.
std::string describeRule(const FaultRule& rule);

}  // namespace simhost
