// The host is as strict as its interface: each row breaks one rule the way a
// plug-in would, through the suite tables, and expects the host to refuse the
// call and record the breach under its name, without tidying up for it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>

#include "ADMSuites.h"
#include "AISuites.h"
#include "IAIUnicodeString.h"
#include "simhost/Dialogs.h"
#include "simhost/Gate.h"
#include "simhost/Host.h"
#include "simhost/Ledger.h"
#include "simhost/Resources.h"

using namespace simhost;
using ::testing::ElementsAre;

namespace {

// What the plug-ins below do while a message is in flight.
std::function<ASErr()> gDuringMessage;

extern "C" ASErr StrictTestMain(const char*, const char*, void*) {
    return gDuringMessage ? gDuringMessage() : kNoErr;
}

Resources testResources() {
    return Resources::parse(R"({
        "stringLists": {"1": ["one"]},
        "dialogs": {
            "1": {"name": "Outer", "items": [{"id": 1, "kind": "button", "text": "OK"}]},
            "2": {"name": "Inner", "items": [{"id": 1, "kind": "button", "text": "OK"}]}
        }})",
                            "strict-test");
}

template <typename Suite>
const Suite& suite(Host& host, const char* name, ai::int32 version) {
    const void* table = nullptr;
    if (host.basicSuite()->AcquireSuite(name, version, &table) != kNoErr || table == nullptr)
        throw std::runtime_error(std::string("no ") + name);
    return *static_cast<const Suite*>(table);
}

// Two plug-ins of the test's own, "a" and "b", and the suites a plug-in uses.
struct World {
    World() {
        gDuringMessage = nullptr;
        a = host.attachPlugin(StrictTestMain, testResources(), "a");
        b = host.attachPlugin(StrictTestMain, testResources(), "b");
    }
    ~World() { gDuringMessage = nullptr; }
    SPBasicSuite& basic() { return *host.basicSuite(); }
    const AIMenuSuite& menu() { return suite<AIMenuSuite>(host, kAIMenuSuite, kAIMenuSuiteVersion); }
    const AIMenuSuite1007& menu1007() {
        return suite<AIMenuSuite1007>(host, kAIMenuSuite, kAIMenuSuiteVersion1007);
    }
    const AIUnicodeStringSuite& strings() {
        return suite<AIUnicodeStringSuite>(host, kAIUnicodeStringSuite, kAIUnicodeStringSuiteVersion);
    }
    const ADMDialogSuite& dialogs() { return suite<ADMDialogSuite>(host, kADMDialogSuite, kADMDialogSuiteVersion); }
    const ADMItemSuite& items() { return suite<ADMItemSuite>(host, kADMItemSuite, kADMItemSuiteVersion); }
    const AIArtSuite& art() { return suite<AIArtSuite>(host, kAIArtSuite, kAIArtSuiteVersion); }
    // Sends "About" to `plugin`, running `body` inside it.
    ASErr during(PluginId plugin, std::function<ASErr()> body) {
        gDuringMessage = std::move(body);
        const ASErr result = host.about(plugin);
        gDuringMessage = nullptr;
        return result;
    }
    // Runs dialog "Outer" (1) or "Inner" (2) of "a"; `init` sets it up. Only
    // the outer one has user data: while open, it answers get-user-data.
    ai::int32 modal(ai::int32 id, ADMDialogInitProc init) {
        static int userData = 0;
        return dialogs().Modal(host.pluginRef(a), id == 1 ? "Outer" : "Inner", id, kADMModalDialogStyle, init,
                               id == 1 ? &userData : nullptr, 0);
    }
    // Gives the OK item of dialog `d` the notify procedure `proc`.
    void onOk(ADMDialogRef d, ADMItemNotifyProc proc) { items().SetNotifyProc(dialogs().GetItem(d, 1), proc); }
    // An item of "a" in "SelectObject", through the 1008 suite.
    ASErr addItem(AIMenuItemHandle* item = nullptr) {
        if (item == nullptr) item = &lastItem;
        AIPlatformAddMenuItemDataUS record;
        record.groupName = "SelectObject";
        ai::UnicodeString::HandleSlot(&record.itemText)[0] = host.ledger().newString("Item");
        const ASErr err = menu().AddMenuItem(host.pluginRef(a), "item", &record, 0, item);
        host.ledger().destroyString(record.itemText.handle());
        *ai::UnicodeString::HandleSlot(&record.itemText) = nullptr;
        return err;
    }

    Host host;
    AIMenuItemHandle lastItem = nullptr;
    PluginId a = -1;
    PluginId b = -1;
};

// Dialog plumbing for the notify rows: procedures are plain functions, so
// what they need and what they saw goes through these.
struct DialogScene {
    std::function<void(World&, ADMItemRef, ADMNotifierRef)> innerOk;  // inner dialog's OK procedure
    ADMDialogRef outer = nullptr;
    ADMItemRef outerOk = nullptr;
    ADMNotifierRef keptNotifier = nullptr;
    bool outerStillOpen = false;
    World* world = nullptr;
};
DialogScene gScene;

void closeOnOk(ADMItemRef item, ADMNotifierRef notifier) {
    gScene.keptNotifier = notifier;
    gScene.world->items().DefaultNotify(item, notifier);
}

void innerOkProc(ADMItemRef item, ADMNotifierRef notifier) {
    gScene.innerOk(*gScene.world, item, notifier);
    gScene.world->items().DefaultNotify(item, notifier);
}

// The outer dialog's OK runs the inner dialog, then closes the outer one.
void outerOkProc(ADMItemRef item, ADMNotifierRef notifier) {
    gScene.world->modal(2, [](ADMDialogRef d) { gScene.world->onOk(d, innerOkProc); return kNoErr; });
    gScene.world->items().DefaultNotify(item, notifier);
}

// Runs the outer dialog of "a"; the inner dialog's OK procedure does `innerOk`.
ASErr nestedDialogs(World& w, std::function<void(World&, ADMItemRef, ADMNotifierRef)> innerOk) {
    gScene = DialogScene{};
    gScene.world = &w;
    gScene.innerOk = std::move(innerOk);
    return w.modal(1, [](ADMDialogRef d) -> ASErr {
        gScene.outer = d;
        gScene.outerOk = gScene.world->dialogs().GetItem(d, 1);
        gScene.world->onOk(d, outerOkProc);
        return kNoErr;
    });
}

// Whether the outer dialog is still open: only then does it answer get-user-data.
bool outerOpen(World& w) {
    return w.dialogs().GetUserData(gScene.outer) != nullptr;
}

struct Row {
    const char* place;
    const char* rule;  // the violation recorded
    ASErr expected;    // what the call answers; for calls without a result,
                       // kBadParameterErr when the call visibly did nothing
    std::function<ASErr(World&)> drive;
    const char* detail = nullptr;  // what the violation must name, if anything
};

// A call without a result: refused when it left `stillTrue` true.
ASErr refusedWhen(bool stillTrue) {
    return stillTrue ? kBadParameterErr : kNoErr;
}

const Row kRows[] = {
    {"is-equal with a null token", "bad-parameter", 0,
     [](World& w) -> ASErr { return w.basic().IsEqual(nullptr, nullptr); }},
    {"free-block of a block never allocated", "bad-parameter", kBadParameterErr,
     [](World& w) { static int local = 0; return w.basic().FreeBlock(&local); }},
    {"free-block twice", "bad-parameter", kBadParameterErr,
     [](World& w) {
         void* block = nullptr;
         w.basic().AllocateBlock(8, &block);
         w.basic().FreeBlock(block);
         return w.basic().FreeBlock(block);
     }},
    {"acquire-suite with no out-pointer", "bad-parameter", kBadParameterErr,
     [](World& w) { return w.basic().AcquireSuite(kAIArtSuite, kAIArtSuiteVersion, nullptr); }},
    {"release-suite of a suite not held", "release-not-held", kSuiteNotHeldErr,
     [](World& w) { return w.basic().ReleaseSuite(kAIArtSuite, kAIArtSuiteVersion); }},
    {"release-suite at another version than granted", "release-not-held", kSuiteNotHeldErr,
     [](World& w) { w.menu(); return w.basic().ReleaseSuite(kAIMenuSuite, kAIMenuSuiteVersion1007); }},
    {"a call through a reserved slot", "reserved-slot", kTrapErr,
     [](World& w) { return reinterpret_cast<ASErr (*)()>(w.art().reserved0to4[2])(); },
     "slot 2 of \"AI Art Suite\" 1013"},
    {"a call through a released table", "released-suite", kTrapErr,
     [](World& w) {
         const AIArtSuite& art = w.art();
         w.basic().ReleaseSuite(kAIArtSuite, kAIArtSuiteVersion);
         AIArtType type = 0;
         return art.GetArtType(nullptr, &type);
     },
     "slot 6 of \"AI Art Suite\""},
    {"a call through a table granted wrong", "wrong-table", kTrapErr,
     [](World& w) {
         w.host.grantWrongTable(kAILayerSuite, kAILayerSuiteVersion);
         ASBoolean flag = 7;
         const ASErr err = suite<AILayerSuite>(w.host, kAILayerSuite, kAILayerSuiteVersion).GetLayerVisible(nullptr, &flag);
         return flag == 7 ? err : kNoErr;  // nothing written
     }},
    {"dispose-handle twice", "bad-parameter", kBadParameterErr,
     [](World& w) {
         const auto& matching = suite<AIMatchingArtSuite>(w.host, kAIMatchingArtSuite, kAIMatchingArtSuiteVersion);
         const auto& memory = suite<AIMdMemorySuite>(w.host, kAIMdMemorySuite, kAIMdMemorySuiteVersion);
         AIArtHandle** matches = nullptr;
         ai::int32 count = 0;
         matching.GetSelectedArt(&matches, &count);
         memory.MdMemoryDisposeHandle(matches);
         return memory.MdMemoryDisposeHandle(matches);
     }},
    {"get-nth-menu-group past the last group", "bad-parameter", kBadParameterErr,
     [](World& w) {
         ai::int32 count = 0;
         AIMenuGroup group = nullptr;
         w.menu().CountMenuGroups(&count);
         return w.menu().GetNthMenuGroup(count, &group);
     }},
    {"add-menu-item (1007) with no item text", "bad-parameter", kBadParameterErr,
     [](World& w) {
         AIPlatformAddMenuItemData record{"SelectObject", nullptr};
         AIMenuItemHandle item = nullptr;
         return w.menu1007().AddMenuItem(w.host.pluginRef(w.a), "item", &record, 0, &item);
     }},
    {"add-menu-item (1008) with a text never initialised", "string-not-initialised", kBadParameterErr,
     [](World& w) {
         AIPlatformAddMenuItemDataUS record;
         record.groupName = "SelectObject";
         AIMenuItemHandle item = nullptr;
         return w.menu().AddMenuItem(w.host.pluginRef(w.a), "item", &record, 0, &item);
     }},
    {"add-menu-item during a later message", "menu-after-startup", kBadParameterErr,
     [](World& w) { w.host.startup(w.a); return w.during(w.a, [&] { return w.addItem(); }); }},
    {"add-menu-item after startup, outside any message", "menu-after-startup", kBadParameterErr,
     [](World& w) { w.host.startup(w.a); return w.addItem(); }},
    {"add-menu-group-as-submenu after startup", "menu-after-startup", kBadParameterErr,
     [](World& w) {
         gDuringMessage = [&] { return w.addItem(); };  // an item of its own, during "Startup"
         w.host.startup(w.a);
         AIMenuGroup group = nullptr;
         return w.during(w.a, [&] { return w.menu().AddMenuGroupAsSubMenu("Late group", 0, w.lastItem, &group); });
     }},
    {"get-index-string naming another plug-in", "foreign-plugin", kBadParameterErr,
     [](World& w) {
         const auto& basic = suite<ADMBasicSuite>(w.host, kADMBasicSuite, kADMBasicSuiteVersion);
         char text[16] = {};
         return w.during(w.a, [&] { return basic.GetIndexString(w.host.pluginRef(w.b), 1, 1, text, 16); });
     }},
    {"set-plugin-name naming another plug-in", "foreign-plugin", kBadParameterErr,
     [](World& w) {
         const auto& plugins = suite<SPPluginsSuite>(w.host, kSPPluginsSuite, kSPPluginsSuiteVersion);
         return w.during(w.a, [&] { return plugins.SetPluginName(w.host.pluginRef(w.b), "taken"); });
     }},
    {"initialize over a string still held", "string-already-initialised", kBadParameterErr,
     [](World& w) {
         ai::UnicodeString text;
         w.strings().Initialize(&text, "first", 5, 0);
         const AIUnicodeStringHandle first = text.handle();
         const ASErr err = w.strings().Initialize(&text, "second", 6, 0);
         if (text.handle() != first) return kNoErr;  // the first string was lost
         w.strings().Destroy(&text);
         return err;
     }},
    {"destroy twice", "string-not-initialised", kBadParameterErr,
     [](World& w) {
         ai::UnicodeString text;
         w.strings().Initialize(&text, "once", 4, 0);
         w.strings().Destroy(&text);
         const std::size_t before = w.host.ledger().violations().size();
         w.strings().Destroy(&text);
         return refusedWhen(w.host.ledger().violations().size() > before);
     }},
    {"copy from a string never initialised", "string-not-initialised", kBadParameterErr,
     [](World& w) {
         ai::UnicodeString empty;
         ai::UnicodeString dest;
         const ASErr err = w.strings().Copy(&dest, &empty);
         if (dest.handle() != nullptr) w.strings().Destroy(&dest);
         return err;
     }},
    {"default-notify with a notifier kept from an earlier press", "stale-notifier", kBadParameterErr,
     [](World& w) {
         gScene = DialogScene{};
         gScene.world = &w;
         w.modal(2, [](ADMDialogRef d) { gScene.world->onOk(d, closeOnOk); return kNoErr; });
         w.modal(1, [](ADMDialogRef d) -> ASErr {
             World& world = *gScene.world;
             gScene.outer = d;
             world.items().DefaultNotify(world.dialogs().GetItem(d, 1), gScene.keptNotifier);
             gScene.outerStillOpen = outerOpen(world);
             return kNoErr;
         });
         return refusedWhen(gScene.outerStillOpen);
     }},
    {"default-notify on an item of another dialog", "foreign-item", kBadParameterErr,
     [](World& w) {
         nestedDialogs(w, [](World& world, ADMItemRef, ADMNotifierRef notifier) {
             world.items().DefaultNotify(gScene.outerOk, notifier);
             gScene.outerStillOpen = outerOpen(world);
         });
         return refusedWhen(gScene.outerStillOpen);
     }},
    {"an OK procedure that leaves its dialog open", "dialog-left-open", 1,
     [](World& w) {
         return w.modal(1, [](ADMDialogRef d) {
             gScene.world->onOk(d, [](ADMItemRef, ADMNotifierRef) {});
             return kNoErr;
         });
     }},
};

TEST(HostStrict, EachBrokenRuleIsRefusedAndRecordedUnderItsName) {
    for (const Row& row : kRows) {
        SCOPED_TRACE(row.place);
        World w;
        gScene.world = &w;
        EXPECT_EQ(row.drive(w), row.expected);
        std::vector<std::string> rules;
        for (const Violation& v : w.host.ledger().violations()) rules.push_back(v.rule);
        EXPECT_THAT(rules, ElementsAre(row.rule));
        if (row.detail != nullptr && !w.host.ledger().violations().empty()) {
            EXPECT_THAT(w.host.ledger().violations()[0].detail, ::testing::HasSubstr(row.detail));
        }
    }
}

// Each logged call carries its suite, operation, handle and text as fields,
// filled where the call is made.
TEST(CallRecordSubject, LoggedCallsNameTheirSuiteOperationHandleAndText) {
    World w;
    const auto& items = w.items();
    const auto& strings = w.strings();
    const auto& plugins = suite<SPPluginsSuite>(w.host, kSPPluginsSuite, kSPPluginsSuiteVersion);
    const auto bogusItem = reinterpret_cast<ADMItemRef>(std::uintptr_t{0x70});
    ai::UnicodeString text;
    struct Case {
        Op op;
        std::function<void()> call;
        const void* handle;
        std::string text;
    };
    const Case cases[] = {
        {Op::AcquireSuite, [&] { w.menu(); }, nullptr, kAIMenuSuite},
        {Op::SetText, [&] { items.SetText(bogusItem, "typed"); }, bogusItem, "typed"},
        {Op::SetPluginName, [&] { plugins.SetPluginName(w.host.pluginRef(w.a), "Named"); },
         w.host.pluginRef(w.a), "Named"},
        // The text is read only up to the length the call gives.
        {Op::StringInitialize, [&] { strings.Initialize(&text, "abcdef", 3, 0); }, &text, "abc"},
        {Op::StringDestroy, [&] { strings.Destroy(&text); }, &text, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(opInfo(c.op).label);
        w.host.gate().clearLog();
        w.host.gate().setLogging(true);
        c.call();
        w.host.gate().setLogging(false);
        ASSERT_EQ(w.host.gate().log().size(), 1u);
        const CallRecord& record = w.host.gate().log().front();
        EXPECT_EQ(record.op, c.op);
        EXPECT_STREQ(record.suite, opInfo(c.op).suite);
        EXPECT_STREQ(record.operation, opInfo(c.op).label);
        EXPECT_EQ(record.handle, c.handle);
        EXPECT_EQ(record.text, c.text);
    }
}

}  // namespace
