#include "World.h"
#include "simhost/DialogDriver.h"
#include "simhost/Dialogs.h"
#include "simhost/Document.h"
#include "simhost/Gate.h"
#include "simhost/Ledger.h"
#include "simhost/Menus.h"
#include "simhost/Plugins.h"
#include "simhost/Resources.h"


namespace simhost::validate {

Document richDocument() {
    Document doc;
    const LayerIndex main = doc.addLayer("Main");
    const LayerIndex hidden = doc.addLayer("Hidden", false, true);
    const LayerIndex locked = doc.addLayer("Locked", true, false);
    const ArtIndex root = doc.rootOf(main);

    PathProps open;
    PathProps closed;
    closed.closed = true;
    PathProps guide;
    guide.guide = true;
    PathProps stroked;
    stroked.stroked = true;
    stroked.filled = false;
    PathProps dashed = stroked;
    dashed.dashCount = 2;

    doc.addPath(root, open, "open");
    const ArtIndex selectedClosed = doc.addPath(root, closed, "closed");
    doc.art(selectedClosed).attributes |= kArtSelected;
    const ArtIndex guidePath = doc.addPath(root, guide, "guide");
    doc.art(guidePath).attributes |= kArtSelected;
    doc.addPath(root, stroked, "stroked");
    doc.addPath(root, dashed, "dashed");
    const ArtIndex lockedPath = doc.addPath(root, closed, "locked-path");
    doc.art(lockedPath).attributes |= kArtLocked;
    const ArtIndex hiddenPath = doc.addPath(root, open, "hidden-path");
    doc.art(hiddenPath).attributes |= kArtHidden;

    const ArtIndex compound = doc.addArt(root, kCompoundPathArt, "compound");
    doc.addPath(compound, closed, "compound-a");
    doc.addPath(compound, closed, "compound-b");

    const ArtIndex group = doc.addArt(root, kGroupArt, "group");
    doc.art(group).attributes |= kArtSelected;
    doc.addPath(group, stroked, "group-path");
    const ArtIndex inner = doc.addArt(group, kGroupArt, "inner-group");
    doc.addPath(inner, guide, "inner-guide");
    doc.addArt(inner, kMeshArt, "inner-mesh");
    doc.addArt(group, kMeshArt, "group-mesh");

    const ArtIndex plugin = doc.addArt(root, kPluginArt, "plugin-group");
    const ArtIndex edit = doc.addArt(plugin, kGroupArt, "edit-group");
    doc.addPath(edit, closed, "edit-path");
    doc.addArt(edit, kMeshArt, "edit-mesh");
    const ArtIndex result = doc.addResultGroup(plugin, "result-group");
    doc.addPath(result, open, "result-path");
    doc.addArt(result, kMeshArt, "result-mesh");

    doc.addArt(root, kMeshArt, "top-mesh");
    doc.addArt(root, kSymbolArt, "symbol");
    doc.addArt(root, kRasterArt, "raster");
    doc.addArt(root, kPlacedArt, "placed");
    doc.addArt(root, kTextArt, "text");
    doc.addArt(root, kOtherArt, "other");

    doc.addPath(doc.rootOf(hidden), closed, "on-hidden-layer");
    doc.addArt(doc.rootOf(hidden), kRasterArt, "raster-on-hidden-layer");
    doc.addPath(doc.rootOf(locked), open, "on-locked-layer");
    doc.addArt(doc.rootOf(locked), kGroupArt, "group-on-locked-layer");
    return doc;
}

// ---- Messages -------------------------------------------------------------

namespace {

MessageSpec messageOf(MessageKind kind, const char* caller, const char* selector) {
    MessageSpec m;
    m.kind = kind;
    m.caller = caller;
    m.selector = selector;
    return m;
}

}  // namespace

MessageSpec MessageSpec::interface(const char* selector) {
    return messageOf(MessageKind::kInterface, kSPInterfaceCaller, selector);
}

MessageSpec MessageSpec::menu(const char* selector, int item) {
    MessageSpec m = messageOf(MessageKind::kMenu, kCallerAIMenu, selector);
    m.item = item;
    return m;
}

MessageSpec MessageSpec::access(const char* selector, bool nullWord) {
    MessageSpec m = messageOf(MessageKind::kAccess, kSPAccessCaller, selector);
    m.nullWord = nullWord;
    return m;
}

MessageSpec MessageSpec::raw(const char* caller, const char* selector) {
    return messageOf(MessageKind::kRaw, caller, selector);
}

std::string MessageSpec::label() const {
    std::string text = "\"" + caller + "\"/\"" + selector + "\"";
    if (kind == MessageKind::kMenu) text += item < 0 ? " (no item of the plug-in)" : " item " + std::to_string(item + 1);
    if (kind == MessageKind::kAccess && nullWord) text += " with a null globals word";
    return text;
}

bool MessageSpec::returnsHandlerCode() const {
    if (kind == MessageKind::kInterface) return selector == kSPInterfaceStartupSelector;
    if (kind == MessageKind::kMenu)
        return selector == kSelectorAIGoMenuItem || selector == kSelectorAIUpdateMenuItem;
    return false;
}

// ---- World ------------------------------------------------------------------

World::World(const std::string& pluginPath) : host_(std::make_unique<Host>()) {
    plugin_ = host_->loadPlugin(pluginPath);
}

World::World(SPPluginMainProc main, Resources resources) : host_(std::make_unique<Host>()) {
    plugin_ = host_->attachPlugin(main, std::move(resources), "linked plug-in");
}

std::vector<MenuItemIndex> World::commandItems() const {
    std::vector<MenuItemIndex> items;
    const Menus& menus = host_->menus();
    for (std::size_t i = 0; i < menus.itemCount(); ++i) {
        const MenuItem& item = menus.item(static_cast<MenuItemIndex>(i));
        if (item.plugin == plugin_ && item.submenu < 0) items.push_back(static_cast<MenuItemIndex>(i));
    }
    return items;
}

AIMenuItemHandle World::itemHandle(int ordinal) const {
    const auto items = commandItems();
    if (ordinal >= 0 && static_cast<std::size_t>(ordinal) < items.size())
        return host_->menuItemHandle(items[static_cast<std::size_t>(ordinal)]);
    // A handle of the right kind that names no item.
    return host_->menuItemHandle(static_cast<MenuItemIndex>(host_->menus().itemCount() + 1000));
}

ASErr World::send(const MessageSpec& message) {
    Host& host = *host_;
    switch (message.kind) {
        case MessageKind::kInterface: return host.sendInterface(plugin_, message.selector.c_str());
        case MessageKind::kMenu: return host.sendMenu(plugin_, message.selector.c_str(), itemHandle(message.item));
        case MessageKind::kAccess:
            return host.sendAccessWithGlobals(plugin_, message.selector.c_str(),
                                              message.nullWord ? nullptr : host.plugin(plugin_).globals);
        case MessageKind::kRaw: {
            SPInterfaceMessage record{};
            record.d.globals = host.plugin(plugin_).globals;
            return host.send(plugin_, message.caller.c_str(), message.selector.c_str(), &record.d);
        }
    }
    return kNoErr;
}

// ---- Observation -------------------------------------------------------------

void Failed::add(const std::vector<CallRecord>& log) {
    for (const CallRecord& call : log) {
        if (call.injected == kNoErr) continue;
        ops.insert(call.op);
        codes.insert(call.injected);
        if (call.op == Op::AcquireSuite) refusedSuites.insert(call.text);
    }
}

Observation observe(World& world, const MessageSpec& message, const std::vector<FaultRule>& rules, bool log) {
    Host& host = world.host();
    Observation seen;
    const std::uint64_t before = host.document().fingerprintBesidesSelection();
    const std::size_t dialogs = host.dialogs().size();
    const std::size_t alerts = host.alerts().size();
    host.ledger().clearViolations();
    Gate& gate = host.gate();
    gate.clearRules();
    for (const FaultRule& rule : rules) gate.addRule(rule);
    gate.clearLog();
    gate.setLogging(log);
    const std::uint64_t calls = gate.totalCalls();

    seen.result = world.send(message);

    seen.calls = gate.totalCalls() - calls;
    for (std::size_t i = 0; i < rules.size(); ++i) seen.firedByRule.push_back(gate.faultsFiredBy(i));
    gate.setLogging(false);
    seen.log = gate.log();
    gate.clearLog();
    gate.clearRules();
    seen.dialogs.assign(host.dialogs().begin() + static_cast<std::ptrdiff_t>(dialogs), host.dialogs().end());
    seen.alerts.assign(host.alerts().begin() + static_cast<std::ptrdiff_t>(alerts), host.alerts().end());
    seen.violations = host.ledger().violations();
    host.ledger().clearViolations();
    seen.documentChanged = host.document().fingerprintBesidesSelection() != before;
    return seen;
}

// ---- Rules -----------------------------------------------------------------------

bool isReported(ASErr code) {
    return code != kNoErr && code != 1 && code != kAlreadyReportedErr && code != kCanceledErr;
}

std::string showCode(ASErr code) {
    const std::optional<std::string> chars = codeCharacters(code);
    return std::to_string(code) + (chars ? " '" + *chars + "'" : std::string());
}

namespace {

bool isErrorDialog(const DialogRecord& dialog) {
    return dialog.resourceID == kErrorDialogID || dialog.name == "Error Dialog";
}

const char* const kReportSuites[] = {"ADM Basic Suite", "ADM Dialog Suite", "ADM Item Suite"};

bool reportSuite(const std::string& name) {
    for (const char* s : kReportSuites)
        if (name == s) return true;
    return false;
}

bool names(const CallRecord& call, const std::string& suite, ai::int32 version) {
    return call.text == suite && call.version == version;
}

// The code an acquisition was refused with: the gate's, or the missing
// suite's when the host granted it with a null table.
ASErr refusalOf(const CallRecord& call, const Allowance& allowance) {
    if (call.op != Op::AcquireSuite) return kNoErr;
    if (call.injected != kNoErr) return call.injected;
    if (!allowance.nullSuite.empty() && names(call, allowance.nullSuite, allowance.nullVersion))
        return kSuiteNotFoundErr;
    return kNoErr;
}

// What one message's observation says about the shape of its run.
struct Seen {
    std::string what;
    std::size_t errorDialogs = 0;
    const DialogRecord* errorDialog = nullptr;
    std::set<ASErr> injected;  // codes the host gave; the plug-in may pass one on
    bool threw = false;        // an exception left the entry point
};

Seen summarize(const MessageSpec& message, const Observation& seen, const Allowance& allowance) {
    Seen s;
    s.what = message.label();
    for (const DialogRecord& d : seen.dialogs)
        if (isErrorDialog(d)) {
            ++s.errorDialogs;
            s.errorDialog = &d;
        }
    // A grant with a null table anywhere in the message (a helper's own
    // acquisition too) is a refusal with the missing suite's code.
    for (const CallRecord& call : seen.log)
        if (refusalOf(call, allowance) != kNoErr || call.injected != kNoErr)
            s.injected.insert(call.injected != kNoErr ? call.injected : refusalOf(call, allowance));
    if (allowance.extraCode != kNoErr) s.injected.insert(allowance.extraCode);
    // The violation names that rule; the code the host made up for it and
    // the missing report are its consequences, not further findings.
    for (const Violation& v : seen.violations) s.threw = s.threw || v.rule == "exception-escaped";
    return s;
}

// The message's own acquisition run (the first calls to acquire-suite in a
// row): the codes it was refused with, and whether it ended on a refusal
// (the last row, or the alert stopped it).
struct AcquisitionRun {
    std::set<ASErr> refusedCodes;
    ASErr leading = kNoErr;
    std::string leadingSuite;
    bool endedRefused = false;
};

AcquisitionRun readAcquisitionRun(const std::vector<CallRecord>& log, const Allowance& allowance) {
    AcquisitionRun run;
    std::size_t i = 0;
    while (i < log.size() && log[i].op != Op::AcquireSuite) ++i;
    for (; i < log.size() && log[i].op == Op::AcquireSuite; ++i) {
        const ASErr refused = refusalOf(log[i], allowance);
        run.endedRefused = refused != kNoErr;
        if (!run.endedRefused) continue;
        run.refusedCodes.insert(refused);
        if (run.leading == kNoErr) {
            run.leading = refused;
            run.leadingSuite = log[i].text;
        }
    }
    return run;
}

void checkAccessMessage(std::vector<Finding>& out, const MessageSpec& message, const Observation& seen,
                        const Seen& s) {
    for (const CallRecord& call : seen.log)
        if (call.op == Op::AcquireSuite) {
            out.push_back({"access-acquired-suite", s.what + " acquired \"" + call.text + "\" " +
                                                         std::to_string(call.version) +
                                                         ": access messages run with no suite held"});
            break;
        }
    if (s.errorDialogs != 0)
        out.push_back({"error-dialog", s.what + " showed an error dialog: access messages never show one"});
    const bool reload = message.is(kSPAccessReloadSelector);
    if (seen.result != kNoErr && !(reload && s.injected.count(seen.result)))
        out.push_back({"result-code", s.what + " returned " + showCode(seen.result) + ", expected 0"});
}

// Which refusal's code is returned is the plug-in's to choose; a run that
// ended on a refusal must return one of them, one that went on to a grant
// may also run its handler.
void checkResultCode(std::vector<Finding>& out, const MessageSpec& message, const Observation& seen, const Seen& s,
                     const AcquisitionRun& run) {
    ASErr startupAlloc = kNoErr;
    if (message.is(kSPInterfaceStartupSelector))
        for (const CallRecord& call : seen.log)
            if (call.op == Op::AllocateBlock) {
                startupAlloc = call.injected;
                break;
            }
    const bool refusedCodeReturned = run.refusedCodes.count(seen.result) != 0;
    if (run.leading != kNoErr && run.endedRefused) {
        if (!refusedCodeReturned)
            out.push_back({"acquisition-code", s.what + " returned " + showCode(seen.result) +
                                                   " after the host refused \"" + run.leadingSuite + "\" with " +
                                                   showCode(run.leading) + "; a refusal's code must be returned"});
    } else if (refusedCodeReturned) {
        // An earlier refusal's code, after a run that went on to a grant.
    } else if (startupAlloc != kNoErr) {
        if (seen.result != startupAlloc)
            out.push_back({"result-code", s.what + " returned " + showCode(seen.result) +
                                              " after the host refused the globals block with " +
                                              showCode(startupAlloc)});
    } else if (seen.result != kNoErr) {
        // 1 is what a modal dialog closed with OK gives a command that shows
        // one; it is passed over, never reported.
        const bool allowed =
            message.returnsHandlerCode() && (s.injected.count(seen.result) != 0 || seen.result == 1);
        if (!allowed)
            out.push_back({"result-code", s.what + " returned " + showCode(seen.result) + ", expected " +
                                              (message.returnsHandlerCode() ? "0 or a code the host gave"
                                                                            : std::string("0"))});
    }
}

bool reportBlocked(const Observation& seen, const Failed& failed, const Allowance& allowance,
                   const AcquisitionRun& run) {
    bool blocked = allowance.hostileResources || failed.has(Op::GetIndexString) || failed.has(Op::Modal) ||
                   reportSuite(allowance.wrongSuite) || reportSuite(allowance.nullSuite);
    for (const std::string& suite : failed.refusedSuites) blocked = blocked || reportSuite(suite);
    // An acquisition that stopped at a refusal may never have reached the
    // report suites: the dialog needs all three granted in this message.
    if (run.leading != kNoErr) {
        std::set<std::string> granted;
        for (const CallRecord& call : seen.log)
            if (call.op == Op::AcquireSuite && call.injected == kNoErr) granted.insert(call.text);
        for (const char* suite : kReportSuites) blocked = blocked || granted.count(suite) == 0;
    }
    return blocked;
}

void checkErrorDialog(std::vector<Finding>& out, const Observation& seen, const Seen& s, const Failed& failed,
                      const Allowance& allowance, const AcquisitionRun& run) {
    if (s.errorDialogs > 1)
        out.push_back({"error-dialog", s.what + " showed the error dialog " + std::to_string(s.errorDialogs) +
                                           " times for one code"});
    if (!isReported(seen.result) && s.errorDialogs != 0)
        out.push_back({"error-dialog", s.what + " showed the error dialog for " + showCode(seen.result) +
                                           ", a code that is never reported"});
    if (isReported(seen.result) && s.errorDialogs == 0 && !reportBlocked(seen, failed, allowance, run))
        out.push_back({"error-dialog", s.what + " returned " + showCode(seen.result) +
                                           " but showed no error dialog, though the host let it"});
    if (!isReported(seen.result) || s.errorDialog == nullptr) return;
    const bool textBlocked = failed.has(Op::SetText) || failed.has(Op::GetItem) || failed.has(Op::GetUserData) ||
                             failed.has(Op::NumberToString) || failed.refusedSuites.count("ADM Item Suite") ||
                             allowance.wrongSuite == "ADM Item Suite" || allowance.nullSuite == "ADM Item Suite" ||
                             allowance.hostileResources;
    const DialogItemRecord* codeItem = nullptr;
    for (const DialogItemRecord& item : s.errorDialog->items)
        if (item.id == 3) codeItem = &item;
    if (!textBlocked && codeItem != nullptr && codeItem->text != codeText(seen.result))
        out.push_back({"error-dialog-text", s.what + " showed the code as \"" + codeItem->text + "\" instead of \"" +
                                                codeText(seen.result) + "\""});
}

// Every dialog's OK item (item 1) carries the plug-in's notify procedure,
// set by its init procedure, unless the host refused what that takes.
void checkOkNotify(std::vector<Finding>& out, const Observation& seen, const Seen& s, const Failed& failed,
                   const Allowance& allowance) {
    const bool blocked = failed.has(Op::GetItem) || failed.has(Op::SetNotifyProc) ||
                         failed.refusedSuites.count("ADM Item Suite") || allowance.wrongSuite.rfind("ADM ", 0) == 0 ||
                         allowance.nullSuite.rfind("ADM ", 0) == 0;
    for (const DialogRecord& d : seen.dialogs)
        if (!blocked && !d.presses.empty() && d.presses[0].item == 1 && d.presses[0].route == PressRoute::kHostButton)
            out.push_back({"dialog-ok-notify",
                           s.what + ": \"" + d.name + "\" has no notify procedure on its OK item; the host closed it"});
}

// Nothing is held between messages, so every suite a message calls was
// acquired in it; a call of one that was not (a table kept from an earlier
// message whose release the host refused, or kept past a grant with a null
// table, which is a refusal) is reported once per suite.
void checkSuitesAcquired(std::vector<Finding>& out, const Observation& seen, const Seen& s,
                         const Allowance& allowance) {
    std::set<std::string> granted{"SPBasicSuite"};
    std::set<std::string> reported;
    for (const CallRecord& call : seen.log) {
        if (call.op == Op::AcquireSuite) {
            if (refusalOf(call, allowance) == kNoErr) granted.insert(call.text);
            continue;
        }
        const std::string suite = opInfo(call.op).suite;
        if (granted.count(suite) == 0 && reported.insert(suite).second)
            out.push_back({"unacquired-suite", s.what + " called " + opInfo(call.op).label + " of \"" + suite +
                                                   "\" without acquiring the suite in this message"});
    }
}

}  // namespace

void checkMessage(std::vector<Finding>& out, const MessageSpec& message, const Observation& seen,
                  const Failed& failed, const Allowance& allowance) {
    const Seen s = summarize(message, seen, allowance);
    // A refused is-equal hides which message this is: the plug-in may take
    // an access message for another one.
    if (message.kind == MessageKind::kAccess && !failed.has(Op::IsEqual)) {
        checkAccessMessage(out, message, seen, s);
    } else if (!s.threw) {
        const AcquisitionRun run = readAcquisitionRun(seen.log, allowance);
        checkResultCode(out, message, seen, s, run);
        checkErrorDialog(out, seen, s, failed, allowance, run);
    }
    checkOkNotify(out, seen, s, failed, allowance);
    checkSuitesAcquired(out, seen, s, allowance);
    for (const Violation& v : seen.violations) {
        if (!allowance.wrongSuite.empty() && v.rule == "wrong-table") continue;
        out.push_back({v.rule, s.what + ": " + v.detail});
    }
    if (seen.documentChanged)
        out.push_back({"document-changed", s.what + " changed the document in more than selection bits"});
}

void checkLedger(std::vector<Finding>& out, World& world, const Failed& failed, std::size_t blocksAllowed,
                 const std::string& when) {
    Host& host = world.host();
    const Ledger& ledger = host.ledger();
    if (!failed.has(Op::ReleaseSuite))
        for (const auto& hold : ledger.suiteHolds())
            out.push_back({"suite-balance", when + ": suite \"" + hold.first.first + "\" " +
                                                std::to_string(hold.first.second) + " still held " +
                                                std::to_string(hold.second) + " time(s)"});
    if (ledger.liveHandles() != 0 && !failed.has(Op::DisposeHandle))
        out.push_back({"handle-balance", when + ": " + std::to_string(ledger.liveHandles()) +
                                             " matched-art handle(s) never disposed of"});
    if (ledger.liveStrings() != 0 && !failed.has(Op::StringDestroy))
        out.push_back({"string-balance", when + ": " + std::to_string(ledger.liveStrings()) +
                                             " Unicode string(s) never destroyed"});
    const std::size_t blocks = ledger.liveBlocksOf(world.plugin());
    if (blocks > blocksAllowed && !failed.has(Op::FreeBlock) && !failed.has(Op::IsEqual))
        out.push_back({"block-balance", when + ": " + std::to_string(blocks) + " memory block(s) held, " +
                                            std::to_string(blocksAllowed) + " allowed"});
    const std::size_t stray = ledger.liveBlocksOf(-1);
    if (stray != 0)
        out.push_back({"block-balance", when + ": " + std::to_string(stray) +
                                            " memory block(s) allocated outside any message"});
}

}  // namespace simhost::validate
