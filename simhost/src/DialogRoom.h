// Dialogs and alerts: the modal loop, which asks a DialogDriver which item
// the user presses and delivers each press to the plug-in; handles for the
// open dialogs, their items and the notifiers of presses being delivered;
// and the record of every dialog and alert shown.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "ActiveDialog.h"
#include "LoaderRoom.h"
#include "MessageRoom.h"
#include "Room.h"
#include "simhost/Dialogs.h"

namespace simhost {

class DialogRoom : public SendingRoom {
public:
    using SendingRoom::SendingRoom;

    static DialogRoom& current() { return Current<DialogRoom>::get(); }

    const std::vector<DialogRecord>& dialogs() const { return dialogs_; }
    const std::vector<std::string>& alerts() const { return alerts_; }
    void clearDialogsAndAlerts();
    void recordAlert(std::string text) { alerts_.push_back(std::move(text)); }
    // The item the simulated user presses in every modal dialog (default 1).
    void setDialogButton(ai::int32 itemID) { simulatedPress_.setItem(itemID); }
    // Who answers modal dialogs from now on; null restores the simulated
    // press. The driver must outlive its use.
    void setDialogDriver(DialogDriver* driver) { driver_ = driver != nullptr ? driver : &simulatedPress_; }

    // Shows the plug-in's dialog `dialogID` until an item closes it;
    // returns that item, or the code its init procedure refused it with.
    ai::int32 runModal(SPPluginRef plugin, const char* name, ai::int32 dialogID, ADMDialogInitProc initProc,
                       ADMUserData userData);
    // The open dialog a handle names; null, and the breach recorded, if none.
    ActiveDialog* dialogOf(ADMDialogRef dialog);
    ADMItemRef itemOf(ActiveDialog& dialog, ai::int32 itemID);
    // The dialog and item position an item handle names.
    bool resolveItem(ADMItemRef item, ActiveDialog** dialog, std::size_t* position);
    void closeDialog(ActiveDialog& dialog, ai::int32 itemID);
    // The item default-notify may act on: `item` must be the item of a
    // notification now in flight and `notifier` that notification's.
    // Records the breach and returns false otherwise.
    bool checkNotification(ADMItemRef item, ADMNotifierRef notifier, ActiveDialog** dialog, std::size_t* position);

private:
    ActiveDialog& openDialog(PluginId owner, const char* name, ai::int32 dialogID, const DialogSpec& layout,
                             ADMUserData userData);
    void runPresses(ActiveDialog& dialog, DialogRecord& record);
    // One press of `itemID`, as the modal loop delivers it.
    PressRoute pressItem(ActiveDialog& dialog, ai::int32 itemID);

    Current<DialogRoom> registration_{this};
    std::vector<DialogRecord> dialogs_;
    std::vector<std::string> alerts_;
    std::vector<std::unique_ptr<ActiveDialog>> activeDialogs_;
    SimulatedPress simulatedPress_;
    DialogDriver* driver_ = &simulatedPress_;
    // Notifications in flight (a notify procedure may run a nested dialog):
    // the handle of each notifier and of the item it was issued for.
    struct Notification {
        ADMNotifierRef notifier;
        ADMItemRef item;
    };
    std::vector<Notification> notifications_;
    std::uint32_t notifierSerial_ = 0;
};

}  // namespace simhost
