// Every host call of every command failed in turn, once and from then on:
// the command must end with the injected code exactly where it stops on an
// error, go on where it does not look at the result, dispose of each
// matched-art handle once, leak nothing, and leave the selection where the
// host's own run with the same failures leaves it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "PluginHarness.h"
#include "SelectionTesting.h"
#include "simhost/Document.h"
#include "simhost/FaultSweep.h"
#include "simhost/Gate.h"
#include "simhost/Ledger.h"
#include "simhost/MatchingOptions.h"

using namespace simhost;
using namespace wendlow_test;

namespace {

struct Outcome {
    ASErr result = kNoErr;
    std::vector<std::string> selected;
    std::array<std::uint64_t, kOpCount> calls{};
    std::uint64_t faultsFired = 0;
};

std::array<std::uint64_t, kOpCount> callsOf(const Gate& gate) {
    std::array<std::uint64_t, kOpCount> calls{};
    for (std::size_t op = 0; op < kOpCount; ++op) calls[op] = gate.calls(static_cast<Op>(op));
    return calls;
}

// The host's own run of `command` failing the calls `rule` names.
Outcome expectedOutcome(const Document& drawing, const MatchingOptions& matching, SelectionCommand command,
                        const FaultRule& rule, std::size_t* handlesLeft) {
    Document doc = drawing;
    Gate gate;
    gate.addRule(rule);
    DirectSelection<Gate> reference(doc, gate, matching);
    Outcome outcome;
    outcome.result = reference.run(command);
    outcome.selected = selectedIds(doc);
    outcome.calls = callsOf(gate);
    outcome.faultsFired = gate.faultsFired();
    *handlesLeft = reference.handlesLeft();
    return outcome;
}

void sweepCommand(int slot, const MatchingOptions& matching) {
    // Small, but with every case the commands tell apart: a selection to
    // clear (a guide in it), layers failing each flag, excluded bits, guides,
    // the plugin group ancestry, meshes of each ancestry, repeats, a missing parent.
    const Document drawing = fixtureFile("faults");
    const SelectionCommand command = commandOfSlot(slot);
    const FaultSweepResult sweep = sweepFaults([&](const FaultRule& rule) -> std::uint64_t {
        SCOPED_TRACE("slot " + std::to_string(slot) + ", " + describeRule(rule));
        resetPluginState();
        Host host;
        host.setDocument(drawing);
        host.matching() = matching;
        Outcome actual;
        {
            HeldSuites held(host);
            host.gate().resetCounts();
            host.gate().addRule(rule);
            actual.result = runPluginCommand(command);
            actual.faultsFired = host.gate().faultsFired();
            actual.calls = callsOf(host.gate());
            host.gate().clearRules();
        }
        actual.selected = selectedIds(host.document());

        std::size_t handlesLeft = 0;
        const Outcome expected = expectedOutcome(drawing, matching, command, rule, &handlesLeft);
        EXPECT_EQ(actual.result, expected.result);
        EXPECT_EQ(actual.selected, expected.selected);
        EXPECT_EQ(actual.faultsFired, expected.faultsFired);
        for (std::size_t op = 0; op < kOpCount; ++op)
            EXPECT_EQ(actual.calls[op], expected.calls[op]) << opInfo(static_cast<Op>(op)).label;
        EXPECT_EQ(host.document().fingerprintBesidesSelection(), drawing.fingerprintBesidesSelection());

        // Only a handle whose disposal the host itself failed may stay live;
        // a second disposal or a null handle would be a violation.
        EXPECT_THAT(host.ledger().violations(), ::testing::IsEmpty());
        EXPECT_EQ(host.ledger().liveHandles(), handlesLeft);
        EXPECT_EQ(host.ledger().totalHolds(), 0);
        resetPluginState();
        return actual.faultsFired;
    });
    EXPECT_FALSE(sweep.endless);
    EXPECT_GT(sweep.callsInScenario, 20u) << "slot " << slot;
}

class EveryHostCallFailing : public ::testing::TestWithParam<int> {};

TEST_P(EveryHostCallFailing, EndsOrGoesOnAsTheHostsOwnRunDoes) {
    sweepCommand(GetParam(), MatchingOptions{});
}

TEST_P(EveryHostCallFailing, DisposesOfHandlesGivenWithAFailureOrForNothing) {
    MatchingOptions matching;
    matching.handleOnFailure = true;
    matching.nullHandleForEmpty = true;
    sweepCommand(GetParam(), matching);
}

INSTANTIATE_TEST_SUITE_P(Slots, EveryHostCallFailing, ::testing::Range(0, kCommandSlots));

// The sweep itself, on a gate that sees `calls` calls a run: each position
// from the 1st to the one past the last call, once and then from then on, in
// that order and no other; a run that never stops firing is cut at the limit.
TEST(FaultSweepLoop, FailsEveryCallInTurnAndStopsAtTheFirstRunWithNoFault) {
    for (const std::uint64_t calls : {0u, 1u, 4u}) {
        std::vector<std::pair<bool, std::uint64_t>> visited, expected;
        for (const bool persistent : {false, true})
            for (std::uint64_t nth = 1; nth <= calls + 1; ++nth) expected.push_back({persistent, nth});
        const FaultSweepResult sweep = sweepFaults([&](const FaultRule& rule) -> std::uint64_t {
            visited.push_back({rule.persistent, rule.nth});
            Gate gate;
            gate.addRule(rule);
            for (std::uint64_t i = 0; i < calls; ++i) gate.enter(Op::IsEqual);
            return gate.faultsFired();
        });
        EXPECT_EQ(visited, expected) << calls << " calls";
        EXPECT_EQ(sweep.callsInScenario, calls);
        EXPECT_EQ(sweep.trials, 2 * calls);
        EXPECT_FALSE(sweep.endless);
    }
    std::uint64_t last = 0;
    const FaultSweepResult endless = sweepFaults([&last](const FaultRule& rule) -> std::uint64_t {
        last = rule.nth;
        return 1;
    });
    EXPECT_TRUE(endless.endless);
    EXPECT_EQ(last, kSweepCallLimit);
}

}  // namespace
