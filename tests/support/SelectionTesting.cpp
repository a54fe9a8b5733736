#include "SelectionTesting.h"

#include <fstream>
#include <sstream>
#include <stdexcept>

#include "PluginHarness.h"
#include "simhost/Document.h"
#include "simhost/MatchingOptions.h"

namespace wendlow_test {

using namespace simhost;

Document fixture(const std::string& json) {
    return documentFromJson(json, "fixture");
}

Document fixtureFile(const std::string& name) {
    std::ifstream in(std::string(WENDLOW_TEST_DATA) + "/selection/" + name + ".json");
    std::stringstream text;
    text << in.rdbuf();
    return documentFromJson(text.str(), name + ".json");
}

ASErr runPluginCommand(SelectionCommand command) {
    switch (command.kind) {
        case CommandKind::kPaths: return selectPaths(nullptr, command.mode);
        case CommandKind::kMeshes: return selectMeshes(nullptr, command.mode);
        case CommandKind::kCompoundPaths: return selectCompoundPaths(nullptr);
        case CommandKind::kGroups: return selectGroups(nullptr);
        case CommandKind::kPluginGroups: return selectPluginGroups(nullptr);
        case CommandKind::kPlaced: return selectPlaced(nullptr);
        case CommandKind::kSymbols: return selectSymbols(nullptr);
        case CommandKind::kRasters: return selectRasters(nullptr);
    }
    throw std::logic_error("no such command");
}

namespace {

std::string idOf(const Document& document, ArtIndex index) {
    const std::string& id = document.id(index);
    return id.empty() ? "#" + std::to_string(index) : id;
}

}  // namespace

// Read from the objects themselves, not from the host's selection index,
// so that the index is checked rather than trusted.
std::vector<std::string> selectedIds(const Document& document) {
    std::vector<std::string> ids;
    for (ArtIndex index : document.documentOrder())
        if (document.art(index).attributes & kArtSelected) ids.push_back(idOf(document, index));
    return ids;
}

std::vector<std::string> matchingOrder(Host& host, AIArtType type) {
    HeldSuites held(host);
    MatchRecord record{type, 0, 0, 0};
    AIArtHandle** matches = nullptr;
    ai::int32 count = 0;
    if (sAIMatch->GetMatchingArt(&record, 1, &matches, &count) != kNoErr)
        throw std::runtime_error("the matching query failed");
    std::vector<std::string> ids;
    for (ai::int32 i = 0; i < count; ++i) ids.push_back(idOf(host.document(), *host.artIndexOf((*matches)[i])));
    if (matches != nullptr) sAIMDMemory->MdMemoryDisposeHandle(matches);
    return ids;
}

std::uint64_t seedGivingOrder(Host& host, AIArtType type, const std::vector<std::string>& ids) {
    MatchingOptions& matching = host.matching();
    const MatchingOptions before = matching;
    matching.shuffle = true;
    for (std::uint64_t seed = 0; seed < 1000; ++seed) {
        matching.shuffleSeed = seed;
        if (matchingOrder(host, type) == ids) {
            matching = before;
            return seed;
        }
    }
    matching = before;
    throw std::runtime_error("no shuffle seed gives the wanted order");
}

}  // namespace wendlow_test
