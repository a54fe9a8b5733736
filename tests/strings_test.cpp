// Pascal and C string conversions in place, and the host-backed string and
// error wrappers.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "PluginHarness.h"
#include "reportError.h"
#include "stringUtils.h"
#include "simhost/Gate.h"
#include "simhost/Ledger.h"

using namespace simhost;
using wendlow_test::HeldSuites;
using wendlow_test::PluginHarness;
using ::testing::IsEmpty;

namespace {

// In place: a C text of up to 255 bytes becomes a Pascal string in its own
// buffer and back; a longer one, or an unterminated buffer (under
// AddressSanitizer a read past it would be reported), is refused unchanged.
TEST(PascalStrings, ConvertInPlaceUpTo255BytesAndRefuseTheRestUnchanged) {
    const struct { const char* what; std::string text; bool terminated; } cases[] = {
        {"a short text", "abc", true},           {"an empty text", "", true},
        {"the longest", std::string(255, 'q'), true}, {"one byte more", std::string(256, 'r'), true},
        {"no terminator", std::string(256, 'u'), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<char> buffer(c.text.begin(), c.text.end());
        if (c.terminated) buffer.push_back(0);
        unsigned char* p = SUctopstr(buffer.data());
        if (c.text.size() > 255) {
            EXPECT_EQ(p, nullptr);
            EXPECT_EQ(std::string(buffer.begin(), buffer.begin() + 256), c.text);
            continue;
        }
        ASSERT_EQ(p, reinterpret_cast<unsigned char*>(buffer.data()));
        EXPECT_EQ(p[0], c.text.size());
        EXPECT_EQ(std::string(buffer.begin() + 1, buffer.begin() + 1 + static_cast<long>(c.text.size())), c.text);
        char* back = SUptocstr(p);
        EXPECT_EQ(back, buffer.data());
        EXPECT_EQ(std::string(back), c.text);
    }
    unsigned char zero[4] = {0, 'x', 'y', 'z'};
    EXPECT_STREQ(SUptocstr(zero), "");
    EXPECT_EQ(SUctopstr(nullptr), nullptr);
    EXPECT_EQ(SUptocstr(nullptr), nullptr);
}

// Numeric entries of the error list name 16-bit codes: the number's whole
// part, wrapped into the signed 16-bit range.
TEST(NumericEntries, StandForTheirWholePartWrappedToSixteenBits) {
    PluginHarness h;
    HeldSuites held(h.host);
    const struct { const char* text; ai::int32 value; } cases[] = {
        {"32767", 32767}, {"32768", -32768}, {"65535", -1}, {"65536", 0},    {"98303", 32767},
        {"-1", -1},       {"-32769", 32767}, {"-65536", 0}, {"12.9", 12},    {"-12.9", -12},
    };
    for (const auto& c : cases) {
        char entry[32];
        std::strcpy(entry, c.text);
        ai::int32 value = 77;
        CStringToAIErr(entry, &value);
        EXPECT_EQ(value, c.value) << c.text;
    }
}

TEST(UnicodeStringWrapper, BuildsAssignsAndGivesBackHostStrings) {
    PluginHarness h;
    {
        HeldSuites held(h.host);
        h.host.gate().setLogging(true);
        {
            ai::UnicodeString about("About Wendlow Plug-ins");
            ASSERT_NE(about.handle(), nullptr);
            EXPECT_EQ(*h.host.ledger().stringText(about.handle()), "About Wendlow Plug-ins");
            AIPlatformAddMenuItemDataUS record;
            EXPECT_EQ(record.itemText.handle(), nullptr);
            record.itemText = about;
            EXPECT_EQ(*h.host.ledger().stringText(record.itemText.handle()), "About Wendlow Plug-ins");
            // Assignment to itself hands the host the same address twice.
            record.itemText = record.itemText;
            EXPECT_EQ(h.host.ledger().liveStrings(), 2u);
        }
        EXPECT_EQ(h.host.ledger().liveStrings(), 0u);
        EXPECT_EQ(h.host.gate().calls(Op::StringInitialize), 1u);
        EXPECT_EQ(h.host.gate().calls(Op::StringCopy), 2u);
        EXPECT_EQ(h.host.gate().calls(Op::StringDestroy), 2u);
        const auto& log = h.host.gate().log();
        // initialize(object, text, 22, 0): the length excludes the zero.
        EXPECT_EQ(log.front().numbers[0], 22) << log.front().detail;
        EXPECT_EQ(log.front().numbers[1], 0) << log.front().detail;
    }
    EXPECT_THAT(h.problems(), IsEmpty());
}

TEST(UnicodeStringWrapper, HostFailuresAreThrownAndLeaveNothingBehind) {
    PluginHarness h;
    {
        HeldSuites held(h.host);
        h.host.gate().addRule(FaultRule::failNthOf(Op::StringInitialize, 1, 17));
        try {
            ai::UnicodeString failed("text");
            ADD_FAILURE() << "constructed despite the host's refusal";
        } catch (const ai::Error& e) {
            EXPECT_EQ(e.code(), 17);
        }
        ai::UnicodeString kept("kept");
        ai::UnicodeString other("other");
        h.host.gate().addRule(FaultRule::failNthOf(Op::StringCopy, 1, 18));
        EXPECT_THROW(kept = other, ai::Error);
        EXPECT_EQ(*h.host.ledger().stringText(kept.handle()), "kept");
    }
    EXPECT_THAT(h.problems(), IsEmpty());
}

// Without the suite: a null text makes an empty object with no host call
// (it would throw here), any other text throws instead of calling through null.
TEST(UnicodeStringWrapper, WithoutTheSuiteItThrowsInsteadOfCallingThroughNull) {
    PluginHarness h;
    ASSERT_EQ(sAIUnicodeString, nullptr);
    EXPECT_EQ(ai::UnicodeString(nullptr).handle(), nullptr);
    try {
        ai::UnicodeString text("x");
        ADD_FAILURE();
    } catch (const ai::Error& e) {
        EXPECT_EQ(e.code(), kSuiteNotFoundErr);
    }
}

}  // namespace
