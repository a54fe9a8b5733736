// A modal dialog while it is up: built from its resource, shown until an
// item closes it.
#pragma once

#include <string>
#include <vector>

#include "ADMSuites.h"
#include "simhost/Plugins.h"

namespace simhost {

struct ActiveDialog {
    struct Item {
        ai::int32 id = 0;
        std::string kind;
        std::string text;
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
