// The About dialog: dialog resource 16050 of the plug-in's resources.
#pragma once

#include "ADMSuites.h"
#include "SPSuites.h"

constexpr ai::int32 kAboutDialogID = 16050;
constexpr const char* kAboutDialogName = "About Dialog";

// Shows the About dialog modally; returns what the host's modal call
// returned (the ID of the item that closed it, or a host error code).
ASErr goAbout(SPInterfaceMessage* message);
// Makes item 1 (OK) close the dialog.
ASErr AboutPluginInitProc(ADMDialogRef dialog);
void AboutDlgOKButtonProc(ADMItemRef item, ADMNotifierRef notifier);
