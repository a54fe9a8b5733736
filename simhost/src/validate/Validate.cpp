#include "simhost/validate/Validate.h"

#include <regex.h>

#include <chrono>
#include <memory>
#include <stdexcept>

#include "Batteries.h"
#include "Case.h"
#include "Isolation.h"

namespace simhost::validate {

const char* statusName(Status status) {
    switch (status) {
        case Status::kPass: return "pass";
        case Status::kFail: return "fail";
        case Status::kCrash: return "crash";
        case Status::kTimeout: return "timeout";
    }
    return "?";
}

std::uint64_t Report::trials() const {
    std::uint64_t n = 0;
    for (const CaseResult& c : cases) n += c.trials;
    return n;
}
std::uint64_t Report::sequences() const {
    std::uint64_t n = 0;
    for (const CaseResult& c : cases) n += c.sequences;
    return n;
}
std::uint64_t Report::scenarios() const {
    std::uint64_t n = 0;
    for (const CaseResult& c : cases) n += c.scenarios;
    return n;
}

int exitCodeOf(const Report& report) {
    int code = 0;
    for (const CaseResult& c : report.cases) {
        if (c.status == Status::kCrash || c.status == Status::kTimeout) return 2;
        if (c.status == Status::kFail) code = 1;
    }
    return code;
}

namespace {

CaseResult finish(const CaseDef& def, const ChildOutcome& outcome) {
    CaseResult result;
    result.name = def.name;
    result.battery = def.battery;
    std::string last;
    const bool ended = parseCasePayload(outcome.payload, result, &last);
    result.seconds = outcome.seconds;
    const std::string where = last.empty() ? std::string() : " while running " + last;
    if (outcome.timedOut) {
        result.status = Status::kTimeout;
        result.findings.push_back({"timeout", "the case did not end within its time" + where});
    } else if (outcome.signaled) {
        result.status = Status::kCrash;
        result.findings.push_back({"crash", "killed by " + signalName(outcome.signal) + where});
    } else if (!ended || outcome.exitCode != 0) {
        result.status = Status::kCrash;
        result.findings.push_back({"crash", "ended with exit code " + std::to_string(outcome.exitCode) +
                                                " before finishing" + where});
    }
    if (result.status == Status::kCrash || result.status == Status::kTimeout) {
        std::string tail = outcome.output;
        if (tail.size() > 8000) tail = tail.substr(tail.size() - 8000);
        result.output += tail;
    }
    return result;
}

}  // namespace

namespace {

// POSIX extended expressions: "lifecycle|every-call", "^hostile/".
class CaseFilter {
public:
    explicit CaseFilter(const std::string& expression) {
        if (expression.empty()) return;
        const int err = regcomp(&compiled_, expression.c_str(), REG_EXTENDED | REG_NOSUB);
        if (err != 0) {
            char why[256];
            regerror(err, &compiled_, why, sizeof why);
            throw std::runtime_error("bad --only expression \"" + expression + "\": " + why);
        }
        set_ = true;
    }
    ~CaseFilter() {
        if (set_) regfree(&compiled_);
    }
    CaseFilter(const CaseFilter&) = delete;
    CaseFilter& operator=(const CaseFilter&) = delete;
    bool selects(const std::string& name) const {
        return !set_ || regexec(&compiled_, name.c_str(), 0, nullptr, 0) == 0;
    }

private:
    regex_t compiled_{};
    bool set_ = false;
};

// A first run shows the plug-in's items and suites. Throws when the
// plug-in cannot even be loaded; a plug-in that dies on the way is
// `discovery` failing, handed to `failed`.
Discovery discoverPlugin(const Options& options, const std::function<void(const CaseResult&)>& failed) {
    const ChildOutcome probe = runIsolated(
        [&](int fd) {
            try {
                discover(options.pluginPath, fd);
            } catch (const std::exception& e) {
                writeRecord(fd, {RecordKind::kCannotRun, e.what(), {}});
            }
        },
        options.caseTimeoutSeconds);
    const std::vector<Record> records = decodeRecords(probe.payload);
    for (const Record& r : records)
        if (r.kind == RecordKind::kCannotRun) throw std::runtime_error(r.first);
    const bool probed = !probe.timedOut && !probe.signaled && probe.exitCode == 0 && hasRecord(records, RecordKind::kEnd);
    if (probed) return parseDiscovery(probe.payload);
    CaseDef def{"lifecycle/discovery", "lifecycle", nullptr};
    ChildOutcome shown = probe;
    shown.payload += encodeRecord({RecordKind::kProgress, "the first run: \"Startup\", every item, \"About\", \"Shutdown\"", {}});
    CaseResult result = finish(def, shown);
    if (result.status == Status::kPass) result.status = Status::kCrash;
    failed(result);
    return Discovery{};
}

std::vector<CaseDef> buildCases(const Options& options, const Discovery& found, const CaseFilter& filter) {
    using Maker = std::vector<CaseDef> (*)(const Options&, const Discovery&);
    static const Maker kBatteries[] = {lifecycleCases, everyCallCases, suiteCases,   refusalCases,
                                       sequenceCases,  hostileCases,   releaseCases};
    std::vector<CaseDef> cases;
    for (Maker make : kBatteries)
        for (CaseDef& def : make(options, found))
            if (filter.selects(def.name)) cases.push_back(std::move(def));
    return cases;
}

void runCaseBody(const CaseDef& def, const Options& options, int fd) {
    CaseContext ctx(fd, options);
    try {
        def.run(ctx);
    } catch (const std::exception& e) {
        ctx.finding("validator", std::string("the case could not run: ") + e.what());
    }
    writeCaseEnd(fd);
}

// Up to `jobs` cases at once, each in a child of its own.
std::vector<CaseResult> runCases(const std::vector<CaseDef>& cases, const Options& options,
                                 const std::function<void(const CaseResult&)>& progress) {
    struct Running {
        const CaseDef* def;
        std::size_t slot;
        std::unique_ptr<ChildProcess> child;
    };
    std::vector<CaseResult> results(cases.size());
    if (options.inProcess) {
        for (std::size_t i = 0; i < cases.size(); ++i) {
            results[i] = finish(cases[i], runHere([&](int fd) { runCaseBody(cases[i], options, fd); }));
            if (progress) progress(results[i]);
        }
        return results;
    }
    std::vector<Running> running;
    std::size_t next = 0;
    const std::size_t jobs = static_cast<std::size_t>(options.jobs < 1 ? 1 : options.jobs);
    while (next < cases.size() || !running.empty()) {
        while (next < cases.size() && running.size() < jobs) {
            Running r{&cases[next], next, std::make_unique<ChildProcess>()};
            const CaseDef* def = r.def;
            r.child->start([def, &options](int fd) { runCaseBody(*def, options, fd); }, options.caseTimeoutSeconds,
                           true);
            running.push_back(std::move(r));
            ++next;
        }
        const int wait = running.size() == 1 ? 200 : 20;
        for (std::size_t i = 0; i < running.size();) {
            if (running[i].child->pump(wait / static_cast<int>(running.size()) + 1)) {
                results[running[i].slot] = finish(*running[i].def, running[i].child->outcome());
                if (progress) progress(results[running[i].slot]);
                running.erase(running.begin() + static_cast<std::ptrdiff_t>(i));
            } else {
                ++i;
            }
        }
    }
    return results;
}

}  // namespace

Report runValidation(const Options& options, const std::function<void(const CaseResult&)>& progress) {
    const double started = monotonicSeconds();
    Report report;
    report.plugin = options.pluginPath;
    report.seed = options.seed;
    const CaseFilter filter(options.only);
    // Every runIsolated of this run (discovery, trials, sequences) too.
    struct InProcess {
        explicit InProcess(bool on) { setInProcess(on); }
        ~InProcess() { setInProcess(false); }
    } inProcess(options.inProcess);
    const Discovery found = discoverPlugin(options, [&](const CaseResult& failed) {
        if (!filter.selects(failed.name)) return;
        report.cases.push_back(failed);
        if (progress) progress(failed);
    });
    const std::vector<CaseDef> cases = buildCases(options, found, filter);
    for (CaseResult& r : runCases(cases, options, progress)) report.cases.push_back(std::move(r));
    report.seconds = monotonicSeconds() - started;
    return report;
}

std::vector<CaseListing> listCases(const Options& options) {
    const CaseFilter filter(options.only);
    const Discovery found = discoverPlugin(options, [](const CaseResult&) {});
    std::vector<CaseListing> listing;
    for (const CaseDef& def : buildCases(options, found, filter)) listing.push_back({def.name, def.battery});
    return listing;
}

}  // namespace simhost::validate
