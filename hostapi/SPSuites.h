// The plug-in-management layer of the host: the basic suite that comes with
// every message, the message records, and the suites for naming a plug-in.
#pragma once

#include "HostTypes.h"

// ---------------------------------------------------------------------------
// SPBasicSuite: given in every message record; never acquired.
// ---------------------------------------------------------------------------
struct SPBasicSuite {
    // 0. Grants the suite `name` at `version` and writes its table to *suite;
    // each grant is one hold that one ReleaseSuite gives back. Fails with
    // kSuiteNotFoundErr when no such suite is served; *suite is then left as
    // it was or set to null.
    ASErr (*AcquireSuite)(const char* name, ai::int32 version, const void** suite);
    // 1. Gives back one hold. Fails with kSuiteNotHeldErr when the suite is not
    // held; the hold count is then unchanged.
    ASErr (*ReleaseSuite)(const char* name, ai::int32 version);
    // 2. Whether two tokens (caller or selector strings) are equal. Returns a
    // boolean, not an error code.
    ASBoolean (*IsEqual)(const char* token1, const char* token2);
    // 3. Allocates `size` bytes owned by the caller until FreeBlock. On failure
    // *block is set to null.
    ASErr (*AllocateBlock)(std::size_t size, void** block);
    // 4. Frees a block from AllocateBlock. Null is accepted and ignored.
    ASErr (*FreeBlock)(void* block);
};
HOSTAPI_PIN(SPBasicSuite, AcquireSuite, 0);
HOSTAPI_PIN(SPBasicSuite, ReleaseSuite, 1);
HOSTAPI_PIN(SPBasicSuite, IsEqual, 2);
HOSTAPI_PIN(SPBasicSuite, AllocateBlock, 3);
HOSTAPI_PIN(SPBasicSuite, FreeBlock, 4);
static_assert(sizeof(SPBasicSuite) == 5 * kSuiteSlot, "SPBasicSuite has exactly five slots");

// ---------------------------------------------------------------------------
// Message records. All begin with the same four words.
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
    // copies the text.
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
