#include "ValidateCommand.h"
#include "ShippedPlugin.h"

#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <stdexcept>
#include <string>

#include "simhost/Host.h"
#include "simhost/Validate.h"

namespace {

using namespace simhost::validate;

void usage(FILE* out) {
    std::fprintf(out,
                 "usage: simhost validate [--plugin PATH] [--seed N] [--iterations N] [--json] [--junit FILE]\n"
                 "                        [--only REGEX] [--jobs N] [--timeout S] [--trial-timeout S]\n"
                 "                        [--hostile-objects N] [--soak-cycles N]\n"
                 "Runs the validation battery on a plug-in, each case in a child process.\n"
                 "  --plugin PATH        the plug-in to validate (default: plugins/WendlowBrindle.so beside simhost)\n"
                 "  --seed N             seed of the first random sequence; a failing one prints its own seed\n"
                 "  --iterations N       random message sequences to run (default 200)\n"
                 "  --json               print the report as JSON on stdout (the table goes to stderr)\n"
                 "  --junit FILE         also write a JUnit XML report\n"
                 "  --only REGEX         run only the cases whose name matches (e.g. 'lifecycle|every-call')\n"
                 "  --jobs N             cases run at once (default 1)\n"
                 "  --timeout S          time for one case (default 600)\n"
                 "  --trial-timeout S    time for one trial or sequence (default 20)\n"
                 "  --hostile-objects N  size of the big hostile documents (default 1000000)\n"
                 "  --soak-cycles N      load-and-unload cycles (default 25)\n"
                 "  --list               list the rules, each with the promise it enforces, and the batteries\n"
                 "Exit codes: 0 all passed, 1 a case failed, 2 a case crashed or timed out, 3 the validator could not run.\n");
}

void listRules() {
    std::printf("rules (each finding names one):\n");
    for (const RuleInfo& r : simhost::validate::validatorRules()) std::printf("  %-22s %s\n", r.rule, r.promise);
    std::printf("batteries (cases are built from the plug-in's items and suites on a first run):\n"
                "  lifecycle/*  every-call/*  denied/*  wrong-table/*  random/sequences  hostile/*  use-after-release/*\n");
}

bool number(const std::string& text, double* value) {
    char* end = nullptr;
    *value = std::strtod(text.c_str(), &end);
    return !text.empty() && end != nullptr && *end == 0 && *value >= 0;
}

}  // namespace

int runValidateCommand(int argc, char** argv) {
    Options options;
    options.pluginPath = simhost::shippedPluginPath();
    options.seed = static_cast<std::uint64_t>(std::time(nullptr)) % 1000000;
    bool json = false;
    std::string junit;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        double value = 0;
        auto numeric = [&](const char* what) {
            if (!hasValue || !number(argv[i + 1], &value)) {
                std::fprintf(stderr, "simhost validate: %s needs a number\n", what);
                return false;
            }
            ++i;
            return true;
        };
        if (arg == "--help" || arg == "-h") {
            usage(stdout);
            return 0;
        } else if (arg == "--list") {
            listRules();
            return 0;
        } else if (arg == "--plugin" && hasValue) {
            options.pluginPath = argv[++i];
        } else if (arg == "--seed") {
            if (!numeric("--seed")) return 3;
            options.seed = static_cast<std::uint64_t>(value);
            options.seedGiven = true;
        } else if (arg == "--iterations") {
            if (!numeric("--iterations")) return 3;
            options.iterations = static_cast<std::uint64_t>(value);
        } else if (arg == "--json") {
            json = true;
        } else if (arg == "--junit" && hasValue) {
            junit = argv[++i];
        } else if (arg == "--only" && hasValue) {
            options.only = argv[++i];
        } else if (arg == "--jobs") {
            if (!numeric("--jobs")) return 3;
            options.jobs = value < 1 ? 1 : static_cast<int>(value);
        } else if (arg == "--timeout") {
            if (!numeric("--timeout")) return 3;
            options.caseTimeoutSeconds = value;
        } else if (arg == "--trial-timeout") {
            if (!numeric("--trial-timeout")) return 3;
            options.trialTimeoutSeconds = value;
        } else if (arg == "--hostile-objects") {
            if (!numeric("--hostile-objects")) return 3;
            options.hostileObjects = static_cast<std::size_t>(value);
        } else if (arg == "--soak-cycles") {
            if (!numeric("--soak-cycles")) return 3;
            options.soakCycles = static_cast<int>(value);
        } else {
            std::fprintf(stderr, "simhost validate: unknown argument \"%s\"\n", arg.c_str());
            usage(stderr);
            return 3;
        }
    }
    if (access(options.pluginPath.c_str(), R_OK) != 0) {
        std::fprintf(stderr, "simhost validate: cannot read the plug-in %s\n", options.pluginPath.c_str());
        return 3;
    }

    FILE* table = json ? stderr : stdout;
    std::fprintf(stderr, "simhost validate: %s, seed %llu\n", options.pluginPath.c_str(),
                 static_cast<unsigned long long>(options.seed));
    Report report;
    try {
        std::size_t done = 0;
        report = runValidation(options, [&](const CaseResult& c) {
            ++done;
            std::fprintf(stderr, "[%3zu] %-7s %-48s %7.2f s\n", done, statusName(c.status), c.name.c_str(), c.seconds);
        });
    } catch (const std::exception& e) {
        std::fprintf(stderr, "simhost validate: %s\n", e.what());
        return 3;
    }
    if (report.cases.empty()) {
        std::fprintf(stderr, "simhost validate: no case matches \"%s\"\n", options.only.c_str());
        return 3;
    }

    for (const CaseResult& c : report.cases) {
        if (c.status == Status::kPass) continue;
        std::fprintf(table, "\n%s %s:\n", statusName(c.status), c.name.c_str());
        for (const Finding& f : c.findings) std::fprintf(table, "  [%s] %s\n", f.rule.c_str(), f.detail.c_str());
        if (!c.output.empty()) {
            std::string tail = c.output;
            if (tail.size() > 4000) tail = "..." + tail.substr(tail.size() - 4000);
            std::fprintf(table, "  output:\n%s\n", tail.c_str());
        }
    }
    std::fprintf(table, "\n%s", summaryTable(report).c_str());
    if (json) std::fputs(reportJson(report).c_str(), stdout);
    if (!junit.empty()) {
        std::ofstream out(junit);
        out << reportJUnit(report);
        if (!out) {
            std::fprintf(stderr, "simhost validate: cannot write %s\n", junit.c_str());
            return 3;
        }
    }
    return exitCodeOf(report);
}
