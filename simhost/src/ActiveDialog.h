// A modal dialog while it is up: built from its resource, shown until an
// item closes it.
#pragma once

#include <string>
#include <vector>

#include "ADMSuites.h"
#include "simhost/Plugins.h"
#include "simhost/Resources.h"

namespace simhost {

struct ActiveDialog {
    // The item as the resource laid it out, its text as the plug-in set it.
    struct Item : DialogItemSpec {
        ADMItemNotifyProc notify = nullptr;
    };
    std::size_t index = 0;  // position among the host's dialogs, for handles
    PluginId plugin = -1;
    ai::int32 resourceID = 0;
    std::string name;
    std::string title;
    ADMUserData userData = nullptr;
    std::vector<Item> items;
    bool open = true;
    ai::int32 closedBy = 0;
};

}  // namespace simhost
