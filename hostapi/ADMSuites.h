// The host's dialog layer: string lists from a plug-in's resource file,
// alerts, and modal dialogs built from dialog resources.
#pragma once

#include "HostTypes.h"

// Dialogs run inside ADMDialogSuite::Modal: the host builds the dialog,
// calls its init procedure, then calls item notify procedures as the user
// acts, all on the caller's thread before Modal returns, so the suites the
// caller's message holds are still held in them. Dialog and item references
// are the host's and live until Modal returns; never keep one.

// Called by the host once a modal dialog's items exist and before the user
// sees it. Returns 0 to go on; any other code closes the dialog at once, and
// Modal returns that code.
using ADMDialogInitProc = ASErr (*)(ADMDialogRef dialog);
// Called by the host when the user acts on an item that has it as notify
// procedure. Pass the notification on to DefaultNotify for the standard
// behaviour: the OK item's procedure must, as that is what closes the
// dialog; the host treats a press of OK that leaves it open as a fault.
using ADMItemNotifyProc = void (*)(ADMItemRef item, ADMNotifierRef notifier);

// ---------------------------------------------------------------------------
// "ADM Basic Suite" 2
// ---------------------------------------------------------------------------
constexpr const char* kADMBasicSuite = "ADM Basic Suite";
constexpr ai::int32 kADMBasicSuiteVersion = 2;
struct ADMBasicSuite {
    // 0. Reads entry `index` (from 1) of string list `listID` in the plug-in's
    // resources into `buffer` as a C string: the host writes at most
    // maxLength bytes, maxLength - 1 characters and a zero, and nothing past
    // them. Fails with kResourceNotFoundErr when the list or the entry does
    // not exist, with kBadParameterErr for an unknown plug-in, a null buffer
    // or a maxLength below 1; the buffer is then left as it was.
    ASErr (*GetIndexString)(SPPluginRef plugin, ai::int32 listID, ai::int32 index, char* buffer,
                            ai::int32 maxLength);
    SPReservedProc reserved1to2[2];
    // 3. Shows `text` to the user in an alert and returns when it is closed.
    // The host copies the text. Reports nothing: a failure shows no alert.
    void (*ErrorAlert)(const char* text);
};
HOSTAPI_PIN(ADMBasicSuite, GetIndexString, 0);
HOSTAPI_PIN(ADMBasicSuite, ErrorAlert, 3);

// ---------------------------------------------------------------------------
// "ADM Dialog Suite" 10
// ---------------------------------------------------------------------------
constexpr const char* kADMDialogSuite = "ADM Dialog Suite";
constexpr ai::int32 kADMDialogSuiteVersion = 10;
constexpr ai::int32 kADMModalDialogStyle = 0;
struct ADMDialogSuite {
    SPReservedProc reserved0;
    // 1. Builds dialog resource `dialogID` of the plug-in, calls `initProc`,
    // shows it and returns when it is closed: the ID of the item that closed
    // it (the host closes a dialog the user walks away from as the last item
    // pressed, 0 when none was), the init procedure's code when that refused
    // it, or a host error code when the dialog could not be shown
    // (kResourceNotFoundErr: no such dialog). `name` is copied;
    // `userData` is handed to the procedures untouched and must stay valid
    // until Modal returns.
    ai::int32 (*Modal)(SPPluginRef plugin, const char* name, ai::int32 dialogID,
                       ai::int32 style, ADMDialogInitProc initProc, ADMUserData userData,
                       ai::int32 options);
    SPReservedProc reserved2to23[22];
    // 24. The user data given to Modal; null for a dialog that is not open or
    // when the call fails. Returns the value, not an error code.
    ADMUserData (*GetUserData)(ADMDialogRef dialog);
    SPReservedProc reserved25to77[53];
    // 78. The dialog's item `itemID`; null when it has none or the call fails.
    ADMItemRef (*GetItem)(ADMDialogRef dialog, ai::int32 itemID);
};
HOSTAPI_PIN(ADMDialogSuite, Modal, 1);
HOSTAPI_PIN(ADMDialogSuite, GetUserData, 24);
HOSTAPI_PIN(ADMDialogSuite, GetItem, 78);

// ---------------------------------------------------------------------------
// "ADM Item Suite" 7
// ---------------------------------------------------------------------------
constexpr const char* kADMItemSuite = "ADM Item Suite";
constexpr ai::int32 kADMItemSuiteVersion = 7;
// Its members return nothing: a call that fails, or names a null or dead
// item, changes nothing and says so to no one.
struct ADMItemSuite {
    SPReservedProc reserved0to9[10];
    // 10. Makes `proc` the item's notify procedure, called inside Modal. A
    // null item is ignored.
    void (*SetNotifyProc)(ADMItemRef item, ADMItemNotifyProc proc);
    SPReservedProc reserved11;
    // 12. The item's standard reaction to a notification: a button closes its
    // dialog with its ID.
    void (*DefaultNotify)(ADMItemRef item, ADMNotifierRef notifier);
    SPReservedProc reserved13to74[62];
    // 75. Sets the item's text; the host copies it. A null item is ignored.
    void (*SetText)(ADMItemRef item, const char* text);
};
HOSTAPI_PIN(ADMItemSuite, SetNotifyProc, 10);
HOSTAPI_PIN(ADMItemSuite, DefaultNotify, 12);
HOSTAPI_PIN(ADMItemSuite, SetText, 75);

// ---------------------------------------------------------------------------
// "ADM Icon Suite" 1: acquired with the standard suite set, not called.
// ---------------------------------------------------------------------------
constexpr const char* kADMIconSuite = "ADM Icon Suite";
constexpr ai::int32 kADMIconSuiteVersion = 1;
struct ADMIconSuite {
    SPReservedProc reserved[4];
};
