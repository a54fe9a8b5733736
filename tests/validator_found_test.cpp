// Faults of the plug-in that `simhost validate` found, each kept fixed here.
#include <gtest/gtest.h>

#include "PluginHarness.h"
#include "simhost/Dialogs.h"
#include "simhost/Gate.h"

using namespace simhost;
using wendlow_test::PluginHarness;

// every-call found it: with the User suite refused the code was returned
// but never shown, though the dialog suites were held. The dialog does not
// need the User suite: the plug-in writes the code itself.
TEST(ValidatorFound, ErrorDialogShownWithoutTheUserSuite) {
    PluginHarness p;
    ASSERT_EQ(p.startup(), kNoErr);
    p.host.clearDialogsAndAlerts();
    p.host.gate().addRule(FaultRule::denySuite(kAIUserSuite));
    EXPECT_EQ(p.choose(1), kInjectedFaultErr);
    p.host.gate().clearRules();
    ASSERT_EQ(p.host.dialogs().size(), 1u);
    // The error dialog, its texts still set: the code in letters, the message
    // of its pair in the error list.
    const DialogRecord& dialog = p.host.dialogs().back();
    EXPECT_EQ(dialog.resourceID, 16051);
    ASSERT_GE(dialog.items.size(), 3u);
    EXPECT_EQ(dialog.items[2].text, "FALT");
    EXPECT_EQ(dialog.items[1].text, "The host could not complete a request (simulated failure).");
    EXPECT_EQ(p.shutdown(), kNoErr);
    EXPECT_TRUE(p.problems().empty());
}

// The random sequences found it: after a refused release the shell kept its
// tables, and the next message's refusal alert went through the ADM Basic
// table of the message before, which it had not acquired again.
TEST(ValidatorFound, NoAlertThroughATableKeptFromARefusedRelease) {
    PluginHarness p;
    ASSERT_EQ(p.startup(), kNoErr);
    p.host.gate().addRule(FaultRule::failNthOf(Op::ReleaseSuite, 1));
    p.choose(1);
    p.host.gate().clearRules();
    p.host.clearDialogsAndAlerts();
    p.host.gate().addRule(FaultRule::failNthOf(Op::AcquireSuite, 1));
    EXPECT_EQ(p.choose(1), kInjectedFaultErr);
    p.host.gate().clearRules();
    // The first row is refused before the ADM Basic suite is acquired: no alert can be shown.
    EXPECT_TRUE(p.host.alerts().empty());
}
