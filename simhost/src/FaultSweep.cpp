#include "simhost/FaultSweep.h"

namespace simhost {

FaultSweepResult sweepFaults(const std::function<std::uint64_t(const FaultRule& rule)>& trial,
                             const FaultSweepOptions& options) {
    FaultSweepResult result;
    for (const bool persistent : {false, true}) {
        for (std::uint64_t nth = 1;; ++nth) {
            if (nth > kSweepCallLimit) {
                result.endless = true;
                return result;
            }
            const std::uint64_t fired = trial(FaultRule::failNthCall(nth, persistent));
            if (options.enough && options.enough()) return result;
            if (fired == 0) {
                result.callsInScenario = nth - 1;
                break;
            }
            ++result.trials;
        }
    }
    return result;
}

std::string describeRule(const FaultRule& rule) {
    std::string text = rule.op ? std::string(opInfo(*rule.op).label) + " " : std::string("call ");
    if (rule.subject) text += "of \"" + *rule.subject + "\" ";
    text += std::to_string(rule.nth);
    if (rule.persistent) text += ", from then on";
    text += " fails with " + std::to_string(rule.code);
    return text;
}

}  // namespace simhost
