// libFuzzer target: one input is a document, a resource file and a failure
// schedule with the messages to send. The plug-in's own code is linked in;
// after every message the validator's rules are checked (the code, the
// error dialog, the ledger, the document), and a broken rule aborts, so
// libFuzzer keeps the input.
//
// Input: three parts separated by a line holding only "%%":
//   1. the document as JSON (the format of DocumentJson.h)
//   2. the resource file as JSON (empty: the shipped resources)
//   3. bytes: the messages and the faults, read with FuzzedDataProvider
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "PluginGlobals.h"
#include "World.h"
#include "shellMain.h"
#include "simhost/Dialogs.h"
#include "simhost/Document.h"
#include "simhost/DocumentJson.h"
#include "simhost/Gate.h"
#include "simhost/Ledger.h"
#include "simhost/MatchingOptions.h"
#include "simhost/Plugins.h"
#include "simhost/Resources.h"

using namespace simhost;
using namespace simhost::validate;

namespace {

void resetPlugin() {
    g = nullptr;
    gAcquireCount = 0;
    sSPBasic = nullptr;
    for (const SuiteImport& row : imports) *row.suite = nullptr;
}

const Resources& shipped() {
    static const Resources resources = Resources::load(WENDLOW_RESOURCES);
    return resources;
}

bool split(const std::string& input, std::string parts[3]) {
    std::size_t at = 0;
    for (int i = 0; i < 2; ++i) {
        const std::size_t sep = input.find("\n%%\n", at);
        if (sep == std::string::npos) return false;
        parts[i] = input.substr(at, sep - at);
        at = sep + 4;
    }
    parts[2] = input.substr(at);
    return true;
}

MessageSpec pickMessage(FuzzedDataProvider& in, int items) {
    switch (in.ConsumeIntegralInRange<int>(0, 11)) {
        case 0: return MessageSpec::interface(kSPInterfaceStartupSelector);
        case 1: return MessageSpec::interface(kSPInterfaceShutdownSelector);
        case 2: return MessageSpec::interface(kSPInterfaceAboutSelector);
        case 3: return MessageSpec::menu(kSelectorAIUpdateMenuItem, in.ConsumeIntegralInRange<int>(-1, items));
        case 4: return MessageSpec::access(kSPAccessUnloadSelector, in.ConsumeBool());
        case 5: return MessageSpec::access(kSPAccessReloadSelector, in.ConsumeBool());
        case 6: return MessageSpec::interface("Frobnicate");
        default: return MessageSpec::menu(kSelectorAIGoMenuItem, in.ConsumeIntegralInRange<int>(-1, items));
    }
}

FaultRule pickRule(FuzzedDataProvider& in) {
    const ASErr codes[] = {kInjectedFaultErr, kBadParameterErr, 1, kAlreadyReportedErr, kCanceledErr, -108, 5, 65536};
    const ASErr code = codes[in.ConsumeIntegralInRange<std::size_t>(0, 7)];
    FaultRule rule;
    if (in.ConsumeBool()) {
        rule = FaultRule::failNthCall(in.ConsumeIntegralInRange<std::uint64_t>(1, 200), in.ConsumeBool(), code);
    } else {
        rule = FaultRule::failNthOf(static_cast<Op>(in.ConsumeIntegralInRange<std::size_t>(0, kOpCount - 1)),
                                    in.ConsumeIntegralInRange<std::uint64_t>(1, 8), code);
        rule.persistent = in.ConsumeBool();
    }
    return rule;
}

void printCall(const CallRecord& call) {
    std::fprintf(stderr, "  %4llu %s %s", static_cast<unsigned long long>(call.sequence), opInfo(call.op).label,
                 call.detail.c_str());
    if (call.injected != kNoErr) std::fprintf(stderr, " -> failed with %d", static_cast<int>(call.injected));
    std::fputc('\n', stderr);
}

// Prints what broke and the host calls of the step, so a CI log alone
// shows the failure without replaying the input.
[[noreturn]] void broken(const std::vector<Finding>& findings, const std::string& step, const Observation& seen) {
    std::fprintf(stderr, "fuzz: a rule broke at %s (returned %d)\n", step.c_str(), static_cast<int>(seen.result));
    for (const Finding& f : findings) std::fprintf(stderr, "  [%s] %s\n", f.rule.c_str(), f.detail.c_str());
    std::fprintf(stderr, "host calls of that step:\n");
    for (const CallRecord& call : seen.log) printCall(call);
    for (const DialogRecord& d : seen.dialogs)
        std::fprintf(stderr, "  dialog %d \"%s\" shown\n", static_cast<int>(d.resourceID), d.title.c_str());
    std::abort();
}

// WENDLOW_FUZZ_TRACE=1 prints every step of a run (its suite traffic and
// failed calls), to follow a kept input through the messages before the
// one that broke.
bool tracing() {
    static const bool on = std::getenv("WENDLOW_FUZZ_TRACE") != nullptr;
    return on;
}

void trace(int step, const MessageSpec& message, const std::vector<FaultRule>& rules, const Observation& seen) {
    std::fprintf(stderr, "step %d: %s%s -> %d\n", step + 1, message.label().c_str(),
                 rules.empty() ? "" : " with a fault", static_cast<int>(seen.result));
    for (const CallRecord& call : seen.log)
        if (call.injected != kNoErr || call.op == Op::AcquireSuite || call.op == Op::ReleaseSuite) printCall(call);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string parts[3];
    if (!split(std::string(reinterpret_cast<const char*>(data), size), parts)) return 0;
    Document document;
    try {
        document = documentFromJson(parts[0], "fuzz input");
    } catch (const std::exception&) {
        return 0;
    }
    if (document.artCount() > 20000) return 0;
    Resources resources = shipped();
    if (!parts[1].empty()) {
        try {
            resources = Resources::parse(parts[1], "fuzz input");
        } catch (const std::exception&) {
            return 0;
        }
    }
    const bool ownResources = !parts[1].empty();

    resetPlugin();
    {
        World world(PluginMain, std::move(resources));
        world.host().setDocument(std::move(document));
        FuzzedDataProvider in(reinterpret_cast<const std::uint8_t*>(parts[2].data()), parts[2].size());
        MatchingOptions& matching = world.host().matching();
        matching.shuffle = in.ConsumeBool();
        matching.shuffleSeed = in.ConsumeIntegral<std::uint8_t>();
        matching.nullHandleForEmpty = in.ConsumeBool();
        matching.handleOnFailure = in.ConsumeBool();

        Allowance allowance;
        allowance.hostileResources = ownResources;
        allowance.extraCode = ownResources ? kResourceNotFoundErr : kNoErr;
        Failed failed;
        std::size_t lostBlocks = 0;
        int items = 19;
        for (int step = 0; step < 24 && in.remaining_bytes() > 0; ++step) {
            const MessageSpec message = pickMessage(in, items);
            std::vector<FaultRule> rules;
            if (in.ConsumeBool()) rules.push_back(pickRule(in));
            const std::size_t held = world.host().ledger().liveBlocksOf(world.plugin());
            const bool nullReload = message.is(kSPAccessReloadSelector) &&
                                    (message.nullWord || world.host().plugin(world.plugin()).globals == nullptr);
            const Observation seen = observe(world, message, rules);
            if (tracing()) trace(step, message, rules, seen);
            if (nullReload && held > lostBlocks) lostBlocks = held;
            Failed here;
            here.add(seen.log);
            failed.add(seen.log);
            std::vector<Finding> findings;
            checkMessage(findings, message, seen, here, allowance);
            checkLedger(findings, world, failed, 1 + lostBlocks, "after " + message.label());
            if (!findings.empty()) broken(findings, "step " + std::to_string(step + 1) + ", " + message.label(), seen);
            items = static_cast<int>(world.commandItems().size());
        }
        const MessageSpec last = MessageSpec::interface(kSPInterfaceShutdownSelector);
        const Observation seen = observe(world, last, {});
        std::vector<Finding> findings;
        checkMessage(findings, last, seen, Failed{}, allowance);
        checkLedger(findings, world, failed, lostBlocks, "after the closing \"Shutdown\"");
        if (!findings.empty()) broken(findings, "the closing \"Shutdown\"", seen);
    }
    resetPlugin();
    return 0;
}
