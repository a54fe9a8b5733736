#include "About.h"

#include "shellMain.h"

// goAbout: runs inside a message that holds the suites. Everything the user
// sees comes from the dialog resource; the plug-in only opens the dialog and
// lets the host close it when OK is pressed.
ASErr goAbout(SPInterfaceMessage* message) {
    if (sADMDialog == nullptr || sADMItem == nullptr) return kSuiteNotFoundErr;
    return sADMDialog->Modal(message->d.self, kAboutDialogName, kAboutDialogID,
                             kADMModalDialogStyle, AboutPluginInitProc, nullptr, 0);
}

// Called by the host while it builds the dialog, within goAbout's Modal.
ASErr AboutPluginInitProc(ADMDialogRef dialog) {
    if (sADMDialog == nullptr || sADMItem == nullptr) return kNoErr;
    sADMItem->SetNotifyProc(sADMDialog->GetItem(dialog, 1), AboutDlgOKButtonProc);
    return kNoErr;
}

// Called by the host when the user presses OK.
void AboutDlgOKButtonProc(ADMItemRef item, ADMNotifierRef notifier) {
    if (sADMItem != nullptr) sADMItem->DefaultNotify(item, notifier);
}
