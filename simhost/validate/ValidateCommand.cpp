#include "ValidateCommand.h"

#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <stdexcept>
#include <memory>
#include <string>

#include "simhost/Host.h"
#include "ExitCodes.h"
#include "simhost/validate/Validate.h"

namespace {

using namespace simhost::validate;
using simhost_app::kValidatePassed;
using simhost_app::kValidateUsage;

void usage(FILE* out) {
    std::fprintf(out,
                 "usage: simhost validate [--plugin PATH] [--seed N] [--iterations N] [--json] [--junit FILE]\n"
                 "                        [--only REGEX] [--jobs N] [--timeout S] [--trial-timeout S]\n"
                 "                        [--hostile-objects N] [--soak-cycles N] [--in-process]\n"
                 "Runs the validation battery on a plug-in, each case in a child process.\n"
                 "  --plugin PATH        the plug-in to validate (default: the plug-in shipped with simhost)\n"
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
                 "  --in-process         no child processes, for a debugger: cases one after another, no\n"
                 "                       timeout, a crash ends the run; trials share their case's world\n"
                 "  --list               list the rules, each with the promise it enforces, the batteries and the\n"
                 "                       plug-in's cases (with --only, those that match)\n"
                 "Exit codes: 0 all passed, 1 a case failed, 2 a case crashed or timed out, 3 the validator could not run.\n");
}

// What the command line asks for besides the battery's options.
struct Settings {
    Options options;
    bool json = false;
    std::string junit;
    bool list = false;
    bool help = false;
};

// The options that take a number.
struct NumberOption {
    const char* name;
    void (*set)(Settings&, double);
};

const NumberOption kNumbers[] = {
    {"--seed",
     [](Settings& s, double v) {
         s.options.seed = static_cast<std::uint64_t>(v);
         s.options.seedGiven = true;
     }},
    {"--iterations", [](Settings& s, double v) { s.options.iterations = static_cast<std::uint64_t>(v); }},
    {"--jobs", [](Settings& s, double v) { s.options.jobs = v < 1 ? 1 : static_cast<int>(v); }},
    {"--timeout", [](Settings& s, double v) { s.options.caseTimeoutSeconds = v; }},
    {"--trial-timeout", [](Settings& s, double v) { s.options.trialTimeoutSeconds = v; }},
    {"--hostile-objects", [](Settings& s, double v) { s.options.hostileObjects = static_cast<std::size_t>(v); }},
    {"--soak-cycles", [](Settings& s, double v) { s.options.soakCycles = static_cast<int>(v); }},
};

bool number(const std::string& text, double* value) {
    char* end = nullptr;
    *value = std::strtod(text.c_str(), &end);
    return !text.empty() && end != nullptr && *end == 0 && *value >= 0;
}

void addValidateOptions(CLI::App& app, Settings& s, std::string& pluginPath) {
    app.add_flag("-h,--help", s.help);
    app.add_flag("--list", s.list);
    app.add_flag("--json", s.json);
    app.add_flag("--in-process", s.options.inProcess);
    app.add_option("--plugin", pluginPath);
    app.add_option("--junit", s.junit);
    app.add_option("--only", s.options.only);
    for (const NumberOption& option : kNumbers)
        app.add_option_function<std::string>(option.name, [&s, option](const std::string& text) {
            double value = 0;
            if (!number(text, &value)) throw simhost_app::BadValue(std::string(option.name) + " needs a number");
            option.set(s, value);
        });
}

int usageError(const std::string& message) {
    std::fprintf(stderr, "simhost validate: %s\n", message.c_str());
    usage(stderr);
    return kValidateUsage;
}

// The rule book, the batteries, and the cases this plug-in would get.
void listRules(const Options& options) {
    std::printf("rules (each finding names one), with the promise each enforces:\n");
    for (const RuleInfo& r : validatorRules()) std::printf("  %-22s %s\n", r.rule, r.promise);
    std::printf("\nbatteries:\n");
    for (const RuleInfo& b : validatorBatteries()) std::printf("  %-22s %s\n", b.rule, b.promise);
    if (access(options.pluginPath.c_str(), R_OK) != 0) {
        std::printf("\n(no plug-in at %s: its cases are built from a first run of it)\n", options.pluginPath.c_str());
        return;
    }
    try {
        const auto cases = listCases(options);
        std::printf("\ncases for %s (%zu):\n", options.pluginPath.c_str(), cases.size());
        for (const CaseListing& c : cases) std::printf("  %s\n", c.name.c_str());
    } catch (const std::exception& e) {
        std::printf("\n(the cases cannot be listed: %s)\n", e.what());
    }
}

Report runWithProgress(const Options& options) {
    std::fprintf(stderr, "simhost validate: %s, seed %llu\n", options.pluginPath.c_str(),
                 static_cast<unsigned long long>(options.seed));
    std::size_t done = 0;
    return runValidation(options, [&](const CaseResult& c) {
        ++done;
        std::fprintf(stderr, "[%3zu] %-7s %-48s %7.2f s\n", done, statusName(c.status), c.name.c_str(), c.seconds);
    });
}

void printFailures(FILE* table, const Report& report) {
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
}

int runValidate(Settings& settings) {
    Options& options = settings.options;
    if (settings.help) {
        usage(stdout);
        return kValidatePassed;
    }
    if (settings.list) {
        listRules(options);
        return kValidatePassed;
    }
    if (access(options.pluginPath.c_str(), R_OK) != 0) {
        std::fprintf(stderr, "simhost validate: cannot read the plug-in %s\n", options.pluginPath.c_str());
        return kValidateUsage;
    }
    Report report;
    try {
        report = runWithProgress(options);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "simhost validate: %s\n", e.what());
        return kValidateUsage;
    }
    if (report.cases.empty()) {
        std::fprintf(stderr, "simhost validate: no case matches \"%s\"\n", options.only.c_str());
        return kValidateUsage;
    }
    printFailures(settings.json ? stderr : stdout, report);
    if (settings.json) std::fputs(reportJson(report).c_str(), stdout);
    if (!settings.junit.empty()) {
        std::ofstream out(settings.junit);
        out << reportJUnit(report);
        if (!out) {
            std::fprintf(stderr, "simhost validate: cannot write %s\n", settings.junit.c_str());
            return kValidateUsage;
        }
    }
    return exitCodeOf(report);
}

}  // namespace

void addValidate(CLI::App& app, simhost_app::Invocation& invocation) {
    auto settings = std::make_shared<Settings>();
    settings->options.seed = static_cast<std::uint64_t>(std::time(nullptr)) % 1000000;
    invocation.held.push_back(settings);
    const auto run = [settings, &invocation](const std::vector<std::string>& unknown) {
        if (!unknown.empty()) return usageError("unknown argument \"" + unknown.front() + "\"");
        settings->options.pluginPath = invocation.pluginPath;
        return runValidate(*settings);
    };
    addValidateOptions(*simhost_app::addSubcommand(app, invocation, "validate", run, usageError), *settings,
                       invocation.pluginPath);
}
