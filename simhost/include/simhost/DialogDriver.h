// Who answers a modal dialog: the host's modal loop asks a driver which item
// the user presses, for as long as the dialog stays open.
//
// The loop runs inside the plug-in's call to the dialog suite's Modal, with
// the plug-in's message still running and its suites held; a driver that
// waits for a person therefore holds that message up until the person
// answers. A press reaches the plug-in through the notify procedure it set on
// the item; only an item with no procedure falls back to the host's own
// reaction (a button closes its dialog).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "ADMSuites.h"
#include "simhost/Resources.h"

namespace simhost {

// An item as the user saw it: its id, kind and text (as the plug-in left
// them), and whether the plug-in gave it a notify procedure.
struct DialogItemRecord : DialogItemSpec {
    bool hasNotifyProc = false;
};

// The dialog as the user sees it at the moment the driver is asked: its
// items' texts as the plug-in's init and notify procedures left them.
struct OpenDialogView {
    std::int32_t plugin = -1;
    ai::int32 resourceID = 0;
    std::string name;
    std::string title;
    std::vector<DialogItemRecord> items;
    int presses = 0;  // presses so far that left the dialog open
};

class DialogDriver {
public:
    virtual ~DialogDriver() = default;
    // The item the user presses next, or nothing when the user walks away
    // (the host then closes the dialog itself, as the last item pressed, or
    // 0). May block; must not call back into the plug-in.
    virtual std::optional<ai::int32> press(const OpenDialogView& dialog) = 0;
};

// The user of the command line, the tests and the validator: presses one
// item once, and walks away if the dialog is still open.
class SimulatedPress final : public DialogDriver {
public:
    explicit SimulatedPress(ai::int32 itemID = 1) : itemID_(itemID) {}
    void setItem(ai::int32 itemID) { itemID_ = itemID; }
    ai::int32 item() const { return itemID_; }
    std::optional<ai::int32> press(const OpenDialogView& dialog) override {
        if (dialog.presses > 0) return std::nullopt;
        return itemID_;
    }

private:
    ai::int32 itemID_;
};

}  // namespace simhost
