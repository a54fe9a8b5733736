// simhost validate: a battery of checks for any plug-in of this host
// interface. Every case runs in a forked child with a timeout, so a crash or
// a hang is reported as such and the run goes on.
//
//   lifecycle      every row of the message table, messages in bad orders, a
//                  load-and-unload soak, the exported symbols
//   every-call     each host call of each scenario fails in turn, once and
//                  from then on; the code, the error dialog, the ledger and
//                  the document are checked after every trial
//   denied         each suite refused at acquisition; wrong-table: each suite
//                  granted as a table whose every slot traps
//   random         seeded random message sequences with failure schedules,
//                  shrunk to a shortest reproducer on failure
//   hostile        hostile documents and resources
//   use-after-release  stale suite pointers are caught and named
//   null-table     each suite granted with a null table; refused-release:
//                  each suite's releases refused, then more messages;
//                  refusals: two rows refused with different codes
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace simhost::validate {

enum class Status { kPass, kFail, kCrash, kTimeout };
const char* statusName(Status status);

struct Options {
    std::string pluginPath;
    std::uint64_t seed = 1;
    bool seedGiven = false;  // --seed: replay exactly that seed
    std::uint64_t iterations = 200;  // random sequences
    std::string only;        // POSIX extended regex on case names; empty: all
    int jobs = 1;
    double caseTimeoutSeconds = 600;
    double trialTimeoutSeconds = 20;
    std::size_t hostileObjects = 1000000;  // size of the big hostile documents
    int soakCycles = 25;
    // No fork at all, for a debugger: the cases run one after another in
    // this process, with no timeout, and a crash ends the run. Each trial
    // then runs on the case's world as earlier trials left it (a fork would
    // give it a copy), so only a case's first failing trial is its own.
    bool inProcess = false;
};

// One finding: the broken rule's short name and what was seen.
struct Finding {
    std::string rule;
    std::string detail;
};

struct CaseResult {
    std::string name;     // "every-call/Startup"
    std::string battery;  // "every-call"
    Status status = Status::kPass;
    std::vector<Finding> findings;
    std::string output;   // the child's stderr (tail), with a backtrace after a crash
    double seconds = 0;
    std::uint64_t trials = 0;     // runs with a fault or a check each
    std::uint64_t sequences = 0;  // random message sequences run
    std::uint64_t scenarios = 0;  // scenarios swept
};

struct Report {
    std::string plugin;
    std::uint64_t seed = 0;
    std::vector<CaseResult> cases;
    double seconds = 0;
    std::uint64_t trials() const;
    std::uint64_t sequences() const;
    std::uint64_t scenarios() const;
};

// Runs the battery. `progress` is told of each case as it ends.
// Throws std::runtime_error when the validator itself cannot run (the
// plug-in cannot be loaded, a bad regex).
Report runValidation(const Options& options,
                     const std::function<void(const CaseResult&)>& progress = {});

// The cases a run with these options would run, built from a first run of
// the plug-in (throws like runValidation).
struct CaseListing {
    std::string name;
    std::string battery;
};
std::vector<CaseListing> listCases(const Options& options);

// 0 all passed, 1 a case failed, 2 a case crashed or timed out.
int exitCodeOf(const Report& report);

std::string summaryTable(const Report& report);
std::string reportJson(const Report& report);
std::string reportJUnit(const Report& report);

// Each rule the validator checks, with the one promise of the host interface
// it enforces: what `simhost validate --list` prints.
struct RuleInfo {
    const char* rule;
    const char* promise;
};
const std::vector<RuleInfo>& validatorRules();
// Each battery's cases (a name pattern) with what they do to the plug-in.
const std::vector<RuleInfo>& validatorBatteries();

}  // namespace simhost::validate
