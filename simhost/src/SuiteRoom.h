// The suites the host grants: the basic suite, and for every suite it serves
// one table at a fixed address, live while the suite is held and trapping
// otherwise, so that a call through a stale pointer is caught.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "Room.h"
#include "SPSuites.h"

namespace simhost {

class SuiteRoom : public Room {
public:
    SuiteRoom(Gate& gate, Ledger& ledger);
    ~SuiteRoom();

    static SuiteRoom& current() { return Current<SuiteRoom>::get(); }
    static SuiteRoom* currentOrNull() { return Current<SuiteRoom>::getOrNull(); }

    SPBasicSuite* basicSuite() { return &basic_; }
    // One hold on `name` at `version`: its table, or null with *err set.
    const void* acquire(const char* name, ai::int32 version, ASErr* err);
    ASErr release(const char* name, ai::int32 version);

    // Grant `name` at `version` with a table whose every slot traps, to see
    // what a plug-in does with a table that is not what it asked for.
    void grantWrongTable(const std::string& name, ai::int32 version);
    // Grant `name` at `version` with success and a null table: a hold all
    // the same; `null` false grants the real table again.
    void grantNullTable(const std::string& name, ai::int32 version, bool null);

    // Records a call through a slot that traps; returns kTrapErr.
    ASErr trapped(std::size_t suite, std::size_t slot);

private:
    struct GrantTable;
    void fillGrant(std::size_t suite);
    void trapGrant(std::size_t suite);

    Current<SuiteRoom> registration_{this};
    std::vector<std::unique_ptr<GrantTable>> grants_;
    SPBasicSuite basic_;
};

}  // namespace simhost
