// Error reporting: the scan of the error list for a code's message, the
// code's own text, and the dialog that shows both.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "PluginHarness.h"
#include "Tables.h"
#include "reportError.h"
#include "simhost/Dialogs.h"
#include "simhost/Gate.h"
#include "simhost/Plugins.h"

using namespace simhost;
using wendlow_test::HeldSuites;
using wendlow_test::PluginHarness;
using ::testing::IsEmpty;

namespace {

struct Shown { std::string message; std::string code; };

// Reports `code` with the given error list and returns what the dialog
// showed, if one was shown.
class ErrorReport : public ::testing::Test {
protected:
    void useList(std::vector<std::string> entries) {
        h.host.plugin(h.plugin).resources.stringLists()[kErrorStringListID] = std::move(entries);
    }

    std::optional<Shown> report(ASErr code) {
        const std::size_t before = h.host.dialogs().size();
        {
            HeldSuites held(h.host);
            SPInterfaceMessage message{};
            message.d.self = h.host.pluginRef(h.plugin);
            message.d.basic = h.host.basicSuite();
            report_error(&message, code);
        }
        EXPECT_THAT(h.problems(), IsEmpty());
        if (h.host.dialogs().size() == before) return std::nullopt;
        const DialogRecord& dialog = h.host.dialogs().back();
        EXPECT_EQ(dialog.name, "Error Dialog");
        EXPECT_EQ(dialog.resourceID, kErrorDialogID);
        EXPECT_EQ(dialog.closedBy, 1);
        EXPECT_TRUE(dialog.closedByUser) << "item 1 must close the dialog";
        EXPECT_TRUE(dialog.items.at(0).hasNotifyProc) << "OK carries the plug-in's procedure";
        EXPECT_EQ(dialog.presses.size(), 1u);
        if (!dialog.presses.empty()) {
            EXPECT_EQ(dialog.presses[0].route, PressRoute::kNotifyProc);
        }
        return Shown{dialog.items.at(1).text, dialog.items.at(2).text};
    }

    PluginHarness h;
};

TEST_F(ErrorReport, ZeroAndStopAreNeverShownNorLookedUp) {
    useList({"STOP", "stopped", "0", "generic", ""});
    h.host.gate().resetCounts();
    EXPECT_FALSE(report(kNoErr));
    EXPECT_FALSE(report(kCanceledErr));
    EXPECT_EQ(h.host.gate().calls(Op::GetIndexString), 0u);
}

// The first code entry that stands for the code gives the message, else the
// last pair's. A numeric entry stands for its whole part wrapped to 16 bits,
// a letter entry for its first four characters. Codes within 16 bits show in
// decimal, others that read as characters (each byte printable) as those
// four, the rest as their exact number.
TEST_F(ErrorReport, EachCodeShowsTheMessageOfTheFirstEntryStandingForIt) {
    useList({"5", "first five", "5", "second five", "-25", "minus twenty-five", "12.9", "twelve", "-12.9",
             "minus twelve", "65535", "wrapped", "ABCD", "four letters", "WXYZAB", "six letters", "0", "generic", ""});
    for (const nlohmann::json& c : test_tables::rows("report_error", "codes")) {
        const auto code = static_cast<std::uint32_t>(std::stoll(c[0].get<std::string>(), nullptr, 0));
        const auto shown = report(static_cast<ASErr>(code));
        ASSERT_TRUE(shown) << c[0];
        EXPECT_EQ(shown->message, c[1]) << c[0];
        EXPECT_EQ(shown->code, c[2]) << c[0];
    }
}

// ---- What a careful scan must survive ----------------------------------------------------

// Lists and host failures the scan meets: each row reports one code with one
// list (kShipped: the plug-in's own; kMissing: none) and one rule in force.
TEST_F(ErrorReport, TheScanSurvivesOddListsAndFailingReads) {
    const std::vector<std::string> kShipped{"<shipped>"}, kMissing{"<missing>"};
    const std::vector<std::string> kUnreadable{"-x", "dash", "1e30", "huge", "-", "minus", "0", "generic", ""};
    const std::string kCut(255, 'm');
    const struct {
        const char* what;
        std::vector<std::string> list;
        std::optional<FaultRule> rule;
        ASErr code;
        const char* message;   // null: no dialog
        const char* codeText;  // null: not checked
    } cases[] = {
        {"the shipped list: memory", kShipped, {}, kOutOfMemoryErr,
         "There is not enough memory to complete the command.", "MEM!"},
        {"the shipped list: -108", kShipped, {}, -108, "There is not enough memory to complete the command.", "-108"},
        {"the shipped list: others", kShipped, {}, 1234, "An error occurred in Wendlow Brindle.", "1234"},
        {"the shipped list: exceptions", kShipped, {}, kUnexpectedExceptionErr, nullptr, "XCPT"},
        {"a missing list", kMissing, {}, 5, nullptr, nullptr},
        {"an empty first entry", {""}, {}, 5, nullptr, nullptr},
        // The second code read (index 3) fails: the list ends after the first pair.
        {"a failing code read", {"5", "five", "7", "seven", "0", "generic", ""},
         FaultRule::failNthOf(Op::GetIndexString, 2), 7, "five", nullptr},
        // Reads: code entry 1, then the message entry 2.
        {"a failed message read", {"5", "five", ""}, FaultRule::failNthOf(Op::GetIndexString, 2), 5, nullptr, nullptr},
        {"entries unreadable as numbers, -1", kUnreadable, {}, -1, "generic", nullptr},
        {"entries unreadable as numbers, 1", kUnreadable, {}, 1, "generic", nullptr},
        {"a host that cannot read numbers", {"5", "five", "0", "generic", ""},
         FaultRule::failEvery(Op::StringToNumber), 5, "generic", nullptr},
        {"a host that cannot format the code", {"0", "generic", ""}, FaultRule::failEvery(Op::NumberToString),
         -108, "generic", "-108"},
        {"entries longer than their buffers", {"ABCD" + std::string(400, 'x'), std::string(400, 'm'), "0", "g", ""},
         {}, FourCC("ABCD"), kCut.c_str(), "ABCD"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.list == kMissing) h.host.plugin(h.plugin).resources.stringLists().erase(kErrorStringListID);
        else if (c.list != kShipped) useList(c.list);
        h.host.gate().clearRules();
        if (c.rule) h.host.gate().addRule(*c.rule);
        const auto shown = report(c.code);
        ASSERT_EQ(shown.has_value(), c.message != nullptr || c.codeText != nullptr);
        if (!shown) continue;
        EXPECT_TRUE(c.message == nullptr || shown->message == c.message) << shown->message;
        EXPECT_TRUE(c.codeText == nullptr || shown->code == c.codeText) << shown->code;
    }
}

// The scan reads code entries 1, 3, 5... until a read fails, an entry is
// empty, or the index would pass the 16-bit range (the last code entry it
// may read is 32765); it then shows the message before where it stopped.
TEST_F(ErrorReport, TheScanStopsAtTheListsEndOrAtTheSixteenBitBound) {
    const struct {
        const char* name;
        int length;   // entries; odd ones are codes "9" but for the match "7"
        int emptyAt;  // an empty entry there; 0 for none
        int matchAt;  // 0 for no match
        const char* shown;
        std::uint64_t reads;
    } cases[] = {
        {"the end of a short list", 100, 0, 0, "message 100", 51 + 1},
        {"an empty entry", 100, 51, 0, "message 50", 26 + 1},
        {"a match just inside the bound", 40000, 0, 32763, "message 32764", 16382 + 1},
        {"a match past the bound", 40000, 0, 32767, "message 32766", 16383 + 1},
        {"a long list without a match", 40000, 0, 0, "message 32766", 16383 + 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> entries;
        for (int i = 1; i <= c.length; ++i)
            entries.push_back(i == c.emptyAt ? "" : i % 2 == 0 ? "message " + std::to_string(i) : i == c.matchAt ? "7" : "9");
        useList(std::move(entries));
        h.host.gate().resetCounts();
        const auto shown = report(7);
        ASSERT_TRUE(shown);
        EXPECT_EQ(shown->message, c.shown);
        EXPECT_EQ(h.host.gate().calls(Op::GetIndexString), c.reads);
    }
}

}  // namespace
