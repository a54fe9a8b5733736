// The rule book: every rule a finding can name, each with the one promise of
// the host interface it enforces, in the interface's own words. `simhost
// validate --list` prints it; docs/validator.md follows it.
#include "simhost/validate/Validate.h"

namespace simhost::validate {

const std::vector<RuleInfo>& validatorRules() {
    static const std::vector<RuleInfo> rules = {
        {"crash", "PluginMain returns for every message, whatever the host or the document hands it"},
        {"timeout", "every message returns in bounded time; a string list's scan ends at a failed read"},
        {"exports", "the plug-in exports PluginMain and nothing else"},
        {"exception-escaped", "no exception leaves PluginMain; a failure is a returned host error code"},
        {"acquisition-code",
         "an acquisition that ends on a refusal returns a refused code; with several refused, any one of them"},
        {"result-code", "each message returns what its row of the message table allows: 0, 1 or a host's code"},
        {"access-acquired-suite", "\"SP Access\" messages run with no suite held"},
        {"error-dialog", "a code other than 0, 1, 'S!Fd' and 'STOP' is shown once, when the host allows it"},
        {"error-dialog-text", "the error dialog shows the code as its four characters if printable, else the decimal"},
        {"dialog-ok-notify", "every dialog's init procedure sets a notify procedure on the OK item (item 1)"},
        {"dialog-left-open", "the OK item's notify procedure hands the press to default-notify, which closes"},
        {"suite-balance",
         "each grant is one hold that one ReleaseSuite gives back, a grant with a null table too; none between messages"},
        {"unacquired-suite",
         "suites are acquired for the message that calls them; a table whose release was refused is not the next one's"},
        {"release-not-held", "ReleaseSuite gives back one hold of a suite that is held"},
        {"released-suite", "a suite table is used only while the suite is held"},
        {"reserved-slot", "a slot the interface does not use is never called"},
        {"wrong-table", "only the suites granted to the message are called"},
        {"bad-parameter", "host operations get the handles and arguments the interface names"},
        {"foreign-plugin", "a call that names a plug-in names the one the host sent the message to"},
        {"menu-after-startup", "menu items and groups are added while the plug-in handles \"Startup\""},
        {"string-not-initialised", "a Unicode string is initialised before it is read, copied from or destroyed"},
        {"string-already-initialised", "a Unicode string is destroyed before it is initialised again"},
        {"stale-notifier", "default-notify gets the notifier of the notification being delivered"},
        {"foreign-item", "default-notify gets an item of the dialog whose notification is being delivered"},
        {"handle-balance", "each matched-art handle is disposed of exactly once"},
        {"string-balance", "each Unicode string made is destroyed"},
        {"block-balance", "one globals block from \"Startup\" to \"Shutdown\"; a block is owned until FreeBlock"},
        {"document-changed", "commands change nothing in the document but selection bits"},
        {"endless", "a message makes a bounded number of host calls"},
        {"startup", "\"Startup\" allocates the globals block, names the plug-in and adds its menu items"},
        {"about", "\"About\" shows the plug-in's About dialog"},
        {"access-word", "\"SP Access\" messages other than \"Unload\" and \"Reload\" leave the globals word alone"},
        {"unload-word", "\"Unload\" hands the globals block to the host in the globals word"},
        {"shutdown-word", "\"Shutdown\" frees the globals block and clears the globals word"},
        {"soak", "after \"Shutdown\" nothing is held, and the library leaves the process when closed"},
        // Not the plug-in's: the validator or its host could not do its part.
        {"setup", "(the validator's own) \"Startup\" with no fault must succeed before a case can start"},
        {"host", "(the validator's own) the host traps a released table and names the suite"},
        {"validator", "(the validator's own) a case that could not run"},
    };
    return rules;
}

const std::vector<RuleInfo>& validatorBatteries() {
    static const std::vector<RuleInfo> batteries = {
        {"lifecycle/*", "every row of the message table, messages in bad orders, a load-and-unload soak, exports"},
        {"every-call/*", "each host call of each scenario fails in turn, once and from then on"},
        {"denied/*", "each suite the plug-in acquires refused at acquisition"},
        {"wrong-table/*", "each suite granted as a table whose every slot traps"},
        {"null-table/*", "each suite granted (code 0) with a null table, the About helper's own included"},
        {"refused-release/*", "each suite's releases refused in one message, then every message again"},
        {"refusals/two-codes", "the first and last row of each message's acquisition refused with two codes"},
        {"random/sequences", "seeded random message sequences with failure schedules, shrunk on failure"},
        {"hostile/*", "hostile documents and resources"},
        {"use-after-release/*", "released tables trap and name the suite; a session with refusals on the way"},
    };
    return batteries;
}

}  // namespace simhost::validate
