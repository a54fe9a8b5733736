// SPBasicSuite and "SP Plug-ins Suite".
#include <cstdio>
#include <cstring>

#include "LoaderRoom.h"
#include "MessageRoom.h"
#include "SuiteRoom.h"
#include "Suites.h"

namespace simhost {

std::string showPointer(const void* p) {
    if (p == nullptr) return "null";
    char text[32];
    std::snprintf(text, sizeof text, "%p", p);
    return text;
}

std::string showText(const char* text) {
    if (text == nullptr) return "null";
    // Bounded: the text may not be terminated.
    const std::size_t n = strnlen(text, 64);
    return "\"" + std::string(text, n) + (n == 64 ? "...\"" : "\"");
}

namespace {

ASErr AcquireSuite(const char* name, ai::int32 version, const void** suite) {
    SuiteRoom& suites = SuiteRoom::current();
    if (ASErr err = suites.gate().enter(Op::AcquireSuite, CallSubject::suite(name, version), [&] {
            return showText(name) + ", " + std::to_string(version);
        })) {
        if (suite != nullptr) *suite = nullptr;
        return err;
    }
    if (name == nullptr || suite == nullptr) return suites.badParameter("acquire-suite", "null name or result");
    ASErr err = kNoErr;
    const void* table = suites.acquire(name, version, &err);
    if (err == kNoErr) *suite = table;
    return err;
}

ASErr ReleaseSuite(const char* name, ai::int32 version) {
    SuiteRoom& suites = SuiteRoom::current();
    if (ASErr err = suites.gate().enter(Op::ReleaseSuite, CallSubject::suite(name, version), [&] {
            return showText(name) + ", " + std::to_string(version);
        }))
        return err;
    if (name == nullptr) return suites.badParameter("release-suite", "null name");
    return suites.release(name, version);
}

ASBoolean IsEqual(const char* token1, const char* token2) {
    SuiteRoom& suites = SuiteRoom::current();
    if (suites.gate().enter(Op::IsEqual, CallSubject{nullptr, token1},
                            [&] { return showText(token1) + ", " + showText(token2); }))
        return false;
    if (token1 == nullptr || token2 == nullptr) {
        suites.badParameter("is-equal", "null token");
        return false;
    }
    return std::strcmp(token1, token2) == 0;
}

ASErr AllocateBlock(std::size_t size, void** block) {
    MessageRoom& messages = MessageRoom::current();
    if (ASErr err = messages.gate().enter(Op::AllocateBlock, nullptr, [&] { return std::to_string(size); })) {
        if (block != nullptr) *block = nullptr;
        return err;
    }
    if (block == nullptr) return messages.badParameter("allocate-block", "null result");
    *block = messages.ledger().allocateBlock(size, messages.messagePlugin().value_or(-1));
    return kNoErr;
}

ASErr FreeBlock(void* block) {
    MessageRoom& messages = MessageRoom::current();
    if (ASErr err =
            messages.gate().enter(Op::FreeBlock, CallSubject{block, nullptr}, [&] { return showPointer(block); }))
        return err;
    if (block == nullptr) return kNoErr;
    if (!messages.ledger().freeBlock(block))
        return messages.badParameter("free-block", showPointer(block) + " is not a live block");
    return kNoErr;
}

ASErr SetPluginName(SPPluginRef plugin, const char* name) {
    MessageRoom& messages = MessageRoom::current();
    if (ASErr err = messages.gate().enter(Op::SetPluginName, CallSubject{plugin, name}, [&] { return showText(name); }))
        return err;
    const auto id = messages.pluginForCall(plugin, "set-plugin-name");
    if (!id) return kBadParameterErr;
    if (name == nullptr) return messages.badParameter("set-plugin-name", "null name");
    LoaderRoom::current().plugin(*id).name = std::string(name, strnlen(name, 256));
    return kNoErr;
}

}  // namespace

SPBasicSuite makeBasicSuite() {
    SPBasicSuite suite;
    suite.AcquireSuite = AcquireSuite;
    suite.ReleaseSuite = ReleaseSuite;
    suite.IsEqual = IsEqual;
    suite.AllocateBlock = AllocateBlock;
    suite.FreeBlock = FreeBlock;
    return suite;
}

void fillPluginsSuite(void* table) {
    SPPluginsSuite suite{};
    suite.SetPluginName = SetPluginName;
    storeTable(table, suite);
}

}  // namespace simhost
