#include "simhost/Ledger.h"

#include <algorithm>
#include <cstdio>

namespace simhost {

struct Ledger::ArtArray {
    std::vector<AIArtHandle> entries;
    AIArtHandle* data;  // the handle points here
};

struct Ledger::HostString {
    std::string text;
};

Ledger::Ledger() = default;
Ledger::~Ledger() = default;

void Ledger::addHold(const SuiteKey& suite) {
    ++holds_[suite];
}

bool Ledger::dropHold(const SuiteKey& suite) {
    auto it = holds_.find(suite);
    if (it == holds_.end() || it->second == 0) return false;
    if (--it->second == 0) holds_.erase(it);
    return true;
}

int Ledger::holds(const SuiteKey& suite) const {
    auto it = holds_.find(suite);
    return it == holds_.end() ? 0 : it->second;
}

int Ledger::totalHolds() const {
    int total = 0;
    for (const auto& entry : holds_) total += entry.second;
    return total;
}

void* Ledger::allocateBlock(std::size_t size, int owner) {
    // Filled with a pattern, not zeros, so a plug-in that forgets to clear
    // its block is caught.
    std::unique_ptr<unsigned char[]> block(new unsigned char[size == 0 ? 1 : size]);
    std::fill_n(block.get(), size == 0 ? 1 : size, static_cast<unsigned char>(0xA5));
    void* address = block.get();
    blocks_.emplace(address, Block{std::move(block), owner});
    return address;
}

std::size_t Ledger::liveBlocksOf(int owner) const {
    std::size_t n = 0;
    for (const auto& entry : blocks_)
        if (entry.second.owner == owner) ++n;
    return n;
}

bool Ledger::freeBlock(void* block) {
    return blocks_.erase(block) != 0;
}

AIArtHandle** Ledger::newArtArray(std::vector<AIArtHandle> entries) {
    auto array = std::make_unique<ArtArray>();
    array->entries = std::move(entries);
    array->data = array->entries.data();
    AIArtHandle** handle = &array->data;
    handles_.emplace(handle, std::move(array));
    return handle;
}

bool Ledger::disposeHandle(AIMdMemoryHandle handle) {
    const auto it = handles_.find(handle);
    if (it == handles_.end()) return false;
    constexpr std::size_t kSpareArrays = 4;
    if (spareArrays_.size() < kSpareArrays) {
        it->second->entries.clear();
        spareArrays_.push_back(std::move(it->second->entries));
    }
    handles_.erase(it);
    return true;
}

std::vector<AIArtHandle> Ledger::spareArtArray() {
    if (spareArrays_.empty()) return {};
    std::vector<AIArtHandle> spare = std::move(spareArrays_.back());
    spareArrays_.pop_back();
    return spare;
}

AIUnicodeStringHandle Ledger::newString(std::string text) {
    auto string = std::make_unique<HostString>();
    string->text = std::move(text);
    auto handle = reinterpret_cast<AIUnicodeStringHandle>(string.get());
    strings_.emplace(handle, std::move(string));
    return handle;
}

bool Ledger::isLiveString(AIUnicodeStringHandle handle) const {
    return strings_.count(handle) != 0;
}

const std::string* Ledger::stringText(AIUnicodeStringHandle handle) const {
    auto it = strings_.find(handle);
    return it == strings_.end() ? nullptr : &it->second->text;
}

bool Ledger::setStringText(AIUnicodeStringHandle handle, std::string text) {
    auto it = strings_.find(handle);
    if (it == strings_.end()) return false;
    it->second->text = std::move(text);
    return true;
}

bool Ledger::destroyString(AIUnicodeStringHandle handle) {
    return strings_.erase(handle) != 0;
}

void Ledger::recordViolation(std::string rule, std::string detail) {
    // Also written at once: a violation is often followed by a crash, and a
    // validator watching this process must still learn what broke.
    std::fprintf(stderr, "simhost: violation [%s] %s\n", rule.c_str(), detail.c_str());
    violations_.push_back(Violation{std::move(rule), std::move(detail)});
}

std::vector<std::string> Ledger::outstanding() const {
    std::vector<std::string> lines;
    for (const auto& entry : holds_)
        lines.push_back("suite \"" + entry.first.first + "\" " + std::to_string(entry.first.second) +
                        " held " + std::to_string(entry.second) + " time(s)");
    if (!handles_.empty())
        lines.push_back(std::to_string(handles_.size()) + " memory handle(s) not disposed of");
    if (!strings_.empty())
        lines.push_back(std::to_string(strings_.size()) + " Unicode string(s) not destroyed");
    return lines;
}

}  // namespace simhost
