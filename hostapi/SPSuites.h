// The plug-in-management layer of the host: the basic suite that comes with
// every message, the message records, and the suites for naming a plug-in.
#pragma once

#include "HostTypes.h"

// ---------------------------------------------------------------------------
// SPBasicSuite: given in every message record; never acquired. The table is
// the host's and stays valid for the plug-in's whole life.
//
// Suite holds are counted per name and version: each grant is one hold and
// one ReleaseSuite gives one back. A granted table is the host's and stays at
// one address while any hold on its suite lasts; after the last hold is given
// back, a call through it is a breach of the interface (the host may trap
// it), and so is a call through a slot the interface reserves.
// ---------------------------------------------------------------------------
struct SPBasicSuite {
    // 0. Grants the suite `name` at `version` and writes its table to *suite.
    // Fails with kSuiteNotFoundErr when no such suite is served, or with any
    // other host code; *suite is then left as it was or set to null, and no
    // hold is taken.
    ASErr (*AcquireSuite)(const char* name, ai::int32 version, const void** suite);
    // 1. Gives back one hold. Fails with kSuiteNotHeldErr when the suite is not
    // held; on any failure the hold stays with the caller.
    ASErr (*ReleaseSuite)(const char* name, ai::int32 version);
    // 2. Whether two tokens (caller or selector strings) are equal. Returns a
    // boolean, never an error code: a failure reads as "not equal".
    ASBoolean (*IsEqual)(const char* token1, const char* token2);
    // 3. Allocates `size` bytes, owned by the caller until FreeBlock, across
    // messages and across "Unload" and "Reload". On failure *block is set to
    // null and nothing is owned.
    ASErr (*AllocateBlock)(std::size_t size, void** block);
    // 4. Frees a block from AllocateBlock. Null is accepted and ignored; a
    // block that is not live fails with kBadParameterErr. On failure the
    // block stays the caller's.
    ASErr (*FreeBlock)(void* block);
};
HOSTAPI_PIN(SPBasicSuite, AcquireSuite, 0);
HOSTAPI_PIN(SPBasicSuite, ReleaseSuite, 1);
HOSTAPI_PIN(SPBasicSuite, IsEqual, 2);
HOSTAPI_PIN(SPBasicSuite, AllocateBlock, 3);
HOSTAPI_PIN(SPBasicSuite, FreeBlock, 4);
static_assert(sizeof(SPBasicSuite) == 5 * kSuiteSlot, "SPBasicSuite has exactly five slots");

// ---------------------------------------------------------------------------
// Message records. All begin with the same four words. A record is the
// host's and lives for the length of the PluginMain call that receives it;
// the plug-in writes only the globals word.
// ---------------------------------------------------------------------------
struct SPMessageData {
    ai::int32 SPCheck;      // host bookkeeping; plug-ins never read it
    SPPluginRef self;       // the receiving plug-in, for calls that name it
    void* globals;          // a word the host keeps for the plug-in across unload and reload
    SPBasicSuite* basic;    // the basic suite for this message
};
static_assert(offsetof(SPMessageData, self) == sizeof(void*), "second word");
static_assert(offsetof(SPMessageData, globals) == 2 * sizeof(void*), "third word");
static_assert(offsetof(SPMessageData, basic) == 3 * sizeof(void*), "fourth word");
static_assert(sizeof(SPMessageData) == 4 * sizeof(void*), "four words");

// Caller "SP Interface": "Startup", "About", "Shutdown".
struct SPInterfaceMessage {
    SPMessageData d;
};
// Caller "SP Access": "Unload", "Reload".
struct SPAccessMessage {
    SPMessageData d;
};
static_assert(sizeof(SPInterfaceMessage) == sizeof(SPMessageData), "head only");
static_assert(sizeof(SPAccessMessage) == sizeof(SPMessageData), "head only");

// Caller and selector tokens. Compare them only through SPBasicSuite::IsEqual.
constexpr const char* kSPAccessCaller = "SP Access";
constexpr const char* kSPAccessUnloadSelector = "Unload";
constexpr const char* kSPAccessReloadSelector = "Reload";
constexpr const char* kSPInterfaceCaller = "SP Interface";
constexpr const char* kSPInterfaceStartupSelector = "Startup";
constexpr const char* kSPInterfaceAboutSelector = "About";
constexpr const char* kSPInterfaceShutdownSelector = "Shutdown";

// The entry point every plug-in exports, unmangled.
extern "C" {
using SPPluginMainProc = ASErr (*)(const char* caller, const char* selector, void* message);
}
constexpr const char* kPluginMainSymbol = "PluginMain";

// ---------------------------------------------------------------------------
// "SP Plug-ins Suite" 4
// ---------------------------------------------------------------------------
constexpr const char* kSPPluginsSuite = "SP Plug-ins Suite";
constexpr ai::int32 kSPPluginsSuiteVersion = 4;
struct SPPluginsSuite {
    SPReservedProc reserved0to22[23];
    // 23. Sets the name under which the host lists the plug-in. The host
    // copies the text; the caller's string may go when the call returns. A
    // null name or an unknown plug-in fails with kBadParameterErr.
    ASErr (*SetPluginName)(SPPluginRef plugin, const char* name);
};
HOSTAPI_PIN(SPPluginsSuite, SetPluginName, 23);

// ---------------------------------------------------------------------------
// "SP Blocks Suite" 2 and "SP Access Suite" 3: acquired by plug-ins that keep
// the standard suite set, not called through.
// ---------------------------------------------------------------------------
constexpr const char* kSPBlocksSuite = "SP Blocks Suite";
constexpr ai::int32 kSPBlocksSuiteVersion = 2;
struct SPBlocksSuite {
    SPReservedProc reserved[4];
};
constexpr const char* kSPAccessSuite = "SP Access Suite";
constexpr ai::int32 kSPAccessSuiteVersion = 3;
struct SPAccessSuite {
    SPReservedProc reserved[4];
};
