// The validator's checks, proven on plug-ins broken on purpose: each broken
// copy of the mini plug-in must fail the case that watches its rule, with
// the right status and a finding that names the rule; the unbroken mini
// plug-in must pass every case, so none of these failures comes from the
// mini plug-in's own design.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "Isolation.h"
#include "Protocol.h"
#include "World.h"
#include "simhost/validate/Validate.h"

using namespace simhost::validate;

namespace {

std::string testPlugin(const std::string& name) {
    return std::string(WENDLOW_TEST_PLUGIN_DIR) + "/" + name + ".so";
}

Options quickOptions(const std::string& plugin, const std::string& only) {
    Options options;
    options.pluginPath = testPlugin(plugin);
    options.only = only;
    options.seed = 1;
    options.iterations = 40;
    options.hostileObjects = 3000;
    options.soakCycles = 3;
    options.caseTimeoutSeconds = 60;
    options.trialTimeoutSeconds = 20;
    return options;
}

const CaseResult* findCase(const Report& report, const std::string& name) {
    for (const CaseResult& c : report.cases)
        if (c.name == name) return &c;
    return nullptr;
}

bool hasRule(const CaseResult& c, const std::string& rule) {
    return std::any_of(c.findings.begin(), c.findings.end(), [&](const Finding& f) { return f.rule == rule; });
}

std::string describe(const CaseResult& c) {
    std::string text = c.name + ": " + statusName(c.status) + "\n";
    for (const Finding& f : c.findings) text += "  [" + f.rule + "] " + f.detail + "\n";
    return text;
}

struct Broken { const char* plugin; const char* caseName; Status status; const char* rule; };

void PrintTo(const Broken& b, std::ostream* out) {
    *out << b.plugin;
}

class BrokenPlugin : public ::testing::TestWithParam<Broken> {};

}  // namespace

TEST_P(BrokenPlugin, FailsTheCaseThatWatchesItsRule) {
    const Broken& b = GetParam();
    Options options = quickOptions(b.plugin, std::string("^") + b.caseName + "$");
    if (b.status == Status::kTimeout) {
        options.caseTimeoutSeconds = 4;
        options.trialTimeoutSeconds = 4;
    }
    const Report report = runValidation(options);
    const CaseResult* c = findCase(report, b.caseName);
    ASSERT_NE(c, nullptr) << "no case " << b.caseName;
    EXPECT_EQ(c->status, b.status) << describe(*c);
    EXPECT_TRUE(hasRule(*c, b.rule)) << "expected a finding [" << b.rule << "]\n" << describe(*c);
    EXPECT_EQ(exitCodeOf(report), b.status == Status::kFail ? 1 : 2);
}

INSTANTIATE_TEST_SUITE_P(
    EachCheck, BrokenPlugin,
    ::testing::Values(Broken{"mini-skips-dispose", "lifecycle/message-table", Status::kFail, "handle-balance"},
                      Broken{"mini-never-releases", "lifecycle/message-table", Status::kFail, "suite-balance"},
                      Broken{"mini-releases-twice", "lifecycle/message-table", Status::kFail, "release-not-held"},
                      Broken{"mini-throws", "lifecycle/message-table", Status::kFail, "exception-escaped"},
                      Broken{"mini-null-layer", "hostile/no-layer", Status::kCrash, "crash"},
                      Broken{"mini-use-after-release", "lifecycle/message-table", Status::kFail, "released-suite"},
                      Broken{"mini-hangs", "lifecycle/message-table", Status::kTimeout, "timeout"},
                      Broken{"mini-hangs", "every-call/about", Status::kTimeout, "timeout"},
                      Broken{"mini-extra-export", "lifecycle/exports", Status::kFail, "exports"},
                      Broken{"mini-ignores-refusal", "every-call/startup", Status::kFail, "acquisition-code"},
                      // A refusal before the last row may be passed over; one at the last row may not.
                      Broken{"mini-ignores-refusal", "denied/adm-item-suite", Status::kFail, "acquisition-code"},
                      Broken{"mini-never-reports", "every-call/startup", Status::kFail, "error-dialog"},
                      Broken{"mini-reports-every-code", "lifecycle/unreported-codes", Status::kFail, "error-dialog"},
                      Broken{"mini-touches-document", "lifecycle/message-table", Status::kFail, "document-changed"},
                      Broken{"mini-leaks-block", "lifecycle/message-table", Status::kFail, "block-balance"},
                      Broken{"mini-leaks-block", "lifecycle/soak", Status::kFail, "block-balance"},
                      Broken{"mini-own-code", "every-call/ai-go-01-mini-select", Status::kFail, "result-code"},
                      Broken{"mini-reserved-slot", "lifecycle/message-table", Status::kFail, "reserved-slot"},
                      Broken{"mini-skips-dispose", "hostile/handle-on-failure", Status::kFail, "handle-balance"},
                      Broken{"mini-no-notify-proc", "lifecycle/message-table", Status::kFail, "dialog-ok-notify"},
                      Broken{"mini-no-notify-proc", "every-call/startup", Status::kFail, "dialog-ok-notify"},
                      Broken{"mini-unbounded-error-scan", "hostile/resources-error-list-unterminated",
                             Status::kTimeout, "timeout"},
                      // A grant with a null table is a hold: kept by the shell, called by the helper.
                      Broken{"mini-keeps-null-table", "null-table/adm-item-suite-7", Status::kFail, "suite-balance"},
                      Broken{"mini-helper-uses-null-table", "null-table/ai-menu-suite-1008", Status::kCrash, "crash"},
                      Broken{"mini-reuses-after-refused-release", "refused-release/sp-plug-ins-suite", Status::kFail,
                             "unacquired-suite"},
                      Broken{"mini-invents-code", "refusals/two-codes", Status::kFail, "acquisition-code"},
                      // A crash at an early call must not end the sweep: the leak shows at a later one.
                      Broken{"mini-crashes-then-leaks", "every-call/startup", Status::kCrash, "crash"},
                      Broken{"mini-crashes-then-leaks", "every-call/startup", Status::kCrash, "suite-balance"},
                      // Each bound broken exactly once.
                      Broken{"mini-leaks-string", "lifecycle/message-table", Status::kFail, "string-balance"},
                      Broken{"mini-reports-twice", "every-call/startup", Status::kFail, "error-dialog"},
                      Broken{"mini-uses-refused-table", "denied/ai-art-suite", Status::kFail, "released-suite"},
                      // Held, as a null-table grant is, yet refused all the same.
                      Broken{"mini-uses-refused-table", "null-table/ai-art-suite-1013", Status::kFail,
                             "unacquired-suite"}));

TEST(Validator, MiniPluginPassesEveryCase) {
    const Report report = runValidation(quickOptions("mini", ""));
    ASSERT_GT(report.cases.size(), 50u);
    for (const CaseResult& c : report.cases) EXPECT_EQ(c.status, Status::kPass) << describe(c);
    EXPECT_EQ(exitCodeOf(report), 0);
    EXPECT_GT(report.trials(), 100u);
    EXPECT_EQ(report.sequences(), 40u);
}

TEST(Validator, SequenceFaultIsShrunkToAShortestReproducerWithItsSeed) {
    Options options = quickOptions("mini-after-about", "^random/sequences$");
    options.iterations = 300;
    const Report report = runValidation(options);
    const CaseResult* c = findCase(report, "random/sequences");
    ASSERT_NE(c, nullptr);
    ASSERT_EQ(c->status, Status::kFail) << describe(*c);
    ASSERT_FALSE(c->findings.empty());
    const std::string& text = c->findings.front().detail;
    EXPECT_EQ(c->findings.front().rule, "block-balance") << text;
    // "About" then "AI Update" is all it takes; the shrinker must find that.
    EXPECT_NE(text.find("shortest reproducer (2 of"), std::string::npos) << text;
    EXPECT_NE(text.find("\"About\""), std::string::npos) << text;
    EXPECT_NE(text.find("\"AI Update\""), std::string::npos) << text;

    // The printed seed replays the same failure on its own.
    const std::size_t at = text.find("seed ");
    ASSERT_NE(at, std::string::npos);
    Options replay = options;
    replay.seed = std::stoull(text.substr(at + 5));
    replay.iterations = 1;
    const Report again = runValidation(replay);
    ASSERT_EQ(again.cases.size(), 1u);
    EXPECT_EQ(again.cases[0].status, Status::kFail) << describe(again.cases[0]);
}

TEST(Validator, ReportsNameEveryCaseAndStatus) {
    Report report = runValidation(quickOptions("mini-throws", "^lifecycle/(exports|message-table)$"));
    ASSERT_EQ(report.cases.size(), 2u);
    const std::string json = reportJson(report);
    EXPECT_NE(json.find("\"name\": \"lifecycle/message-table\""), std::string::npos) << json;
    EXPECT_NE(json.find("\"status\": \"fail\""), std::string::npos);
    EXPECT_NE(json.find("\"rule\": \"exception-escaped\""), std::string::npos);
    const std::string junit = reportJUnit(report);
    EXPECT_NE(junit.find("<testsuites name=\"simhost validate\" tests=\"2\" failures=\"1\" errors=\"0\""),
              std::string::npos)
        << junit;
    EXPECT_NE(junit.find("<failure type=\"fail\" message=\"[exception-escaped]"), std::string::npos) << junit;
    const std::string table = summaryTable(report);
    EXPECT_NE(table.find("2 cases: 1 passed, 1 failed, 0 crashed, 0 timed out"), std::string::npos) << table;
    EXPECT_NE(table.find("battery took"), std::string::npos);
}

// The worst case decides the exit code, in whatever order the cases came.
TEST(Validator, ExitCodeIsTheWorstCasesWhereverItComes) {
    struct Row { std::vector<Status> statuses; int code; };
    for (const Row& row : std::vector<Row>{{{}, 0},
                                           {{Status::kPass, Status::kPass}, 0},
                                           {{Status::kPass, Status::kFail, Status::kPass}, 1},
                                           {{Status::kFail, Status::kCrash}, 2},
                                           {{Status::kFail, Status::kPass, Status::kTimeout}, 2},
                                           {{Status::kTimeout, Status::kFail}, 2}}) {
        Report report;
        for (const Status status : row.statuses) {
            report.cases.emplace_back();
            report.cases.back().status = status;
        }
        EXPECT_EQ(exitCodeOf(report), row.code) << row.statuses.size() << " cases";
    }
}

// --in-process forks nothing and comes to the forked run's verdict on cases
// whose checks need no copy of the world.
TEST(Validator, InProcessRunForksNothingAndGivesTheSameVerdict) {
    Options options = quickOptions("mini-skips-dispose", "^lifecycle/(message-table|exports)$|^random/sequences$");
    options.iterations = 3;
    options.inProcess = true;
    const std::uint64_t forks = forksMade();
    const Report here = runValidation(options);
    EXPECT_EQ(forksMade(), forks);
    options.inProcess = false;
    const Report forked = runValidation(options);
    EXPECT_GT(forksMade(), forks);
    ASSERT_EQ(here.cases.size(), 3u);
    ASSERT_EQ(forked.cases.size(), 3u);
    for (std::size_t i = 0; i < here.cases.size(); ++i) {
        EXPECT_EQ(here.cases[i].status, forked.cases[i].status) << describe(here.cases[i]) << describe(forked.cases[i]);
        EXPECT_EQ(here.cases[i].findings.size(), forked.cases[i].findings.size()) << describe(here.cases[i]);
    }
    EXPECT_TRUE(hasRule(*findCase(here, "lifecycle/message-table"), "handle-balance"));
}

TEST(Validator, UnloadablePluginIsTheValidatorsOwnFailure) {
    Options options = quickOptions("mini", "");
    options.pluginPath = std::string(WENDLOW_TEST_PLUGIN_DIR) + "/mini.resources.json";
    EXPECT_THROW(runValidation(options), std::runtime_error);
    options = quickOptions("mini", "([");
    EXPECT_THROW(runValidation(options), std::runtime_error);
}

// An acquisition that stopped at a refusal before the report suites owes no
// error dialog (the table below shows it); one refused after them does: the
// plug-in shows it, and a copy of the observation without it breaks the rule.
TEST(ValidatorRules, ErrorDialogIsOwedOnceTheReportSuitesWereGranted) {
    World world(WENDLOW_PLUGIN_PATH);
    ASSERT_EQ(world.send(MessageSpec::interface(kSPInterfaceStartupSelector)), kNoErr);
    const MessageSpec command = MessageSpec::menu(kSelectorAIGoMenuItem, 0);
    std::vector<Finding> findings;
    Observation late = observe(world, command, {simhost::FaultRule::denySuite(kAIUnicodeStringSuite)});
    ASSERT_EQ(late.result, simhost::kInjectedFaultErr);
    ASSERT_EQ(late.dialogs.size(), 1u);
    late.dialogs.clear();
    Failed lateFailed;
    lateFailed.add(late.log);
    checkMessage(findings, command, late, lateFailed, Allowance{});
    EXPECT_TRUE(std::any_of(findings.begin(), findings.end(), [](const Finding& f) { return f.rule == "error-dialog"; }));
}

// Where the interface leaves the choice to the plug-in, every choice passes:
// with two rows refused (the last with another code) either code may come
// back, and nothing else; a grant with a null table is refused as a missing
// suite would be, in the message's own run or in a helper's acquisition.
// The runs that stopped on a refusal never reached the report suites, so no
// error dialog is owed there.
TEST(ValidatorRules, AnyRefusedCodeIsAcceptedAndNoOther) {
    using simhost::CallRecord;
    using simhost::Op;
    const ASErr first = simhost::kInjectedFaultErr;
    const ASErr second = FourCC("NOPE");
    // Field by field: the host may give a record more fields than these.
    auto call = [](Op op, const std::string& detail, ASErr injected) {
        CallRecord record{};
        record.op = op;
        record.detail = detail;
        record.injected = injected;
        return record;
    };
    auto acquisition = [&](const char* suite, ASErr injected) {
        CallRecord record = call(Op::AcquireSuite, std::string("\"") + suite + "\", 3", injected);
        record.text = suite;
        record.version = 3;
        return record;
    };
    struct Row {
        std::vector<CallRecord> log;
        ASErr result;
        const char* rule;  // the finding expected; none when the choice is the plug-in's
    };
    const std::vector<CallRecord> twoRefused = {acquisition("Row A", first), acquisition("Row B", kNoErr),
                                                acquisition("Row C", second)};
    const std::vector<CallRecord> nullLast = {acquisition("Row A", kNoErr), acquisition("Null Row", kNoErr)};
    // A helper's own acquisition after the run, granted with a null table.
    const std::vector<CallRecord> nullInHelper = {acquisition("AI Menu Suite", kNoErr),
                                                  call(Op::AddMenuItem, "", kNoErr),
                                                  acquisition("Null Row", kNoErr)};
    // A suite refused in this message is not called, whatever table the plug-in kept.
    const std::vector<CallRecord> refusedThenCalled = {acquisition("AI Art Suite", first),
                                                       call(Op::GetArtType, "", kNoErr)};
    const Row rows[] = {
        {refusedThenCalled, first, "unacquired-suite"},
        {twoRefused, first, nullptr},
        {twoRefused, second, nullptr},
        {twoRefused, FourCC("MANY"), "acquisition-code"},
        {twoRefused, kNoErr, "acquisition-code"},
        {nullLast, kSuiteNotFoundErr, nullptr},
        {nullLast, kNoErr, "acquisition-code"},
        {nullInHelper, kNoErr, nullptr},
        // Its code may come back (the dialog it owes is not in this observation), no other.
        {nullInHelper, kSuiteNotFoundErr, "error-dialog"},
        {nullInHelper, FourCC("MANY"), "result-code error-dialog"},
    };
    Allowance allowance;
    allowance.nullSuite = "Null Row";
    allowance.nullVersion = 3;
    const MessageSpec command = MessageSpec::menu(kSelectorAIGoMenuItem, 0);
    for (const Row& row : rows) {
        Observation seen;
        seen.log = row.log;
        seen.result = row.result;
        Failed failed;
        failed.add(seen.log);
        std::vector<Finding> findings;
        checkMessage(findings, command, seen, failed, allowance);
        std::string found;
        for (const Finding& f : findings) found += f.rule + " ";
        EXPECT_EQ(found, row.rule == nullptr ? "" : std::string(row.rule) + " ")
            << showCode(row.result) << " after " << row.log.size() << " calls";
    }
}

// What a child writes comes back field for field, whatever the text holds;
// a line of no known kind (a stray write to the result pipe) is skipped.
TEST(ValidatorProtocol, RecordsComeBackFieldForField) {
    const Record sent[] = {{RecordKind::kFinding, "rule", "a\ttab, a\nnewline, a \\n that was typed"},
                           {RecordKind::kOutput, "#0 0x1 in f\n#1 \\\\ end\\", ""},
                           {RecordKind::kSuite, "AI Menu Suite", "1008"}};
    std::string payload;
    for (const Record& r : sent) payload += encodeRecord(r) + "Z\tstray\n";
    const std::vector<Record> got = decodeRecords(payload);
    ASSERT_EQ(got.size(), 3u) << payload;
    for (std::size_t i = 0; i < got.size(); ++i) {
        EXPECT_EQ(got[i].kind, sent[i].kind);
        EXPECT_EQ(got[i].first, sent[i].first);
        EXPECT_EQ(got[i].second, sent[i].second);
    }
}
