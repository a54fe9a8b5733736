// The plug-in's globals block: the handles of its menu items, which the menu
// dispatch compares with the item the host names.
#pragma once

#include "HostTypes.h"

constexpr int kMenuCommandCount = 18;
constexpr int kAboutItemSlot = 19;
constexpr int kGlobalSlotCount = 21;

struct PluginGlobals {
    // Slots 0 to 17: the command items; 19: the About item; 18 and 20 unused.
    AIMenuItemHandle menuItems[kGlobalSlotCount];
};
static_assert(sizeof(PluginGlobals) == kGlobalSlotCount * sizeof(void*),
              "21 pointer-sized slots: 84 bytes on 32-bit targets");
