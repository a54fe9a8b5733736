// The one gate every host operation passes: it counts the call, logs it when
// logging is on, and applies the fault plan, which may fail the call.
//
// Tests, benchmarks, the command line and the validator all drive the host
// through this one mechanism. With no plan and logging off, a call costs one
// increment and one branch.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "HostTypes.h"

namespace simhost {

// What a failed call of an operation looks like to its caller.
enum class FailureShape : std::uint8_t {
    kCode,     // returns the plan's error code
    kValue,    // returns its "nothing" value: false, null, or for Modal the code
    kNoEffect  // returns nothing; the call simply does not happen
};

// Every host operation: identifier, suite, position, label, failure shape.
#define SIMHOST_OPERATIONS(X)                                                               \
    X(AcquireSuite, "SPBasicSuite", 0, "acquire-suite", kCode)                              \
    X(ReleaseSuite, "SPBasicSuite", 1, "release-suite", kCode)                              \
    X(IsEqual, "SPBasicSuite", 2, "is-equal", kValue)                                       \
    X(AllocateBlock, "SPBasicSuite", 3, "allocate-block", kCode)                            \
    X(FreeBlock, "SPBasicSuite", 4, "free-block", kCode)                                    \
    X(SetPluginName, "SP Plug-ins Suite", 23, "set-plugin-name", kCode)                     \
    X(DisposeHandle, "AI MdMemory Suite", 1, "dispose-handle", kCode)                       \
    X(GetArtLayer, "AI Art Suite", 5, "get-layer", kCode)                                   \
    X(GetArtType, "AI Art Suite", 6, "get-type", kCode)                                     \
    X(GetArtUserAttr, "AI Art Suite", 7, "get-user-attr", kCode)                            \
    X(SetArtUserAttr, "AI Art Suite", 8, "set-user-attr", kCode)                            \
    X(GetArtParent, "AI Art Suite", 9, "get-parent", kCode)                                 \
    X(GetArtFirstChild, "AI Art Suite", 10, "get-first-child", kCode)                       \
    X(GetArtSibling, "AI Art Suite", 11, "get-sibling", kCode)                              \
    X(NumberToString, "AI User Suite", 4, "number-to-string", kCode)                        \
    X(StringToNumber, "AI User Suite", 5, "string-to-number", kCode)                        \
    X(GetSelectedArt, "AI Matching Art Suite", 0, "get-selected-art", kCode)                \
    X(GetMatchingArt, "AI Matching Art Suite", 1, "get-matching-art", kCode)                \
    X(GetPathClosed, "AI Path Suite", 6, "get-closed", kCode)                               \
    X(GetPathGuide, "AI Path Suite", 8, "get-guide", kCode)                                 \
    X(GetPathStyle, "AI Path Style Suite", 0, "get-path-style", kCode)                      \
    X(GetLayerVisible, "AI Layer Suite", 12, "layer-visible", kCode)                         \
    X(GetLayerEditable, "AI Layer Suite", 16, "layer-editable", kCode)                        \
    X(GetResultGroup, "AI Plugin Group Suite", 15, "get-result-group", kCode)               \
    X(AddMenuItem, "AI Menu Suite", 0, "add-menu-item", kCode)                              \
    X(UpdateMenuItemAutomatically, "AI Menu Suite", 8, "update-automatically", kCode)       \
    X(AddMenuGroupAsSubMenu, "AI Menu Suite", 19, "add-menu-group-as-submenu", kCode)       \
    X(GetMenuGroupName, "AI Menu Suite", 20, "get-menu-group-name", kCode)                  \
    X(CountMenuGroups, "AI Menu Suite", 24, "count-menu-groups", kCode)                     \
    X(GetNthMenuGroup, "AI Menu Suite", 25, "get-nth-menu-group", kCode)                    \
    X(GetIndexString, "ADM Basic Suite", 0, "get-index-string", kCode)                      \
    X(ErrorAlert, "ADM Basic Suite", 3, "error-alert", kNoEffect)                           \
    X(Modal, "ADM Dialog Suite", 1, "modal", kValue)                                        \
    X(GetUserData, "ADM Dialog Suite", 24, "get-user-data", kValue)                         \
    X(GetItem, "ADM Dialog Suite", 78, "get-item", kValue)                                  \
    X(SetNotifyProc, "ADM Item Suite", 10, "set-notify-proc", kNoEffect)                    \
    X(DefaultNotify, "ADM Item Suite", 12, "default-notify", kNoEffect)                     \
    X(SetText, "ADM Item Suite", 75, "set-text", kNoEffect)                                 \
    X(StringInitialize, "AI Unicode String Suite", 0, "initialize", kCode)                  \
    X(StringDestroy, "AI Unicode String Suite", 3, "destroy", kNoEffect)                    \
    X(StringCopy, "AI Unicode String Suite", 6, "copy", kCode)

enum class Op : std::uint8_t {
#define SIMHOST_OP_ENUM(id, suite, slot, label, shape) id,
    SIMHOST_OPERATIONS(SIMHOST_OP_ENUM)
#undef SIMHOST_OP_ENUM
};
constexpr std::size_t kOpCount = 0
#define SIMHOST_OP_COUNT(id, suite, slot, label, shape) +1
    SIMHOST_OPERATIONS(SIMHOST_OP_COUNT)
#undef SIMHOST_OP_COUNT
    ;

struct OpInfo {
    const char* name;   // identifier, for plans given as text
    const char* suite;  // suite name
    int slot;           // position in the suite's table
    const char* label;  // short label used in logs and reports
    FailureShape shape;
};
inline constexpr OpInfo kOpInfos[] = {
#define SIMHOST_OP_INFO(id, suite, slot, label, shape) {#id, suite, slot, label, FailureShape::shape},
    SIMHOST_OPERATIONS(SIMHOST_OP_INFO)
#undef SIMHOST_OP_INFO
};
static_assert(sizeof kOpInfos / sizeof kOpInfos[0] == kOpCount, "one entry per operation");
// Inline: the document suites look up their label on every call.
inline const OpInfo& opInfo(Op op) {
    return kOpInfos[static_cast<std::size_t>(op)];
}
// The operation of a name or label ("GetArtType" or "get-type"); none if unknown.
std::optional<Op> opNamed(const std::string& nameOrLabel);

// The error code a fault fails a call with unless the plan says otherwise.
constexpr ASErr kInjectedFaultErr = FourCC("FALT");

// One rule of a fault plan. A call matches when its operation (if given)
// and its subject (for acquire-suite and release-suite: the suite name; if
// given) match. The rule fires on the nth matching call, counting from 1,
// and, when persistent, on every matching call after it too.
struct FaultRule {
    std::optional<Op> op;
    std::optional<std::string> subject;
    std::uint64_t nth = 1;
    bool persistent = false;
    ASErr code = kInjectedFaultErr;

    // Fail the nth call the gate sees, of any operation.
    static FaultRule failNthCall(std::uint64_t nth, bool persistent = false,
                                 ASErr code = kInjectedFaultErr);
    // Fail every call of one operation.
    static FaultRule failEvery(Op op, ASErr code = kInjectedFaultErr);
    // Fail the nth call of one operation.
    static FaultRule failNthOf(Op op, std::uint64_t nth, ASErr code = kInjectedFaultErr);
    // Refuse every acquisition of the named suite.
    static FaultRule denySuite(std::string name, ASErr code = kInjectedFaultErr);
};

// What a call acts on, as the suite function that takes it names it: the
// handle or object (a dialog item, an art object, a string object, a block)
// and the name or text argument. Text is read up to textBound bytes.
// acquire-suite and release-suite name a suite and the version asked for.
struct CallSubject {
    const void* handle = nullptr;
    const char* text = nullptr;
    std::size_t textBound = 256;
    ai::int32 version = 0;
    std::array<std::int64_t, 3> numbers{};  // numeric arguments in order, zero past the last

    static CallSubject suite(const char* name, ai::int32 version) { return {nullptr, name, 256, version, {}}; }
};

// One call as the gate saw it. Readers use the fields; `detail` is for
// people and is never parsed.
struct CallRecord {
    std::uint64_t sequence;  // 1 for the first call the gate saw
    Op op;
    std::string detail;      // the arguments, in short
    ASErr injected;          // the code the call was failed with, 0 if it ran
    const char* suite;       // the suite's name
    const char* operation;   // the operation's label
    const void* handle;      // the handle or object it acts on; null for none
    std::string text;        // its name or text argument (a suite's name); empty for none
    ai::int32 version;       // acquire-suite and release-suite: the version asked for; 0 otherwise
    std::array<std::int64_t, 3> numbers;  // the numeric arguments the call names, in order; zero past the last
};

class Gate {
public:
    // Counts one call and returns the code to fail it with, or 0 to let it
    // run. `describe` is called only when the call is logged, so building
    // the detail text costs nothing otherwise.
    // The subject's text is what rules name for acquire-suite and
    // release-suite: the suite name.
    template <typename Describe>
    ASErr enter(Op op, CallSubject subject, Describe&& describe) {
        ++perOp_[static_cast<std::size_t>(op)];
        if (__builtin_expect(!planOrLog_, 1)) return kNoErr;
        // The describer goes by address: building a std::function here
        // would weigh down every caller's fast path.
        using D = std::remove_reference_t<Describe>;
        return enterSlow(op, subject, &describe, [](const void* d) { return (*static_cast<const D*>(d))(); });
    }
    template <typename Describe>
    ASErr enter(Op op, const char* subject, Describe&& describe) {
        return enter(op, CallSubject{nullptr, subject}, std::forward<Describe>(describe));
    }
    ASErr enter(Op op) {
        return enter(op, CallSubject{}, [] { return std::string(); });
    }
    // The fast path alone, for callers that check their arguments first:
    // with no plan and no log it counts the call and returns true; otherwise
    // it counts nothing and the caller must go through enter().
    bool countIfQuiet(Op op) {
        if (planOrLog_) return false;
        ++perOp_[static_cast<std::size_t>(op)];
        return true;
    }

    void addRule(FaultRule rule);
    void clearRules();
    bool hasRules() const { return !rules_.empty(); }
    // Calls failed since the rules were last cleared.
    std::uint64_t faultsFired() const { return fired_; }
    // The calls the rule added `index`-th (from 0) since the last clear
    // matched and was due to fail; two rules due on one call both count it.
    std::uint64_t faultsFiredBy(std::size_t index) const { return rules_.at(index).fired; }

    void setLogging(bool on) {
        logging_ = on;
        planOrLog_ = logging_ || !rules_.empty();
    }
    bool logging() const { return logging_; }
    const std::vector<CallRecord>& log() const { return log_; }
    void clearLog() { log_.clear(); }

    // The sum of the per-operation counts: the fast path keeps only those.
    std::uint64_t totalCalls() const;
    std::uint64_t calls(Op op) const { return perOp_[static_cast<std::size_t>(op)]; }
    void resetCounts();

private:
    struct ActiveRule {
        FaultRule rule;
        std::uint64_t seen = 0;
        std::uint64_t fired = 0;
    };
    ASErr enterSlow(Op op, const CallSubject& subject, const void* describer, std::string (*describe)(const void*));

    std::array<std::uint64_t, kOpCount> perOp_{};
    std::vector<ActiveRule> rules_;
    std::uint64_t fired_ = 0;
    bool logging_ = false;
    // Whether a call must take the slow path: a plan is set or calls are logged.
    bool planOrLog_ = false;
    std::vector<CallRecord> log_;
};

std::string describeCall(const CallRecord& record);

// Every fault the gate injects passes here, just before the failed call
// returns to the plug-in: the place for a debugger breakpoint
// (`break simhost::hostFaultInjected`), to stop where the plug-in is about to
// see the failure. Kept out of line so the breakpoint always has a place.
void hostFaultInjected(std::uint64_t sequence, Op op, ASErr code);

}  // namespace simhost
