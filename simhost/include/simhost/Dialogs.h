// The modal dialogs a host has shown, as its callers read them afterwards.
#pragma once

#include <vector>

#include "simhost/DialogDriver.h"
#include "simhost/Plugins.h"

namespace simhost {

// How one press of a dialog item reached the plug-in.
enum class PressRoute {
    kNotifyProc,  // through the notify procedure the plug-in set on the item
    kHostButton,  // no procedure set: the host's own reaction closed the dialog
    kIgnored,     // no procedure set and not a button: nothing happened
    kNoSuchItem,  // the dialog has no item with that id
};

struct DialogPress {
    ai::int32 item = 0;
    PressRoute route = PressRoute::kIgnored;
};

// A modal dialog as it was shown.
struct DialogRecord {
    PluginId plugin = -1;
    ai::int32 resourceID = 0;
    std::string name;   // as the plug-in asked for it
    std::string title;  // from the resource
    std::vector<DialogItemRecord> items;  // texts as the user saw them
    ASErr initResult = kNoErr;
    ai::int32 closedBy = 0;  // the item that closed it; 0 when init refused it
    bool closedByUser = false;  // false when the host had to close it itself
    std::vector<DialogPress> presses;  // in order; empty when init refused it
};

}  // namespace simhost
