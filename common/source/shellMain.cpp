#include "shellMain.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "About.h"
#include "pluginHooks.h"
#include "reportError.h"

SPBasicSuite* sSPBasic = nullptr;

const SPBlocksSuite* sSPBlocks = nullptr;
const SPPluginsSuite* sSPPlugs = nullptr;
const SPAccessSuite* sSPAccess = nullptr;
const AIMdMemorySuite* sAIMDMemory = nullptr;
const AIArtSuite* sAIArt = nullptr;
const AIUserSuite* sAIUser = nullptr;
const AIMatchingArtSuite* sAIMatch = nullptr;
const AIPathSuite* sAIPath = nullptr;
const AIPathStyleSuite* sAIPathStyle = nullptr;
const AILayerSuite* sLayer = nullptr;
const AIPluginGroupSuite* sAIPluginGroup = nullptr;
const AIMenuSuite1007* sMenu = nullptr;
const ADMBasicSuite* sADMBasic = nullptr;
const ADMDialogSuite* sADMDialog = nullptr;
const ADMItemSuite* sADMItem = nullptr;
const ADMIconSuite* sADMIcon = nullptr;
const AIUnicodeStringSuite* sAIUnicodeString = nullptr;

PluginGlobals* g = nullptr;
ai::int16 gAcquireCount = 0;

namespace {
template <typename Suite>
const void** slot(const Suite** pointer) {
    return reinterpret_cast<const void**>(pointer);
}
}  // namespace

// The ADM Basic suite comes at row 12: a refusal before it cannot be shown.
const SuiteImport imports[kSuiteImportCount] = {
    {kSPBlocksSuite, kSPBlocksSuiteVersion, slot(&sSPBlocks)},
    {kSPPluginsSuite, kSPPluginsSuiteVersion, slot(&sSPPlugs)},
    {kSPAccessSuite, kSPAccessSuiteVersion, slot(&sSPAccess)},
    {kAIMdMemorySuite, kAIMdMemorySuiteVersion, slot(&sAIMDMemory)},
    {kAIArtSuite, kAIArtSuiteVersion, slot(&sAIArt)},
    {kAIUserSuite, kAIUserSuiteVersion, slot(&sAIUser)},
    {kAIMatchingArtSuite, kAIMatchingArtSuiteVersion, slot(&sAIMatch)},
    {kAIPathSuite, kAIPathSuiteVersion, slot(&sAIPath)},
    {kAIPathStyleSuite, kAIPathStyleSuiteVersion, slot(&sAIPathStyle)},
    {kAILayerSuite, kAILayerSuiteVersion, slot(&sLayer)},
    {kAIPluginGroupSuite, kAIPluginGroupSuiteVersion, slot(&sAIPluginGroup)},
    {kAIMenuSuite, kAIMenuSuiteVersion1007, slot(&sMenu)},
    {kADMBasicSuite, kADMBasicSuiteVersion, slot(&sADMBasic)},
    {kADMDialogSuite, kADMDialogSuiteVersion, slot(&sADMDialog)},
    {kADMItemSuite, kADMItemSuiteVersion, slot(&sADMItem)},
    {kADMIconSuite, kADMIconSuiteVersion, slot(&sADMIcon)},
    {kAIUnicodeStringSuite, kAIUnicodeStringSuiteVersion, slot(&sAIUnicodeString)},
};

namespace {

// Which rows the outermost acquisition was granted, so the release gives back
// exactly those: releasing a suite that was never granted would take a hold
// away from whoever else holds it.
bool sGranted[kSuiteImportCount] = {};

void alertRefusedSuite(ASErr code, const SuiteImport& row) {
    char text[256];
    std::snprintf(text, sizeof text, "Error: %d, suite: %s, version: %d!", static_cast<int>(code),
                  row.name, static_cast<int>(row.version));
    sADMBasic->ErrorAlert(text);
}

}  // namespace

ASErr acquireSuites(SPBasicSuite* basic) {
    ASErr result = kNoErr;
    if (gAcquireCount == 0) {
        // A fresh acquisition: rows a refused release kept are the host's
        // now, not ours to give back, and their tables not ours to call
        // (the refusal alert below must not reach a kept ADM Basic table).
        for (int i = 0; i < kSuiteImportCount; ++i) {
            sGranted[i] = false;
            if (imports[i].suite != nullptr) *imports[i].suite = nullptr;
        }
        for (int i = 0; i < kSuiteImportCount; ++i) {
            const SuiteImport& row = imports[i];
            if (row.suite == nullptr) continue;
            ASErr err = basic->AcquireSuite(row.name, row.version, row.suite);
            // A grant is a hold that must be given back, whatever table came with it.
            sGranted[i] = (err == kNoErr);
            if (err == kNoErr && *row.suite == nullptr) err = kSuiteNotFoundErr;
            if (err == kNoErr) continue;
            // Never keep what a refusing host may have left in the pointer.
            if (!sGranted[i]) *row.suite = nullptr;
            if (result == kNoErr) result = err;
            if (sADMBasic != nullptr) {
                alertRefusedSuite(err, row);
                break;
            }
        }
    }
    ++gAcquireCount;
    return result;
}

ASErr releaseSuites(SPBasicSuite* basic) {
    ASErr result = kNoErr;
    if (gAcquireCount == 1) {
        for (int i = 0; i < kSuiteImportCount; ++i) {
            const SuiteImport& row = imports[i];
            if (row.suite == nullptr) continue;
            if (sGranted[i]) {
                const ASErr err = basic->ReleaseSuite(row.name, row.version);
                if (err != kNoErr) {
                    result = err;
                    break;
                }
                sGranted[i] = false;
            }
            *row.suite = nullptr;
        }
    }
    --gAcquireCount;
    return result;
}

ScopedSuites::~ScopedSuites() {
    try {
        releaseSuites(fBasic);
    } catch (...) {
        // Only an outermost hold calls the host's release. One that throws
        // keeps what it did not take back, as at the entry point.
    }
}

namespace {

bool isEqual(const char* token, const char* name) {
    return sSPBasic->IsEqual(token, name) != 0;
}

// Runs a handler and turns whatever it throws into a host code: nothing may
// unwind into the host.
template <typename Handler>
ASErr guarded(Handler&& handler) {
    try {
        return handler();
    } catch (const ai::Error& e) {
        return e.code();
    } catch (const std::bad_alloc&) {
        return kOutOfMemoryErr;
    } catch (...) {
        return kUnexpectedExceptionErr;
    }
}

ASErr handleAccess(const char* selector, SPAccessMessage* message) {
    if (isEqual(selector, kSPAccessUnloadSelector)) {
        if (message->d.globals != nullptr) unloadPluginSuiteFunctions(message);
        message->d.globals = g;
        return kNoErr;
    }
    if (isEqual(selector, kSPAccessReloadSelector)) {
        const ASErr result =
            message->d.globals != nullptr ? reloadPluginSuiteFunctions(message) : kNoErr;
        g = static_cast<PluginGlobals*>(message->d.globals);
        gAcquireCount = 0;
        return result;
    }
    return kNoErr;
}

ASErr startup(SPInterfaceMessage* message) {
    // A second "Startup" keeps the block it already has rather than losing it.
    if (g == nullptr) {
        void* block = nullptr;
        const ASErr err = sSPBasic->AllocateBlock(kPluginGlobalsSize, &block);
        if (err != kNoErr) return err;
        if (block == nullptr) return kOutOfMemoryErr;
        std::memset(block, 0, kPluginGlobalsSize);
        g = static_cast<PluginGlobals*>(block);
    }
    return pluginStartup(message);
}

ASErr shutdown(SPInterfaceMessage* message) {
    pluginShutdown(message);
    if (g != nullptr) sSPBasic->FreeBlock(g);
    g = nullptr;
    message->d.globals = nullptr;
    return kNoErr;
}

ASErr dispatch(const char* caller, const char* selector, void* message) {
    auto* interfaceMessage = static_cast<SPInterfaceMessage*>(message);
    if (!isEqual(caller, kSPInterfaceCaller))
        return handlePluginCaller(caller, selector, message);
    if (isEqual(selector, kSPInterfaceStartupSelector)) return startup(interfaceMessage);
    if (isEqual(selector, kSPInterfaceAboutSelector)) {
        goAbout(interfaceMessage);
        return kNoErr;
    }
    if (isEqual(selector, kSPInterfaceShutdownSelector)) return shutdown(interfaceMessage);
    return kNoErr;
}

// Releases the message's acquisition after a host call threw, wherever it
// threw: the count is set as if the acquisition had completed.
void releaseAfterThrow(ai::int16 entry) {
    gAcquireCount = static_cast<ai::int16>(entry + 1);
    try {
        releaseSuites(sSPBasic);
    } catch (...) {
        // The host threw from its own release: what it kept, it keeps.
    }
}

}  // namespace

// PluginMain: the host calls this for every message, on its own thread, with
// a caller and a selector token and the message record they imply. Access
// messages ("SP Access") only move the globals block between the plug-in and
// the host's globals word and run with no suite held. Every other message
// runs between one acquisition and one release of the whole suite table;
// a code the handler ends with is shown to the user unless it is one the host
// has already explained, and is returned to the host. Nothing may escape
// this function: no exception, and no suite or block left held because a
// handler failed.
extern "C" __attribute__((visibility("default"))) ASErr PluginMain(const char* caller,
                                                                     const char* selector,
                                                                     void* message) {
    if (message == nullptr) return kBadParameterErr;
    auto* head = static_cast<SPMessageData*>(message);
    sSPBasic = head->basic;
    if (sSPBasic == nullptr) return kBadParameterErr;

    const ai::int16 entry = gAcquireCount;
    bool acquiring = false;
    try {
        if (isEqual(caller, kSPAccessCaller))
            return handleAccess(selector, static_cast<SPAccessMessage*>(message));

        acquiring = true;
        ASErr result = acquireSuites(sSPBasic);
        const ai::int16 depth = gAcquireCount;
        if (result == kNoErr)
            result = guarded([&] { return dispatch(caller, selector, message); });
        // A handler that threw may have skipped the release of a nested
        // acquisition; the count must still come back to where it was.
        gAcquireCount = depth;
        if (isReportedCode(result))
            report_error(static_cast<SPInterfaceMessage*>(message), result);
        releaseSuites(sSPBasic);
        return result;
    } catch (...) {
        // A host call threw in the acquisition, the report or the release:
        // give back what was granted, as the handler path does, and leave
        // the count where the message found it.
        if (acquiring) releaseAfterThrow(entry);
        gAcquireCount = entry;
        return kUnexpectedExceptionErr;
    }
}
