#include "reportError.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "shellMain.h"
#include "stringUtils.h"

namespace {

constexpr int kCodeEntryLength = 255;
constexpr int kMessageEntryLength = 256;
// The list is indexed with signed 16-bit numbers; a message index must not
// pass this.
constexpr ai::int32 kLastIndex = 32767;

bool isPrintable(unsigned char c) {
    return c >= 0x20 && c < 0x7F;
}

bool allPrintable(ASErr code) {
    const auto u = static_cast<std::uint32_t>(code);
    for (int shift = 24; shift >= 0; shift -= 8)
        if (!isPrintable(static_cast<unsigned char>(u >> shift))) return false;
    return true;
}

void writeExactDecimal(ASErr code, char* text) {
    std::snprintf(text, 16, "%ld", static_cast<long>(code));
}

// The value a code entry stands for: a number, or the four-character code of
// its first four characters.
ASErr codeOfEntry(char* entry) {
    const unsigned char first = static_cast<unsigned char>(entry[0]);
    if (first == '-' || (first >= '0' && first <= '9')) {
        ai::int32 value = 0;
        CStringToAIErr(entry, &value);
        return value;
    }
    const unsigned char* p = SUctopstr(entry);
    if (p == nullptr) return kNoErr;
    // Entries shorter than four characters read the zeros the buffer was
    // cleared with.
    return static_cast<ASErr>((std::uint32_t(p[1]) << 24) | (std::uint32_t(p[2]) << 16) |
                              (std::uint32_t(p[3]) << 8) | std::uint32_t(p[4]));
}

// Finds the index of the message entry for `code`: the entry after the first
// code entry that matches, else the last message before the end of the list.
// A read that fails ends the list just as the empty entry does.
ai::int32 findMessageIndex(SPPluginRef plugin, ASErr code) {
    char entry[kCodeEntryLength + 1];
    ai::int32 index = 1;
    for (; index + 1 <= kLastIndex; index += 2) {
        std::memset(entry, 0, sizeof entry);
        const ASErr err =
            sADMBasic->GetIndexString(plugin, kErrorStringListID, index, entry, kCodeEntryLength);
        if (err != kNoErr || entry[0] == 0) break;
        if (codeOfEntry(entry) == code) return index + 1;
    }
    return index - 1;
}

void writeCodeText(ASErr code, char* text) {
    const ASErr high = code >> 16;
    if (high == 0 || high == -1) {
        AIErrToCString(code, text);
    } else if (allPrintable(code)) {
        unsigned char* pascal = reinterpret_cast<unsigned char*>(text);
        const auto u = static_cast<std::uint32_t>(code);
        pascal[0] = 4;
        pascal[1] = static_cast<unsigned char>(u >> 24);
        pascal[2] = static_cast<unsigned char>(u >> 16);
        pascal[3] = static_cast<unsigned char>(u >> 8);
        pascal[4] = static_cast<unsigned char>(u);
        SUptocstr(pascal);
    } else {
        // Four bytes that do not read as characters would show as nothing or
        // as garbage: show the number itself.
        writeExactDecimal(code, text);
    }
}

}  // namespace

void report_error(SPInterfaceMessage* message, ASErr code) {
    if (code == kNoErr || code == kCanceledErr) return;
    // The list, the dialog and its texts need these three. Without the Item
    // suite the dialog could show no message and no code, only an OK
    // button; the acquisition alert has already named the missing suite.
    // Without the User suite the code is written in decimal by the plug-in
    // itself and numeric entries of the list match nothing.
    if (sADMBasic == nullptr || sADMDialog == nullptr || sADMItem == nullptr) return;

    const SPPluginRef plugin = message->d.self;
    const ai::int32 messageIndex = findMessageIndex(plugin, code);

    ErrorDialogData data;
    std::memset(&data, 0, sizeof data);
    if (sADMBasic->GetIndexString(plugin, kErrorStringListID, messageIndex, data.message,
                                  kMessageEntryLength) != kNoErr)
        return;
    data.message[sizeof data.message - 1] = 0;
    writeCodeText(code, data.code);

    sADMDialog->Modal(plugin, kErrorDialogName, kErrorDialogID, kADMModalDialogStyle,
                      ErrorDialogInitProc, &data, 0);
}

char* AIErrToCString(ASErr code, char* text) {
    auto* pascal = reinterpret_cast<unsigned char*>(text);
    pascal[0] = 0;
    // Exact in a float for every code shown in decimal (|code| <= 65536).
    if (sAIUser == nullptr ||
        sAIUser->NumberToString(static_cast<AIReal>(code), 0, pascal) != kNoErr) {
        writeExactDecimal(code, text);
        return text;
    }
    return SUptocstr(pascal);
}

void CStringToAIErr(char* text, ai::int32* value) {
    *value = 0;
    const unsigned char* pascal = SUctopstr(text);
    if (pascal == nullptr || sAIUser == nullptr) return;
    AIReal number = 0;
    if (sAIUser->StringToNumber(pascal, &number) != kNoErr) return;
    // Converting a float outside the integer range is undefined; such an
    // entry stands for no code.
    if (!std::isfinite(number) || std::fabs(number) >= 2147483648.0f) return;
    const auto whole = static_cast<std::int32_t>(number > 0.0f ? std::floor(number) : std::ceil(number));
    // Entries name 16-bit codes: 65535 stands for -1.
    *value = static_cast<std::int16_t>(static_cast<std::uint16_t>(static_cast<std::uint32_t>(whole) & 0xFFFFu));
}

// Called by the host while it builds the error dialog, within report_error's
// Modal; the user data is report_error's ErrorDialogData.
ASErr ErrorDialogInitProc(ADMDialogRef dialog) {
    if (sADMDialog == nullptr || sADMItem == nullptr) return kNoErr;
    sADMItem->SetNotifyProc(sADMDialog->GetItem(dialog, 1), ErrorDialogOKButtonProc);
    const auto* data = static_cast<const char*>(sADMDialog->GetUserData(dialog));
    if (data == nullptr) return kNoErr;
    sADMItem->SetText(sADMDialog->GetItem(dialog, 2), data);
    sADMItem->SetText(sADMDialog->GetItem(dialog, 3), data + offsetof(ErrorDialogData, code));
    return kNoErr;
}

void ErrorDialogOKButtonProc(ADMItemRef item, ADMNotifierRef notifier) {
    if (sADMItem != nullptr) sADMItem->DefaultNotify(item, notifier);
}
