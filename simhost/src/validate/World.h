// One world for a validation run: a fresh host with the plug-in loaded, a
// document, and the plug-in's menu items; messages sent through it are
// observed (result, host calls, dialogs, violations, document) and checked
// against the rules every plug-in of this host interface must keep.
#pragma once

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "simhost/Codes.h"
#include "simhost/Gate.h"
#include "simhost/Host.h"
#include "simhost/validate/Validate.h"

namespace simhost::validate {

constexpr ai::int32 kErrorDialogID = 16051;

// A document with every kind of object the commands tell apart: layers
// hidden and locked, guides, open, closed, filled, stroked and dashed paths,
// compound paths, nested groups, a plugin group with edit art and a result
// group, meshes at every ancestry, symbols, rasters, placed objects, text,
// locked and hidden objects, and a selection to clear.
Document richDocument();

enum class MessageKind { kInterface, kMenu, kAccess, kRaw };

struct MessageSpec {
    MessageKind kind = MessageKind::kInterface;
    std::string caller;
    std::string selector;
    int item = -1;            // menu messages: ordinal of the plug-in's item; -1: a handle no item has
    bool nullWord = false;    // access messages: send a null globals word
    std::string label() const;

    static MessageSpec interface(const char* selector);
    static MessageSpec menu(const char* selector, int item);
    static MessageSpec access(const char* selector, bool nullWord = false);
    static MessageSpec raw(const char* caller, const char* selector);
    bool is(const char* selector) const { return this->selector == selector; }
    // Messages whose handler's code the host receives.
    bool returnsHandlerCode() const;
};

class World {
public:
    explicit World(const std::string& pluginPath);
    // A plug-in linked into this process (the fuzzer's), with its resources.
    World(SPPluginMainProc main, Resources resources);
    Host& host() { return *host_; }
    PluginId plugin() const { return plugin_; }
    // The plug-in's menu items that are commands (not the holders of a
    // submenu), in the order it added them.
    std::vector<MenuItemIndex> commandItems() const;
    AIMenuItemHandle itemHandle(int ordinal) const;
    ASErr send(const MessageSpec& message);

private:
    std::unique_ptr<Host> host_;
    PluginId plugin_ = -1;
};

// Which host calls the gate failed, from the call logs of a trial.
struct Failed {
    std::set<Op> ops;
    std::set<std::string> refusedSuites;
    std::set<ASErr> codes;
    void add(const std::vector<CallRecord>& log);
    bool has(Op op) const { return ops.count(op) != 0; }
};

struct Observation {
    ASErr result = kNoErr;
    std::vector<CallRecord> log;
    std::vector<DialogRecord> dialogs;  // shown during the message
    std::vector<std::string> alerts;
    std::vector<Violation> violations;
    std::uint64_t calls = 0;
    std::vector<std::uint64_t> firedByRule;  // per rule, in order: the calls it failed
    bool documentChanged = false;
};

// Sends one message with `rules` in the gate (cleared afterwards).
Observation observe(World& world, const MessageSpec& message, const std::vector<FaultRule>& rules,
                    bool log = true);

// What a trial lets pass besides the plain rules.
struct Allowance {
    std::string wrongSuite;         // granted as a trapping table: its calls are expected
    bool hostileResources = false;  // the error list may be unusable
    ASErr extraCode = kNoErr;       // one more code the message may return
    // Granted with a null table: a refusal with the missing suite's code.
    std::string nullSuite;
    ai::int32 nullVersion = 0;
};

// The rules for one message: its code, the error dialog, the violations,
// the document.
void checkMessage(std::vector<Finding>& out, const MessageSpec& message, const Observation& seen,
                  const Failed& failed, const Allowance& allowance);
// What the plug-in holds: nothing between messages but its globals block
// (`blocksAllowed`), less what a failed host call made unavoidable.
void checkLedger(std::vector<Finding>& out, World& world, const Failed& failed, std::size_t blocksAllowed,
                 const std::string& when);

// A code as its number, with its four characters when they are printable.
std::string showCode(ASErr code);
bool isReported(ASErr code);

}  // namespace simhost::validate
