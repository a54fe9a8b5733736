// What a case, running in its child, tells the validator: findings, counts
// and progress, one record each (Protocol.h) on the result descriptor.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Protocol.h"
#include "simhost/validate/Validate.h"

namespace simhost::validate {

struct ChildOutcome;

class CaseContext {
public:
    CaseContext(int resultFd, const Options& options) : fd_(resultFd), options_(options) {}

    const Options& options() const { return options_; }
    void finding(const std::string& rule, const std::string& detail);
    void count(const char* key, std::uint64_t n);
    void trial() { count("trials", 1); }
    // Names what the case is doing now, so a crash can be placed.
    void progress(const std::string& text);
    // A nested child (one trial) crashed or hung: recorded as a finding with
    // the status it implies, and the child's output kept.
    void nested(const std::string& what, const ChildOutcome& outcome);
    std::size_t findings() const { return findings_; }
    // True once enough has been reported for this case.
    bool saturated() const { return findings_ >= kMaxFindings; }

    static constexpr std::size_t kMaxFindings = 40;

private:
    void record(RecordKind kind, const std::string& first, const std::string& second = {});

    int fd_;
    const Options& options_;
    std::size_t findings_ = 0;
};

// What one trial's child counted: the host calls its message made, and the
// calls the sweep's rule failed in it.
struct TrialCounts {
    std::uint64_t calls = 0;
    std::uint64_t sweptFaults = 0;
};

// Parses what a case child wrote into `result` (and a trial's counts into
// `trial`, when given); returns false when the end marker is missing (the
// child died before finishing).
bool parseCasePayload(const std::string& payload, CaseResult& result, std::string* lastProgress,
                      TrialCounts* trial = nullptr);
void writeCaseEnd(int fd);

// A text on one line (tabs and newlines made spaces), cut at 2000 characters.
std::string oneLine(const std::string& text);

}  // namespace simhost::validate
