// The plug-in shell: the entry point, the table of suites the plug-in
// imports, and their counted acquisition.
//
// This header declares every suite pointer of the plug-in in one place;
// shellMain.cpp defines them and is the only code that sets them.
#pragma once

#include "ADMSuites.h"
#include "AISuites.h"
#include "IAIUnicodeString.h"
#include "SPSuites.h"

// Laid out by the plug-in (see pluginHooks.h); opaque to the shell.
struct PluginGlobals;

// Set from every message before anything else.
extern SPBasicSuite* sSPBasic;

// Held from the outermost acquireSuites to the matching releaseSuites; null
// otherwise.
extern const SPBlocksSuite* sSPBlocks;
extern const SPPluginsSuite* sSPPlugs;
extern const SPAccessSuite* sSPAccess;
extern const AIMdMemorySuite* sAIMDMemory;
extern const AIArtSuite* sAIArt;
extern const AIUserSuite* sAIUser;
extern const AIMatchingArtSuite* sAIMatch;
extern const AIPathSuite* sAIPath;
extern const AIPathStyleSuite* sAIPathStyle;
extern const AILayerSuite* sLayer;
extern const AIPluginGroupSuite* sAIPluginGroup;
extern const AIMenuSuite1007* sMenu;
extern const ADMBasicSuite* sADMBasic;
extern const ADMDialogSuite* sADMDialog;
extern const ADMItemSuite* sADMItem;
extern const ADMIconSuite* sADMIcon;
// sAIUnicodeString is declared with the string wrappers that use it.

// The globals block: allocated at "Startup", freed at "Shutdown", handed to
// the host across "Unload" and "Reload". Null outside that span.
extern PluginGlobals* g;

// Outstanding acquireSuites calls not yet matched by releaseSuites.
extern ai::int16 gAcquireCount;

// One row of the import table: which suite, at which version, into which
// global.
struct SuiteImport {
    const char* name;
    ai::int32 version;
    const void** suite;
};
constexpr int kSuiteImportCount = 17;
extern const SuiteImport imports[kSuiteImportCount];

// Acquires every suite of the table when no acquisition is outstanding;
// nested calls only count. Returns the first code the host refused a row
// with (0 when every row was granted), so that no handler runs with a suite
// the host did not grant. Must be matched by releaseSuites, also on failure.
ASErr acquireSuites(SPBasicSuite* basic);
// Gives back, when the outermost acquisition ends, exactly the suites that
// acquisition was granted. Stops at the first refused release and returns
// its code; that row and the later rows keep their pointers.
ASErr releaseSuites(SPBasicSuite* basic);

// Holds the suite table for one scope: acquireSuites when made,
// releaseSuites when the scope ends, however it ends (a return, a failure,
// an exception). Inside a message the hold is nested in PluginMain's, so
// its release only lowers the count.
class ScopedSuites {
public:
    explicit ScopedSuites(SPBasicSuite* basic) : fBasic(basic), fResult(acquireSuites(basic)) {}
    ~ScopedSuites();
    ScopedSuites(const ScopedSuites&) = delete;
    ScopedSuites& operator=(const ScopedSuites&) = delete;

    // What the acquisition returned: 0, or the first code a row was refused with.
    ASErr result() const { return fResult; }

private:
    SPBasicSuite* fBasic;
    ASErr fResult;
};

// The plug-in's own code for an exception that is neither ai::Error nor
// std::bad_alloc, caught at the entry point.
constexpr ASErr kUnexpectedExceptionErr = FourCC("XCPT");

// Whether the entry point reports `code` to the user.
constexpr bool isReportedCode(ASErr code) {
    return code != kNoErr && code != 1 && code != kAlreadyReportedErr;
}

extern "C" ASErr PluginMain(const char* caller, const char* selector, void* message);
