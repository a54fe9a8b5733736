// The suites the host serves: their names, versions, table sizes, the
// functions that fill a live table, and one trapping function per slot.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "HostTypes.h"
#include "SPSuites.h"

namespace simhost {

struct ServedSuite {
    const char* name;
    ai::int32 version;
    std::size_t slots;
    // Writes the live table into `table` (slots * kSuiteSlot bytes); slots
    // it leaves null are reserved and get the trap.
    void (*fillLive)(void* table);
    // slots entries: the function a call through each slot reaches when the
    // slot is reserved, the suite released, or the table a wrong one.
    const SPReservedProc* traps;
};

const std::vector<ServedSuite>& servedSuites();
// Index of the suite of that name and version in servedSuites(); -1 if none.
int servedSuiteIndex(const char* name, ai::int32 version);

// Fill functions, one per suite, defined beside the suites' operations.
SPBasicSuite makeBasicSuite();
void fillPluginsSuite(void* table);
void fillBlocksSuite(void* table);
void fillAccessSuite(void* table);
void fillMdMemorySuite(void* table);
void fillArtSuite(void* table);
void fillUserSuite(void* table);
void fillMatchingArtSuite(void* table);
void fillPathSuite(void* table);
void fillPathStyleSuite(void* table);
void fillLayerSuite(void* table);
void fillPluginGroupSuite(void* table);
void fillMenuSuite1007(void* table);
void fillMenuSuite1008(void* table);
void fillADMBasicSuite(void* table);
void fillADMDialogSuite(void* table);
void fillADMItemSuite(void* table);
void fillADMIconSuite(void* table);
void fillUnicodeStringSuite(void* table);

// Writes `suite` into the untyped table.
// Short argument texts for the gate's log.
std::string showPointer(const void* p);
std::string showText(const char* text);

template <typename Suite>
void storeTable(void* table, const Suite& suite) {
    static_assert(sizeof(Suite) % kSuiteSlot == 0, "a suite is a whole number of slots");
    __builtin_memcpy(table, &suite, sizeof suite);
}

}  // namespace simhost
