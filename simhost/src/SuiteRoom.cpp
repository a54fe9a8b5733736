#include "SuiteRoom.h"

#include <stdexcept>

#include "Suites.h"

namespace simhost {

// The table a plug-in is given for one suite. It stays at one address for
// the host's life; its contents are the live functions while the suite is
// held and trapping functions otherwise, so a stale pointer is caught.
struct SuiteRoom::GrantTable {
    std::vector<SPReservedProc> slots;
    bool live = false;
    bool wrong = false;
    bool null = false;  // granted, but the table written is null
};

SuiteRoom::SuiteRoom(Gate& gate, Ledger& ledger) : Room(gate, ledger), basic_(makeBasicSuite()) {
    for (const ServedSuite& suite : servedSuites()) {
        auto grant = std::make_unique<GrantTable>();
        grant->slots.assign(suite.traps, suite.traps + suite.slots);
        grants_.push_back(std::move(grant));
    }
}

SuiteRoom::~SuiteRoom() = default;

void SuiteRoom::trapGrant(std::size_t suite) {
    const ServedSuite& served = servedSuites()[suite];
    GrantTable& grant = *grants_[suite];
    grant.slots.assign(served.traps, served.traps + served.slots);
    grant.live = false;
}

void SuiteRoom::fillGrant(std::size_t suite) {
    if (grants_[suite]->wrong) return trapGrant(suite);
    const ServedSuite& served = servedSuites()[suite];
    GrantTable& grant = *grants_[suite];
    std::vector<SPReservedProc> live(served.slots, nullptr);
    served.fillLive(live.data());
    for (std::size_t slot = 0; slot < served.slots; ++slot)
        grant.slots[slot] = live[slot] != nullptr ? live[slot] : served.traps[slot];
    grant.live = true;
}

const void* SuiteRoom::acquire(const char* name, ai::int32 version, ASErr* err) {
    const int suite = servedSuiteIndex(name, version);
    if (suite < 0) {
        *err = kSuiteNotFoundErr;
        return nullptr;
    }
    const Ledger::SuiteKey key{name, version};
    ledger_.addHold(key);
    if (ledger_.holds(key) == 1) fillGrant(static_cast<std::size_t>(suite));
    *err = kNoErr;
    const GrantTable& grant = *grants_[static_cast<std::size_t>(suite)];
    return grant.null ? nullptr : grant.slots.data();
}

ASErr SuiteRoom::release(const char* name, ai::int32 version) {
    const Ledger::SuiteKey key{name, version};
    if (!ledger_.dropHold(key)) {
        ledger_.recordViolation("release-not-held", "\"" + key.first + "\" " + std::to_string(version) +
                                                        " released but not held");
        return kSuiteNotHeldErr;
    }
    const int suite = servedSuiteIndex(name, version);
    if (suite >= 0 && ledger_.holds(key) == 0) trapGrant(static_cast<std::size_t>(suite));
    return kNoErr;
}

void SuiteRoom::grantWrongTable(const std::string& name, ai::int32 version) {
    const int suite = servedSuiteIndex(name.c_str(), version);
    if (suite < 0) throw std::invalid_argument("no suite \"" + name + "\" " + std::to_string(version));
    grants_[static_cast<std::size_t>(suite)]->wrong = true;
    if (ledger_.holds({name, version}) > 0) fillGrant(static_cast<std::size_t>(suite));
}

void SuiteRoom::grantNullTable(const std::string& name, ai::int32 version, bool null) {
    const int suite = servedSuiteIndex(name.c_str(), version);
    if (suite < 0) throw std::invalid_argument("no suite \"" + name + "\" " + std::to_string(version));
    grants_[static_cast<std::size_t>(suite)]->null = null;
}

ASErr SuiteRoom::trapped(std::size_t suite, std::size_t slot) {
    const ServedSuite& served = servedSuites()[suite];
    const GrantTable& grant = *grants_[suite];
    const std::string where = "slot " + std::to_string(slot) + " of \"" + served.name + "\" " +
                              std::to_string(served.version);
    if (grant.wrong) {
        ledger_.recordViolation("wrong-table", "call through " + where + ", granted as a table that traps");
    } else if (!grant.live) {
        ledger_.recordViolation("released-suite", "call through " + where + " while the suite is not held");
    } else {
        ledger_.recordViolation("reserved-slot", "call through reserved " + where);
    }
    return kTrapErr;
}

}  // namespace simhost
