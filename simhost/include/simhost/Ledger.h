// What the plug-in holds of the host's resources at any moment: suite holds
// per name and version, memory blocks, memory handles and Unicode strings;
// and every breach of the host interface the host noticed (a call through a
// reserved or released slot, an unknown handle, a double free).
#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "HostTypes.h"

namespace simhost {

struct Violation {
    std::string rule;    // short name of the broken rule, e.g. "released-suite"
    std::string detail;  // what happened, naming the suite, slot or handle
};

class Ledger {
public:
    Ledger();
    ~Ledger();
    Ledger(const Ledger&) = delete;
    Ledger& operator=(const Ledger&) = delete;

    // ---- Suites --------------------------------------------------------
    using SuiteKey = std::pair<std::string, ai::int32>;
    void addHold(const SuiteKey& suite);
    // False when the suite was not held.
    bool dropHold(const SuiteKey& suite);
    int holds(const SuiteKey& suite) const;
    int totalHolds() const;
    const std::map<SuiteKey, int>& suiteHolds() const { return holds_; }

    // ---- Blocks --------------------------------------------------------
    // `owner` is the plug-in whose message was being handled, -1 for none.
    void* allocateBlock(std::size_t size, int owner);
    // False when `block` is not a live block.
    bool freeBlock(void* block);
    bool isLiveBlock(const void* block) const { return blocks_.count(block) != 0; }
    std::size_t liveBlocks() const { return blocks_.size(); }
    std::size_t liveBlocksOf(int owner) const;

    // ---- Memory handles: arrays of art handles ----------------------------
    // A new handle to a copy of `entries`; the handle's value is the address
    // of the array pointer, so (*handle)[i] reads entry i.
    AIArtHandle** newArtArray(std::vector<AIArtHandle> entries);
    bool disposeHandle(AIMdMemoryHandle handle);
    // An empty array with the storage of one disposed of before, if any:
    // large queries then reuse memory instead of mapping fresh pages.
    std::vector<AIArtHandle> spareArtArray();
    std::size_t liveHandles() const { return handles_.size(); }

    // ---- Unicode strings ----------------------------------------------------
    AIUnicodeStringHandle newString(std::string text);
    bool isLiveString(AIUnicodeStringHandle handle) const;
    // The text of a live string; null for a handle that is not live.
    const std::string* stringText(AIUnicodeStringHandle handle) const;
    bool setStringText(AIUnicodeStringHandle handle, std::string text);
    bool destroyString(AIUnicodeStringHandle handle);
    std::size_t liveStrings() const { return strings_.size(); }

    // ---- Violations ---------------------------------------------------------
    void recordViolation(std::string rule, std::string detail);
    const std::vector<Violation>& violations() const { return violations_; }
    void clearViolations() { violations_.clear(); }

    // Suites, handles and strings still held, one line each; empty when
    // nothing is. Blocks are counted per owner by the caller, which knows
    // which owners may keep one.
    std::vector<std::string> outstanding() const;

private:
    struct ArtArray;
    struct HostString;
    struct Block {
        std::unique_ptr<unsigned char[]> bytes;
        int owner;
    };

    std::map<SuiteKey, int> holds_;
    std::unordered_map<const void*, Block> blocks_;
    std::unordered_map<const void*, std::unique_ptr<ArtArray>> handles_;
    std::vector<std::vector<AIArtHandle>> spareArrays_;
    std::unordered_map<const void*, std::unique_ptr<HostString>> strings_;
    std::vector<Violation> violations_;
};

}  // namespace simhost
