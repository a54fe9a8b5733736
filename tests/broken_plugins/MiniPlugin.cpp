// A tiny plug-in of this host interface, correct as far as the validator
// can see, and built once per defect with one BROKEN_* macro set: each copy
// breaks one rule (one breaks two, to show that a crash early in a message
// does not hide a later flaw), so that `simhost validate` can be shown to
// catch it. Some break their rule's bound exactly once (one string leaked,
// one error dialog shown twice, one refused table called), so that a check
// loosened by one lets them pass. Test-only; never shipped.
//
// It holds eight suites per message with a nesting count, allocates a
// globals block at "Startup", adds one menu item whose command selects the
// document's paths (and, like an About helper, acquires the 1008 menu suite
// on its own there), shows an About dialog and reports errors in the error
// dialog, like the shipped plug-in does.
#include <cstring>
#include <stdexcept>

#include "ADMSuites.h"
#include "AISuites.h"
#include "SPSuites.h"

namespace {

struct Row {
    const char* name;
    ai::int32 version;
    const void* table;
    bool granted;
};

Row rows[] = {
    {kSPPluginsSuite, kSPPluginsSuiteVersion, nullptr, false},
    {kAIMdMemorySuite, kAIMdMemorySuiteVersion, nullptr, false},
    {kAIArtSuite, kAIArtSuiteVersion, nullptr, false},
    {kAIMatchingArtSuite, kAIMatchingArtSuiteVersion, nullptr, false},
    {kAIMenuSuite, kAIMenuSuiteVersion1007, nullptr, false},
    {kADMBasicSuite, kADMBasicSuiteVersion, nullptr, false},
    {kADMDialogSuite, kADMDialogSuiteVersion, nullptr, false},
    {kADMItemSuite, kADMItemSuiteVersion, nullptr, false},
};
enum { kPlugs, kMemory, kArt, kMatch, kMenu, kBasic, kDialog, kItem };

template <typename Suite>
const Suite* suite(int row) {
    return static_cast<const Suite*>(rows[row].table);
}

struct Globals {
    AIMenuItemHandle item;
};

SPBasicSuite* basic = nullptr;
Globals* g = nullptr;
int depth = 0;
bool afterAbout = false;  // the message before this one was "About"
bool thisIsAbout = false;
#ifdef BROKEN_USE_AFTER_RELEASE
const AIArtSuite* keptArt = nullptr;
#endif

#ifdef BROKEN_REUSES_AFTER_REFUSED_RELEASE
bool keptTables = false;  // a release was refused: the tables are "still good"
#endif

#ifdef BROKEN_USES_REFUSED_TABLE
const void* artBefore = nullptr;  // the art table an earlier message was granted
bool usedRefused = false;
#endif

ASErr acquire() {
    if (depth++ > 0) return kNoErr;
#ifdef BROKEN_REUSES_AFTER_REFUSED_RELEASE
    if (keptTables) {
        keptTables = false;
        return kNoErr;
    }
#endif
    ASErr first = kNoErr;
    int refusals = 0;
    for (Row& row : rows) {
        ASErr err = basic->AcquireSuite(row.name, row.version, &row.table);
        // A grant is a hold to give back, even one that came without a table.
        row.granted = err == kNoErr;
        if (err == kNoErr && row.table == nullptr) {
#ifdef BROKEN_KEEPS_NULL_TABLE
            row.granted = false;
#endif
            err = kSuiteNotFoundErr;
        }
        if (err != kNoErr) {
            row.table = nullptr;
            ++refusals;
        }
#ifdef BROKEN_USES_REFUSED_TABLE
        // Once: the art suite is refused (a null table too), and the table of the message before "will do".
        if (&row == &rows[kArt] && err == kNoErr) artBefore = row.table;
        if (&row == &rows[kArt] && err != kNoErr && artBefore != nullptr && !usedRefused) {
            usedRefused = true;
            AIArtType type = 0;
            static_cast<const AIArtSuite*>(artBefore)->GetArtType(nullptr, &type);
        }
#endif
        if (first == kNoErr) first = err;
    }
#ifdef BROKEN_INVENTS_CODE
    if (refusals > 1) return FourCC("MANY");
#endif
#ifdef BROKEN_IGNORES_REFUSAL
    return kNoErr;
#else
    return first;
#endif
}

void release() {
    if (--depth > 0) return;
#ifdef BROKEN_NEVER_RELEASES
    return;
#endif
    for (Row& row : rows) {
        // A refused release is not tried again: the hold is the host's now.
        if (row.granted && basic->ReleaseSuite(row.name, row.version) != kNoErr) {
#ifdef BROKEN_REUSES_AFTER_REFUSED_RELEASE
            keptTables = true;
#endif
            break;
        }
#ifdef BROKEN_RELEASES_TWICE
        if (row.granted && &row == &rows[kArt]) basic->ReleaseSuite(row.name, row.version);
#endif
        row.granted = false;
        row.table = nullptr;
    }
}

bool reported(ASErr code) {
#ifdef BROKEN_REPORTS_EVERY_CODE
    return code != kNoErr;
#else
    return code != kNoErr && code != 1 && code != kAlreadyReportedErr && code != kCanceledErr;
#endif
}

struct ErrorText {
    char message[256];
    char code[16];
};

void okPressed(ADMItemRef item, ADMNotifierRef notifier) {
    suite<ADMItemSuite>(kItem)->DefaultNotify(item, notifier);
}

// Every dialog's OK item (item 1) hands its press to the host's default handling.
ASErr okInit(ADMDialogRef dialog) {
    const auto* items = suite<ADMItemSuite>(kItem);
    if (items == nullptr) return kNoErr;
#ifndef BROKEN_NO_NOTIFY_PROC
    items->SetNotifyProc(suite<ADMDialogSuite>(kDialog)->GetItem(dialog, 1), okPressed);
#else
    (void)dialog;
    (void)&okPressed;
#endif
    return kNoErr;
}

ASErr errorInit(ADMDialogRef dialog) {
    const auto* dialogs = suite<ADMDialogSuite>(kDialog);
    const auto* items = suite<ADMItemSuite>(kItem);
    if (items == nullptr) return kNoErr;
    okInit(dialog);
    const auto* text = static_cast<const ErrorText*>(dialogs->GetUserData(dialog));
    if (text == nullptr) return kNoErr;
    items->SetText(dialogs->GetItem(dialog, 2), text->message);
    items->SetText(dialogs->GetItem(dialog, 3), text->code);
    return kNoErr;
}

void codeText(ASErr code, char* out) {
    const auto u = static_cast<std::uint32_t>(code);
    const ASErr high = code >> 16;
    bool printable = high != 0 && high != -1;
    for (int shift = 24; shift >= 0; shift -= 8) {
        const unsigned char c = static_cast<unsigned char>(u >> shift);
        printable = printable && c >= 0x20 && c < 0x7F;
    }
    if (printable) {
        for (int i = 0; i < 4; ++i) out[i] = static_cast<char>(u >> (24 - 8 * i));
        out[4] = 0;
        return;
    }
    // Decimal, written by hand to stay free of the C library's formatting.
    char digits[16];
    int n = 0;
    std::int64_t v = code < 0 ? -static_cast<std::int64_t>(code) : code;
    do {
        digits[n++] = static_cast<char>('0' + v % 10);
        v /= 10;
    } while (v != 0);
    int at = 0;
    if (code < 0) out[at++] = '-';
    while (n > 0) out[at++] = digits[--n];
    out[at] = 0;
}

void report(SPPluginRef self, ASErr code) {
#ifdef BROKEN_NEVER_REPORTS
    return;
#endif
    if (!reported(code)) return;
    const auto* strings = suite<ADMBasicSuite>(kBasic);
    const auto* dialogs = suite<ADMDialogSuite>(kDialog);
    if (strings == nullptr || dialogs == nullptr) return;
    ErrorText text;
    std::memset(&text, 0, sizeof text);
#ifdef BROKEN_UNBOUNDED_ERROR_SCAN
    // Looks for the end of the list and trusts every read to find one.
    char entry[256] = "x";
    for (ai::int32 index = 1; entry[0] != 0; index += 2)
        strings->GetIndexString(self, 16050, index, entry, sizeof entry);
#endif
    if (strings->GetIndexString(self, 16050, 2, text.message, sizeof text.message) != kNoErr) return;
    codeText(code, text.code);
    dialogs->Modal(self, "Error Dialog", 16051, kADMModalDialogStyle, errorInit, &text, 0);
#ifdef BROKEN_REPORTS_TWICE
    // The same code shown a second time, as a caller that reports again would.
    dialogs->Modal(self, "Error Dialog", 16051, kADMModalDialogStyle, errorInit, &text, 0);
#endif
}

ASErr selectPaths() {
    const auto* match = suite<AIMatchingArtSuite>(kMatch);
    const auto* art = suite<AIArtSuite>(kArt);
    const auto* memory = suite<AIMdMemorySuite>(kMemory);
    MatchRecord record;
    std::memset(&record, 0, sizeof record);
    record.type = kPathArt;
    AIArtHandle** found = nullptr;
    ai::int32 count = 0;
    ASErr err = match->GetMatchingArt(&record, 1, &found, &count);
    if (err != kNoErr) {
        if (found != nullptr) memory->MdMemoryDisposeHandle(found);
#ifdef BROKEN_OWN_CODE
        return FourCC("OOPS");
#else
        return err;
#endif
    }
    for (ai::int32 i = 0; found != nullptr && i < count; ++i) {
        AILayerHandle layer = nullptr;
        err = art->GetArtLayer((*found)[i], &layer);
        if (err != kNoErr) break;
#ifdef BROKEN_NULL_LAYER
        // Takes the layer for granted.
        if (layer == nullptr) *reinterpret_cast<volatile int*>(layer) = 1;
#endif
        if (layer == nullptr) break;
        ai::int32 attr = 0;
        err = art->GetArtUserAttr((*found)[i], kArtLocked | kArtHidden, &attr);
        if (err != kNoErr) break;
        if (attr != 0) continue;
#ifdef BROKEN_TOUCHES_DOCUMENT
        art->SetArtUserAttr((*found)[i], kArtSelected | kArtLocked, kArtSelected | kArtLocked);
#else
        art->SetArtUserAttr((*found)[i], kArtSelected, kArtSelected);
#endif
#ifdef BROKEN_RESERVED_SLOT
        reinterpret_cast<const SPReservedProc*>(art)[0]();
#endif
    }
#ifndef BROKEN_SKIPS_DISPOSE
    if (found != nullptr) memory->MdMemoryDisposeHandle(found);
#endif
    return err;
}

// Like an About helper: acquires the 1008 menu suite on its own, for one call.
ASErr countMenuGroups() {
    const void* table = nullptr;
    ASErr err = basic->AcquireSuite(kAIMenuSuite, kAIMenuSuiteVersion, &table);
    if (err != kNoErr) return err;
    const auto* menus = static_cast<const AIMenuSuite*>(table);
    ai::int32 count = 0;
#ifndef BROKEN_HELPER_USES_NULL_TABLE
    // Granted without a table: nothing to count, and the hold given back all the same.
    if (menus != nullptr)
#endif
        err = menus->CountMenuGroups(&count);
#ifdef BROKEN_CRASHES_THEN_LEAKS
    // A failed count returns without giving the hold back. The count comes
    // after the allocation that crashes "Startup", so only a sweep that goes
    // on past that crash finds this leak.
    if (err != kNoErr) return err;
#endif
    basic->ReleaseSuite(kAIMenuSuite, kAIMenuSuiteVersion);
    return err;
}

ASErr startup(SPMessageData* head) {
    if (g == nullptr) {
        void* block = nullptr;
        const ASErr err = basic->AllocateBlock(sizeof(Globals), &block);
#ifdef BROKEN_CRASHES_THEN_LEAKS
        // Takes the block for granted: a refused allocation is written through.
        if (err != kNoErr) *static_cast<volatile char*>(block) = 0;
#endif
        if (err != kNoErr) return err;
        std::memset(block, 0, sizeof(Globals));
        g = static_cast<Globals*>(block);
    }
    ASErr err = suite<SPPluginsSuite>(kPlugs)->SetPluginName(head->self, "Mini");
    if (err != kNoErr) return err;
    static unsigned char text[] = "\x0bMini Select";
    AIPlatformAddMenuItemData item{"SelectObject", text};
    err = suite<AIMenuSuite1007>(kMenu)->AddMenuItem(head->self, "MiniSelect", &item, 0, &g->item);
    if (err != kNoErr) return err;
    return countMenuGroups();
}

#ifdef BROKEN_LEAKS_STRING
// The About dialog's name made once as a host string, and never destroyed.
void leakOneString() {
    static bool leaked = false;
    const void* table = nullptr;
    if (leaked || basic->AcquireSuite(kAIUnicodeStringSuite, kAIUnicodeStringSuiteVersion, &table) != kNoErr) return;
    leaked = true;
    // The object's only field is the host's handle.
    AIUnicodeStringHandle handle = nullptr;
    if (table != nullptr)
        static_cast<const AIUnicodeStringSuite*>(table)->Initialize(reinterpret_cast<ai::UnicodeString*>(&handle),
                                                                    "Mini", 4, 0);
    basic->ReleaseSuite(kAIUnicodeStringSuite, kAIUnicodeStringSuiteVersion);
}
#endif

ASErr about(SPMessageData* head) {
#ifdef BROKEN_LEAKS_STRING
    leakOneString();
#endif
#ifdef BROKEN_HANGS
    for (volatile unsigned spin = 0;; spin = spin + 1u) {  // unsigned: wraps, never overflows
    }
#endif
    return suite<ADMDialogSuite>(kDialog)->Modal(head->self, "About Dialog", 16050, kADMModalDialogStyle, okInit,
                                                 nullptr, 0);
}

ASErr dispatch(const char* caller, const char* selector, void* message) {
    auto* head = static_cast<SPMessageData*>(message);
#ifdef BROKEN_IGNORES_REFUSAL
    // Says nothing of the refusal, but does not call through a missing table.
    for (const Row& row : rows)
        if (row.table == nullptr) return kNoErr;
#endif
    if (basic->IsEqual(caller, kSPInterfaceCaller)) {
        if (basic->IsEqual(selector, kSPInterfaceStartupSelector)) return startup(head);
        if (basic->IsEqual(selector, kSPInterfaceAboutSelector)) {
            about(head);
            thisIsAbout = true;
            return kNoErr;
        }
        if (basic->IsEqual(selector, kSPInterfaceShutdownSelector)) {
#ifndef BROKEN_LEAKS_BLOCK
            if (g != nullptr) basic->FreeBlock(g);
#endif
            g = nullptr;
            head->globals = nullptr;
        }
        return kNoErr;
    }
    if (!basic->IsEqual(caller, kCallerAIMenu)) return kNoErr;
    auto* menu = static_cast<AIMenuMessage*>(message);
    if (basic->IsEqual(selector, kSelectorAIGoMenuItem)) {
#ifdef BROKEN_THROWS
        throw std::runtime_error("a command that throws");
#endif
        if (g != nullptr && menu->menuItem == g->item && g->item != nullptr) return selectPaths();
        return kNoErr;
    }
    if (basic->IsEqual(selector, kSelectorAIUpdateMenuItem)) {
#ifdef BROKEN_AFTER_ABOUT
        // Only "About" straight before "AI Update" shows this: a block lost.
        if (afterAbout) {
            void* lost = nullptr;
            basic->AllocateBlock(16, &lost);
        }
#endif
    }
    return kNoErr;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) ASErr PluginMain(const char* caller, const char* selector,
                                                                     void* message) {
    auto* head = static_cast<SPMessageData*>(message);
    basic = head->basic;
    afterAbout = thisIsAbout;
    thisIsAbout = false;
    if (basic->IsEqual(caller, kSPAccessCaller)) {
        if (basic->IsEqual(selector, kSPAccessUnloadSelector)) head->globals = g;
        if (basic->IsEqual(selector, kSPAccessReloadSelector)) {
            g = static_cast<Globals*>(head->globals);
            depth = 0;
        }
#ifdef BROKEN_USE_AFTER_RELEASE
        // Calls through a table it kept from an earlier message.
        if (keptArt != nullptr) {
            AIArtType type = 0;
            keptArt->GetArtType(nullptr, &type);
        }
#endif
        return kNoErr;
    }
    ASErr result = acquire();
    if (result == kNoErr) result = dispatch(caller, selector, message);
#ifdef BROKEN_USE_AFTER_RELEASE
    keptArt = suite<AIArtSuite>(kArt);
#endif
    report(head->self, result);
    release();
    return result;
}

#ifdef BROKEN_EXTRA_EXPORT
extern "C" __attribute__((visibility("default"))) int MiniPluginVersion() {
    return 1;
}
#endif
