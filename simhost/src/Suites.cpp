#include "Suites.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <utility>

#include "ADMSuites.h"
#include "AISuites.h"
#include "IAIUnicodeString.h"
#include "SuiteRoom.h"

namespace simhost {

namespace {

// One function per (suite, slot), so a trapped call names where it went.
// It is reached through pointers of other types; it takes no arguments and
// returns an error code, which a caller expecting a code sees as kTrapErr.
template <std::size_t Suite, std::size_t Slot>
ASErr trapSlot() {
    if (SuiteRoom* room = SuiteRoom::currentOrNull()) return room->trapped(Suite, Slot);
    std::fprintf(stderr, "simhost: call through trapped slot %zu of suite %zu with no host\n", Slot, Suite);
    return kTrapErr;
}

template <std::size_t Suite, std::size_t... Slots>
std::array<SPReservedProc, sizeof...(Slots)> makeTraps(std::index_sequence<Slots...>) {
    return {{reinterpret_cast<SPReservedProc>(&trapSlot<Suite, Slots>)...}};
}

template <std::size_t Index, typename Table>
ServedSuite served(const char* name, ai::int32 version, void (*fill)(void*)) {
    constexpr std::size_t slots = sizeof(Table) / kSuiteSlot;
    static const auto traps = makeTraps<Index>(std::make_index_sequence<slots>{});
    return ServedSuite{name, version, slots, fill, traps.data()};
}

}  // namespace

const std::vector<ServedSuite>& servedSuites() {
    static const std::vector<ServedSuite> suites = {
        served<0, SPPluginsSuite>(kSPPluginsSuite, kSPPluginsSuiteVersion, fillPluginsSuite),
        served<1, SPBlocksSuite>(kSPBlocksSuite, kSPBlocksSuiteVersion, fillBlocksSuite),
        served<2, SPAccessSuite>(kSPAccessSuite, kSPAccessSuiteVersion, fillAccessSuite),
        served<3, AIMdMemorySuite>(kAIMdMemorySuite, kAIMdMemorySuiteVersion, fillMdMemorySuite),
        served<4, AIArtSuite>(kAIArtSuite, kAIArtSuiteVersion, fillArtSuite),
        served<5, AIUserSuite>(kAIUserSuite, kAIUserSuiteVersion, fillUserSuite),
        served<6, AIMatchingArtSuite>(kAIMatchingArtSuite, kAIMatchingArtSuiteVersion, fillMatchingArtSuite),
        served<7, AIPathSuite>(kAIPathSuite, kAIPathSuiteVersion, fillPathSuite),
        served<8, AIPathStyleSuite>(kAIPathStyleSuite, kAIPathStyleSuiteVersion, fillPathStyleSuite),
        served<9, AILayerSuite>(kAILayerSuite, kAILayerSuiteVersion, fillLayerSuite),
        served<10, AIPluginGroupSuite>(kAIPluginGroupSuite, kAIPluginGroupSuiteVersion, fillPluginGroupSuite),
        served<11, AIMenuSuite1007>(kAIMenuSuite, kAIMenuSuiteVersion1007, fillMenuSuite1007),
        served<12, AIMenuSuite>(kAIMenuSuite, kAIMenuSuiteVersion, fillMenuSuite1008),
        served<13, ADMBasicSuite>(kADMBasicSuite, kADMBasicSuiteVersion, fillADMBasicSuite),
        served<14, ADMDialogSuite>(kADMDialogSuite, kADMDialogSuiteVersion, fillADMDialogSuite),
        served<15, ADMItemSuite>(kADMItemSuite, kADMItemSuiteVersion, fillADMItemSuite),
        served<16, ADMIconSuite>(kADMIconSuite, kADMIconSuiteVersion, fillADMIconSuite),
        served<17, AIUnicodeStringSuite>(kAIUnicodeStringSuite, kAIUnicodeStringSuiteVersion,
                                         fillUnicodeStringSuite),
    };
    return suites;
}

int servedSuiteIndex(const char* name, ai::int32 version) {
    const auto& suites = servedSuites();
    for (std::size_t i = 0; i < suites.size(); ++i)
        if (suites[i].version == version && std::strcmp(suites[i].name, name) == 0) return static_cast<int>(i);
    return -1;
}

void fillBlocksSuite(void* table) { storeTable(table, SPBlocksSuite{}); }
void fillAccessSuite(void* table) { storeTable(table, SPAccessSuite{}); }
void fillADMIconSuite(void* table) { storeTable(table, ADMIconSuite{}); }

}  // namespace simhost
