// Shows a handler's error code to the user: the message the plug-in's error
// string list gives for it, and the code as text, in the modal error dialog.
#pragma once

#include "ADMSuites.h"
#include "SPSuites.h"

constexpr ai::int32 kErrorStringListID = 16050;
constexpr ai::int32 kErrorDialogID = 16051;
constexpr const char* kErrorDialogName = "Error Dialog";

// The record handed to the error dialog as its user data. The dialog's init
// procedure finds the code text 256 bytes after the start.
struct ErrorDialogData {
    char message[256];
    // Sized for any Pascal string the host's number formatting may write.
    char code[256];
};
static_assert(offsetof(ErrorDialogData, code) == 256, "code text at byte 256");

// Shows `code` unless it is 0 or kCanceledErr, or the suites it needs are
// not held. Returns when the user has closed the dialog.
void report_error(SPInterfaceMessage* message, ASErr code);

// Writes `code` in decimal into `text` (at least 256 bytes) as a C string.
char* AIErrToCString(ASErr code, char* text);
// Reads the number in the C string `text` (at most 255 characters), which is
// left converted to a Pascal string. The value is truncated toward zero and
// wrapped to 16 bits; a text the host cannot read, or a value outside the
// 32-bit range, gives 0, which no reported code equals.
void CStringToAIErr(char* text, ai::int32* value);

ASErr ErrorDialogInitProc(ADMDialogRef dialog);
void ErrorDialogOKButtonProc(ADMItemRef item, ADMNotifierRef notifier);
