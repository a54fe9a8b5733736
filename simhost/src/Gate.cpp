#include "simhost/Gate.h"

#include <cstring>

namespace simhost {

std::optional<Op> opNamed(const std::string& nameOrLabel) {
    for (std::size_t i = 0; i < kOpCount; ++i)
        if (nameOrLabel == kOpInfos[i].name || nameOrLabel == kOpInfos[i].label) return static_cast<Op>(i);
    return std::nullopt;
}

FaultRule FaultRule::failNthCall(std::uint64_t nth, bool persistent, ASErr code) {
    FaultRule r;
    r.nth = nth;
    r.persistent = persistent;
    r.code = code;
    return r;
}

FaultRule FaultRule::failEvery(Op op, ASErr code) {
    FaultRule r;
    r.op = op;
    r.persistent = true;
    r.code = code;
    return r;
}

FaultRule FaultRule::failNthOf(Op op, std::uint64_t nth, ASErr code) {
    FaultRule r;
    r.op = op;
    r.nth = nth;
    r.code = code;
    return r;
}

FaultRule FaultRule::denySuite(std::string name, ASErr code) {
    FaultRule r = failEvery(Op::AcquireSuite, code);
    r.subject = std::move(name);
    return r;
}

void Gate::addRule(FaultRule rule) {
    rules_.push_back(ActiveRule{std::move(rule), 0});
    planOrLog_ = true;
}

void Gate::clearRules() {
    rules_.clear();
    fired_ = 0;
    planOrLog_ = logging_;
}

std::uint64_t Gate::totalCalls() const {
    std::uint64_t total = 0;
    for (const std::uint64_t n : perOp_) total += n;
    return total;
}

void Gate::resetCounts() {
    perOp_.fill(0);
}

ASErr Gate::enterSlow(Op op, const CallSubject& subject, const void* describer,
                      std::string (*describe)(const void*)) {
    // Rules name suites only: other operations' texts never match one.
    const bool suiteCall = op == Op::AcquireSuite || op == Op::ReleaseSuite;
    const char* ruleSubject = suiteCall ? subject.text : nullptr;
    ASErr injected = kNoErr;
    for (ActiveRule& active : rules_) {
        const FaultRule& rule = active.rule;
        if (rule.op && *rule.op != op) continue;
        if (rule.subject && (ruleSubject == nullptr || *rule.subject != ruleSubject)) continue;
        const std::uint64_t n = ++active.seen;
        if (n == rule.nth || (rule.persistent && n > rule.nth)) {
            ++active.fired;
            if (injected == kNoErr) injected = rule.code;
        }
    }
    if (logging_) {
        const OpInfo& info = opInfo(op);
        std::string text = subject.text == nullptr ? std::string()
                                                   : std::string(subject.text, strnlen(subject.text, subject.textBound));
        log_.push_back(CallRecord{totalCalls(), op, describe(describer), injected, info.suite, info.label,
                                  subject.handle, std::move(text), subject.version, subject.numbers});
    }
    if (injected != kNoErr) {
        ++fired_;
        hostFaultInjected(totalCalls(), op, injected);
    }
    return injected;
}

std::string describeCall(const CallRecord& record) {
    std::string text = std::to_string(record.sequence) + " " + opInfo(record.op).label;
    if (!record.detail.empty()) text += "(" + record.detail + ")";
    if (record.injected != kNoErr) text += " -> injected fault " + std::to_string(record.injected);
    return text;
}

__attribute__((noinline)) void hostFaultInjected(std::uint64_t sequence, Op op, ASErr code) {
    // Nothing to do but be a place to stop; the asm keeps the call from
    // being folded away.
    (void)sequence;
    (void)op;
    (void)code;
    asm volatile("" ::: "memory");
}

}  // namespace simhost
