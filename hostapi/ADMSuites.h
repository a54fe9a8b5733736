// The host's dialog layer: string lists from a plug-in's resource file,
// alerts, and modal dialogs built from dialog resources.
#pragma once

#include "HostTypes.h"

// Called by the host once a modal dialog's items exist and before the user
// sees it. Returns 0 to go on; any other code closes the dialog at once.
using ADMDialogInitProc = ASErr (*)(ADMDialogRef dialog);
// Called by the host when the user acts on an item that has it as notify
// procedure. Pass the notification on to DefaultNotify for the standard
// behaviour (a button's closes its dialog).
using ADMItemNotifyProc = void (*)(ADMItemRef item, ADMNotifierRef notifier);

// ---------------------------------------------------------------------------
// "ADM Basic Suite" 2
// ---------------------------------------------------------------------------
constexpr const char* kADMBasicSuite = "ADM Basic Suite";
constexpr ai::int32 kADMBasicSuiteVersion = 2;
struct ADMBasicSuite {
    // 0. Reads entry `index` (from 1) of string list `listID` in the plug-in's
    // resources into `buffer` as a C string of at most maxLength - 1
    // characters and a zero. Fails with kResourceNotFoundErr when the list or
    // the entry does not exist; the buffer is then left as it was.
    ASErr (*GetIndexString)(SPPluginRef plugin, ai::int32 listID, ai::int32 index, char* buffer,
                            ai::int32 maxLength);
    SPReservedProc reserved1to2[2];
    // 3. Shows `text` to the user in an alert and returns when it is closed.
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
    // shows it and returns when the user closes it: the ID of the item that
    // closed it, or a host error code when the dialog could not be shown.
    ai::int32 (*Modal)(SPPluginRef plugin, const char* name, ai::int32 dialogID,
                       ai::int32 style, ADMDialogInitProc initProc, ADMUserData userData,
                       ai::int32 options);
    SPReservedProc reserved2to23[22];
    // 24. The user data given to Modal. Returns the value, not an error code.
    ADMUserData (*GetUserData)(ADMDialogRef dialog);
    SPReservedProc reserved25to77[53];
    // 78. The dialog's item `itemID`, or null when it has none.
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
struct ADMItemSuite {
    SPReservedProc reserved0to9[10];
    // 10. Makes `proc` the item's notify procedure. A null item is ignored.
    void (*SetNotifyProc)(ADMItemRef item, ADMItemNotifyProc proc);
    SPReservedProc reserved11;
    // 12. The item's standard reaction to a notification.
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
