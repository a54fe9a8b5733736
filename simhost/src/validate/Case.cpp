#include "Case.h"

#include <cstdlib>

#include "Isolation.h"

namespace simhost::validate {

std::string oneLine(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) out += (c == '\n' || c == '\t' || c == '\r') ? ' ' : c;
    if (out.size() > 2000) out = out.substr(0, 2000) + "...";
    return out;
}

void CaseContext::record(RecordKind kind, const std::string& first, const std::string& second) {
    writeRecord(fd_, {kind, first, second});
}

void CaseContext::finding(const std::string& rule, const std::string& detail) {
    ++findings_;
    if (findings_ > kMaxFindings) {
        if (findings_ == kMaxFindings + 1) record(RecordKind::kFinding, "more", "further findings not listed");
        return;
    }
    record(RecordKind::kFinding, oneLine(rule), oneLine(detail));
}

void CaseContext::count(const char* key, std::uint64_t n) {
    record(RecordKind::kCount, key, std::to_string(n));
}

void CaseContext::progress(const std::string& text) {
    record(RecordKind::kProgress, oneLine(text));
}

void CaseContext::nested(const std::string& what, const ChildOutcome& outcome) {
    std::string tail = outcome.output;
    if (tail.size() > 6000) tail = tail.substr(tail.size() - 6000);
    if (outcome.timedOut) {
        record(RecordKind::kStatus, "timeout");
        finding("timeout", what + ": no answer within " +
                               std::to_string(static_cast<int>(options_.trialTimeoutSeconds)) + " s");
    } else if (outcome.signaled) {
        record(RecordKind::kStatus, "crash");
        finding("crash", what + ": killed by " + signalName(outcome.signal));
    } else {
        record(RecordKind::kStatus, "crash");
        finding("crash", what + ": ended with exit code " + std::to_string(outcome.exitCode) +
                             " before finishing its checks");
    }
    record(RecordKind::kOutput, tail);
}

void writeCaseEnd(int fd) {
    writeRecord(fd, {RecordKind::kEnd, {}, {}});
}

namespace {

// Adds a count record to the counter it names; unknown names are skipped.
void addCount(const Record& r, CaseResult& result, TrialCounts* trial) {
    TrialCounts unused;
    TrialCounts& counts = trial != nullptr ? *trial : unused;
    const struct {
        const char* name;
        std::uint64_t* counter;
    } counters[] = {{"trials", &result.trials},   {"sequences", &result.sequences},
                    {"scenarios", &result.scenarios}, {"calls", &counts.calls},
                    {"swept-faults", &counts.sweptFaults}};
    const std::uint64_t n = std::strtoull(r.second.c_str(), nullptr, 10);
    for (const auto& c : counters)
        if (r.first == c.name) *c.counter += n;
}

}  // namespace

bool parseCasePayload(const std::string& payload, CaseResult& result, std::string* lastProgress,
                      TrialCounts* trial) {
    bool ended = false;
    for (const Record& r : decodeRecords(payload)) {
        switch (r.kind) {
            case RecordKind::kFinding:
                result.findings.push_back({r.first, r.second});
                if (result.status == Status::kPass) result.status = Status::kFail;
                break;
            case RecordKind::kCount:
                addCount(r, result, trial);
                break;
            case RecordKind::kStatus:
                if (r.first == "timeout" && result.status != Status::kCrash) result.status = Status::kTimeout;
                if (r.first == "crash") result.status = Status::kCrash;
                break;
            case RecordKind::kProgress:
                if (lastProgress != nullptr) *lastProgress = r.first;
                break;
            case RecordKind::kOutput:
                result.output += r.first;
                break;
            case RecordKind::kEnd:
                ended = true;
                break;
            default:
                break;
        }
    }
    return ended;
}

}  // namespace simhost::validate
