#include "Batteries.h"

#include <dlfcn.h>

#include <cctype>
#include <fstream>
#include <set>

#include "Isolation.h"
#include "Trials.h"
#include "World.h"
#include "simhost/Dialogs.h"
#include "simhost/Gate.h"
#include "simhost/Ledger.h"
#include "simhost/Menus.h"
#include "simhost/Plugins.h"

namespace simhost::validate {

std::string slug(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (std::isalnum(static_cast<unsigned char>(c))) out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        else if (!out.empty() && out.back() != '-') out += '-';
    }
    while (!out.empty() && out.back() == '-') out.pop_back();
    return out.empty() ? "item" : out;
}

// ---- Discovery ------------------------------------------------------------------

void discover(const std::string& pluginPath, int fd) {
    World world(pluginPath);
    Host& host = world.host();
    host.setDocument(richDocument());
    host.gate().setLogging(true);
    world.send(MessageSpec::interface(kSPInterfaceStartupSelector));
    const auto items = world.commandItems();
    for (std::size_t i = 0; i < items.size(); ++i) {
        world.send(MessageSpec::menu(kSelectorAIGoMenuItem, static_cast<int>(i)));
        world.send(MessageSpec::menu(kSelectorAIUpdateMenuItem, static_cast<int>(i)));
    }
    world.send(MessageSpec::interface(kSPInterfaceAboutSelector));
    world.send(MessageSpec::interface(kSPInterfaceShutdownSelector));
    std::string out;
    for (MenuItemIndex item : items) out += encodeRecord({RecordKind::kItem, host.menus().item(item).text, {}});
    std::set<std::pair<std::string, int>> seen;
    for (const CallRecord& call : host.gate().log()) {
        if (call.op != Op::AcquireSuite) continue;
        if (seen.insert({call.text, call.version}).second)
            out += encodeRecord({RecordKind::kSuite, call.text, std::to_string(call.version)});
    }
    out += encodeRecord({RecordKind::kEnd, {}, {}});
    writeAll(fd, out);
}

Discovery parseDiscovery(const std::string& payload) {
    Discovery found;
    for (const Record& r : decodeRecords(payload)) {
        if (r.kind == RecordKind::kItem) found.items.push_back(r.first);
        if (r.kind == RecordKind::kSuite) found.suites.push_back({r.first, std::atoi(r.second.c_str())});
    }
    return found;
}

void startWorld(CaseContext& ctx, World& world) {
    world.host().setDocument(richDocument());
    const ASErr err = world.send(MessageSpec::interface(kSPInterfaceStartupSelector));
    if (err != kNoErr) ctx.finding("setup", "\"Startup\" with no fault returned " + showCode(err));
    world.host().ledger().clearViolations();
}

namespace {

const MessageSpec kStartup = MessageSpec::interface(kSPInterfaceStartupSelector);
const MessageSpec kShutdown = MessageSpec::interface(kSPInterfaceShutdownSelector);
const MessageSpec kAbout = MessageSpec::interface(kSPInterfaceAboutSelector);
const MessageSpec kUnload = MessageSpec::access(kSPAccessUnloadSelector);
const MessageSpec kReload = MessageSpec::access(kSPAccessReloadSelector);

MessageSpec go(int item) {
    return MessageSpec::menu(kSelectorAIGoMenuItem, item);
}
MessageSpec update(int item) {
    return MessageSpec::menu(kSelectorAIUpdateMenuItem, item);
}

// Sends a message with no fault and checks it as a trial would; findings go
// straight to the case.
ASErr step(CaseContext& ctx, World& world, const MessageSpec& message, std::size_t blocksAllowed = 1,
           const std::string& note = {}) {
    ctx.trial();
    const Observation seen = observe(world, message, {});
    std::vector<Finding> findings;
    checkMessage(findings, message, seen, Failed{}, Allowance{});
    checkLedger(findings, world, Failed{}, blocksAllowed, "after " + message.label() + note);
    for (const Finding& f : findings) ctx.finding(f.rule, f.detail);
    return seen.result;
}

bool liveBlockOf(World& world, const void* word) {
    return word != nullptr && world.host().ledger().isLiveBlock(word);
}

// ---- Lifecycle ---------------------------------------------------------------------

void messageTable(CaseContext& ctx, const Discovery& found) {
    World world(ctx.options().pluginPath);
    Host& host = world.host();
    host.setDocument(richDocument());
    Ledger& ledger = host.ledger();

    ctx.progress("\"SP Interface\"/\"Startup\"");
    step(ctx, world, kStartup);
    if (ledger.liveBlocksOf(world.plugin()) != 1)
        ctx.finding("startup", "after \"Startup\" the plug-in holds " +
                                   std::to_string(ledger.liveBlocksOf(world.plugin())) +
                                   " globals block(s), expected 1");
    if (host.plugin(world.plugin()).name.empty())
        ctx.finding("startup", "\"Startup\" did not give the host the plug-in's name");
    if (world.commandItems().empty()) ctx.finding("startup", "\"Startup\" installed no menu item");

    ctx.progress("\"SP Interface\"/\"About\"");
    const std::size_t dialogs = host.dialogs().size();
    step(ctx, world, kAbout);
    if (host.dialogs().size() == dialogs) ctx.finding("about", "\"About\" showed no dialog");

    step(ctx, world, MessageSpec::interface("Frobnicate"));
    for (std::size_t i = 0; i < found.items.size(); ++i) {
        ctx.progress("\"AI Go\" " + found.items[i]);
        step(ctx, world, go(static_cast<int>(i)));
        step(ctx, world, update(static_cast<int>(i)));
    }
    step(ctx, world, go(-1));
    step(ctx, world, MessageSpec::menu("Frobnicate", 0));
    step(ctx, world, MessageSpec::raw("Some Other Caller", "Some Selector"));

    void* const wordBefore = host.plugin(world.plugin()).globals;
    step(ctx, world, MessageSpec::access("Frobnicate"));
    if (host.plugin(world.plugin()).globals != wordBefore)
        ctx.finding("access-word", "an \"SP Access\" message of another selector changed the globals word");

    ctx.progress("\"SP Access\"/\"Unload\"");
    step(ctx, world, MessageSpec::access(kSPAccessUnloadSelector, true));
    void* const word = host.plugin(world.plugin()).globals;
    if (!liveBlockOf(world, word))
        ctx.finding("unload-word", "\"Unload\" with a null globals word did not hand the globals block to the host");
    step(ctx, world, kUnload);
    if (host.plugin(world.plugin()).globals != word)
        ctx.finding("unload-word", "a second \"Unload\" handed the host another globals word");

    ctx.progress("\"SP Access\"/\"Reload\"");
    // The library really goes and comes back, as a host that unloads would do it.
    host.unloadLibrary(world.plugin());
    host.reloadLibrary(world.plugin());
    step(ctx, world, kReload);
    for (std::size_t i = 0; i < found.items.size(); ++i) step(ctx, world, go(static_cast<int>(i)));
    step(ctx, world, MessageSpec::access(kSPAccessReloadSelector, true));
    step(ctx, world, go(0));
    host.plugin(world.plugin()).globals = word;
    step(ctx, world, kReload);

    ctx.progress("\"SP Interface\"/\"Shutdown\"");
    step(ctx, world, kShutdown, 0);
    if (host.plugin(world.plugin()).globals != nullptr)
        ctx.finding("shutdown-word", "\"Shutdown\" left the globals word non-null");
}

void badOrders(CaseContext& ctx, const Discovery& found) {
    const int items = static_cast<int>(found.items.size());
    {
        ctx.progress("menu messages before \"Startup\"");
        World world(ctx.options().pluginPath);
        world.host().setDocument(richDocument());
        step(ctx, world, go(0), 0, " (before \"Startup\")");
        step(ctx, world, update(0), 0, " (before \"Startup\")");
        step(ctx, world, kAbout, 0, " (before \"Startup\")");
        step(ctx, world, kUnload, 0, " (before \"Startup\")");
        step(ctx, world, kReload, 0, " (before \"Startup\")");
        step(ctx, world, kShutdown, 0, " (before \"Startup\")");
    }
    {
        ctx.progress("\"Startup\" twice");
        World world(ctx.options().pluginPath);
        startWorld(ctx, world);
        step(ctx, world, kStartup, 1, " (the second \"Startup\")");
        for (int i = 0; i < items; ++i) step(ctx, world, go(i));
        ctx.progress("\"Unload\" with a null word, \"Reload\" with it");
        step(ctx, world, MessageSpec::access(kSPAccessUnloadSelector, true));
        step(ctx, world, kReload);
        ctx.progress("\"Shutdown\" twice");
        step(ctx, world, kShutdown, 0);
        step(ctx, world, kShutdown, 0, " (the second \"Shutdown\")");
        ctx.progress("menu messages after \"Shutdown\"");
        for (int i = 0; i < items; ++i) step(ctx, world, go(i), 0, " (after \"Shutdown\")");
        step(ctx, world, update(0), 0, " (after \"Shutdown\")");
        step(ctx, world, kAbout, 0, " (after \"Shutdown\")");
        ctx.progress("\"Startup\" again after \"Shutdown\"");
        step(ctx, world, kStartup);
        step(ctx, world, kShutdown, 0);
    }
    {
        ctx.progress("\"Reload\" before \"Unload\"");
        World world(ctx.options().pluginPath);
        startWorld(ctx, world);
        // The host never got the word, so it hands back what it has.
        const void* block = nullptr;
        void* kept = world.host().plugin(world.plugin()).globals;
        step(ctx, world, MessageSpec::access(kSPAccessReloadSelector, kept == nullptr));
        for (int i = 0; i < items; ++i) step(ctx, world, go(i));
        (void)block;
        // With a null word the contract drops the block: that one stays.
        step(ctx, world, kShutdown, kept == nullptr ? 1 : 0);
    }
}

void soak(CaseContext& ctx, const Discovery& found) {
    const std::string& path = ctx.options().pluginPath;
    for (int cycle = 1; cycle <= ctx.options().soakCycles && !ctx.saturated(); ++cycle) {
        ctx.progress("cycle " + std::to_string(cycle));
        {
            World world(path);
            world.host().setDocument(richDocument());
            const std::string note = " (cycle " + std::to_string(cycle) + ")";
            step(ctx, world, kStartup, 1, note);
            for (std::size_t i = 0; i < found.items.size(); ++i) step(ctx, world, go(static_cast<int>(i)), 1, note);
            step(ctx, world, kAbout, 1, note);
            step(ctx, world, kShutdown, 0, note);
            const auto left = world.host().problems();
            for (const std::string& line : left) ctx.finding("soak", "cycle " + std::to_string(cycle) + ": " + line);
        }  // the host dlclose()s the library here
        void* still = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
        if (still != nullptr) {
            dlclose(still);
            ctx.finding("soak", "cycle " + std::to_string(cycle) +
                                    ": the library stays loaded after dlclose (a unique symbol or a leaked reference)");
        }
    }
}

void exportsCase(CaseContext& ctx) {
    const auto extra = extraExports(ctx.options().pluginPath, kPluginMainSymbol);
    ctx.trial();
    for (const std::string& name : extra)
        ctx.finding("exports", "the plug-in exports \"" + name + "\" besides " + kPluginMainSymbol);
}

// Codes that are returned but never shown.
void unreportedCodes(CaseContext& ctx, const Discovery& found) {
    const ASErr codes[] = {1, kAlreadyReportedErr, kCanceledErr};
    World world(ctx.options().pluginPath);
    world.host().setDocument(richDocument());
    for (ASErr code : codes) {
        TrialPlan trial;
        trial.message = kStartup;
        trial.rules = {FaultRule::failNthOf(Op::AcquireSuite, 1, code)};
        trial.followUps = {kShutdown};
        trial.label = "\"Startup\", first acquisition refused with " + showCode(code);
        runTrial(ctx, world, trial);
    }
    startWorld(ctx, world);
    for (ASErr code : codes) {
        std::vector<MessageSpec> messages = {kAbout, kShutdown};
        if (!found.items.empty()) {
            messages.push_back(go(0));
            messages.push_back(update(0));
        }
        for (const MessageSpec& m : messages) {
            TrialPlan trial;
            trial.message = m;
            trial.rules = {FaultRule::failNthOf(Op::AcquireSuite, 1, code)};
            trial.followUps = {kShutdown};
            trial.label = m.label() + ", first acquisition refused with " + showCode(code);
            runTrial(ctx, world, trial);
        }
    }
}

}  // namespace

std::vector<CaseDef> lifecycleCases(const Options&, const Discovery& found) {
    return {
        {"lifecycle/message-table", "lifecycle", [found](CaseContext& ctx) { messageTable(ctx, found); }},
        {"lifecycle/bad-orders", "lifecycle", [found](CaseContext& ctx) { badOrders(ctx, found); }},
        {"lifecycle/soak", "lifecycle", [found](CaseContext& ctx) { soak(ctx, found); }},
        {"lifecycle/exports", "lifecycle", [](CaseContext& ctx) { exportsCase(ctx); }},
        {"lifecycle/unreported-codes", "lifecycle", [found](CaseContext& ctx) { unreportedCodes(ctx, found); }},
    };
}

// ---- Every host call fails in turn ------------------------------------------------

std::vector<CaseDef> everyCallCases(const Options&, const Discovery& found) {
    std::vector<CaseDef> cases;
    auto add = [&cases](const std::string& name, std::function<void(CaseContext&)> run) {
        cases.push_back({"every-call/" + name, "every-call", std::move(run)});
    };
    add("startup", [](CaseContext& ctx) {
        World world(ctx.options().pluginPath);
        world.host().setDocument(richDocument());
        TrialPlan trial;
        trial.message = kStartup;
        trial.followUps = {kShutdown};
        sweepScenario(ctx, world, "\"Startup\"", trial);
    });
    auto started = [](const MessageSpec& message, std::vector<MessageSpec> followUps, std::string scenario,
                      std::vector<FaultRule> base = {}, bool unloadFirst = false) {
        return [=](CaseContext& ctx) {
            World world(ctx.options().pluginPath);
            startWorld(ctx, world);
            if (unloadFirst) world.send(kUnload);
            TrialPlan trial;
            trial.message = message;
            trial.rules = base;
            trial.followUps = followUps;
            sweepScenario(ctx, world, scenario, trial);
        };
    };
    for (std::size_t i = 0; i < found.items.size(); ++i) {
        char number[24];
        std::snprintf(number, sizeof number, "%02zu", i + 1);
        add(std::string("ai-go-") + number + "-" + slug(found.items[i]),
            started(go(static_cast<int>(i)), {kShutdown}, "\"AI Go\" " + found.items[i]));
    }
    add("about", started(kAbout, {kShutdown}, "\"About\""));
    if (!found.items.empty()) {
        add("ai-update", started(update(0), {kShutdown}, "\"AI Update\""));
        add("error-report", started(go(0), {kShutdown}, "an error report (\"AI Go\" " + found.items[0] +
                                                           ", get-matching-art refused)",
                                    {FaultRule::failNthOf(Op::GetMatchingArt, 1, kBadParameterErr)}));
    }
    add("unload", started(kUnload, {kReload, kShutdown}, "\"Unload\""));
    add("reload", started(kReload, {kShutdown}, "\"Reload\"", {}, true));
    add("shutdown", started(kShutdown, {kShutdown}, "\"Shutdown\""));
    return cases;
}

// ---- Suites denied, wrong tables ----------------------------------------------------

void suiteTrials(CaseContext& ctx, const Discovery& found, const std::string& what,
                 const std::function<void(TrialPlan&)>& arm) {
    World world(ctx.options().pluginPath);
    world.host().setDocument(richDocument());
    auto run = [&](const MessageSpec& message) {
        TrialPlan trial;
        trial.message = message;
        trial.followUps = {kShutdown};
        arm(trial);
        trial.label = message.label() + " with " + what;
        ctx.progress(trial.label);
        runTrial(ctx, world, trial);
    };
    run(kStartup);
    startWorld(ctx, world);
    for (std::size_t i = 0; i < found.items.size(); ++i) run(go(static_cast<int>(i)));
    run(kAbout);
    if (!found.items.empty()) run(update(0));
    run(kShutdown);
}

std::vector<CaseDef> suiteCases(const Options&, const Discovery& found) {
    std::vector<CaseDef> cases;
    std::set<std::string> names;
    for (const auto& suite : found.suites) {
        if (!names.insert(suite.first).second) continue;
        const std::string name = suite.first;
        cases.push_back({"denied/" + slug(name), "denied", [found, name](CaseContext& ctx) {
                             suiteTrials(ctx, found, "\"" + name + "\" refused", [&](TrialPlan& trial) {
                                 trial.rules = {FaultRule::denySuite(name)};
                             });
                         }});
    }
    for (const auto& suite : found.suites) {
        const std::string name = suite.first;
        const int version = suite.second;
        cases.push_back({"wrong-table/" + slug(name) + "-" + std::to_string(version), "wrong-table",
                         [found, name, version](CaseContext& ctx) {
                             suiteTrials(ctx, found,
                                         "\"" + name + "\" " + std::to_string(version) + " granted as a trapping table",
                                         [&](TrialPlan& trial) {
                                             trial.allowance.wrongSuite = name;
                                             trial.allowance.extraCode = kTrapErr;
                                             trial.before = [name, version](World& w) {
                                                 w.host().grantWrongTable(name, version);
                                             };
                                         });
                         }});
    }
    return cases;
}

// ---- Use after release -------------------------------------------------------------------

std::vector<CaseDef> releaseCases(const Options&, const Discovery& found) {
    std::vector<CaseDef> cases;
    cases.push_back({"use-after-release/host-traps", "use-after-release", [found](CaseContext& ctx) {
                         // The host's own mechanism, so a pass below means something:
                         // a released table must trap and name the suite.
                         ctx.trial();
                         Host host;
                         if (found.suites.empty()) return;
                         const auto& suite = found.suites.front();
                         const void* table = nullptr;
                         SPBasicSuite* basic = host.basicSuite();
                         if (basic->AcquireSuite(suite.first.c_str(), suite.second, &table) != kNoErr || table == nullptr) {
                             ctx.finding("host", "the host would not grant \"" + suite.first + "\"");
                             return;
                         }
                         basic->ReleaseSuite(suite.first.c_str(), suite.second);
                         const auto* slots = static_cast<const SPReservedProc*>(table);
                         reinterpret_cast<ASErr (*)()>(slots[0])();
                         bool named = false;
                         for (const Violation& v : host.ledger().violations())
                             named = named || (v.rule == "released-suite" && v.detail.find(suite.first) != std::string::npos);
                         if (!named) ctx.finding("host", "a call through a released table was not caught and named");
                     }});
    cases.push_back({"use-after-release/session", "use-after-release", [found](CaseContext& ctx) {
                         // A whole session, with releases refused and acquisitions
                         // refused on the way: no stale table may be called.
                         World world(ctx.options().pluginPath);
                         startWorld(ctx, world);
                         const int items = static_cast<int>(found.items.size());
                         std::vector<std::pair<MessageSpec, std::vector<FaultRule>>> plan;
                         for (int i = 0; i < items; ++i) plan.push_back({go(i), {}});
                         for (const auto& suite : found.suites) {
                             plan.push_back({go(0), {FaultRule::denySuite(suite.first)}});
                             FaultRule refuse = FaultRule::failNthOf(Op::ReleaseSuite, 1);
                             refuse.subject = suite.first;
                             plan.push_back({go(items > 1 ? 1 : 0), {refuse}});
                             plan.push_back({kAbout, {}});
                         }
                         plan.push_back({kUnload, {}});
                         plan.push_back({kReload, {}});
                         for (int i = 0; i < items; ++i) plan.push_back({go(i), {}});
                         plan.push_back({kShutdown, {}});
                         Failed failed;
                         for (const auto& entry : plan) {
                             ctx.trial();
                             const Observation seen = observe(world, entry.first, entry.second);
                             failed.add(seen.log);
                             for (const Violation& v : seen.violations)
                                 ctx.finding(v.rule, entry.first.label() + ": " + v.detail);
                         }
                     }});
    return cases;
}

}  // namespace simhost::validate
