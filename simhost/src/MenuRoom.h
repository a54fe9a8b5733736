// The host's menus as plug-ins see them: handles for items and groups, the
// rule that only a plug-in's own "Startup" may add to them, and choosing an
// item, which sends its plug-in the menu message.
#pragma once

#include <optional>

#include "MessageRoom.h"
#include "Room.h"
#include "simhost/Menus.h"

namespace simhost {

class MenuRoom : public SendingRoom {
public:
    using SendingRoom::SendingRoom;

    static MenuRoom& current() { return Current<MenuRoom>::get(); }

    Menus& menus() { return menus_; }

    AIMenuItemHandle menuItemHandle(MenuItemIndex index) const;
    std::optional<MenuItemIndex> menuItemOf(AIMenuItemHandle handle) const;
    AIMenuGroup menuGroupHandle(MenuGroupIndex index) const;
    std::optional<MenuGroupIndex> menuGroupOf(AIMenuGroup handle) const;

    // "AI Menu" / "AI Go" or "AI Update" to the plug-in that owns the item.
    ASErr chooseMenuItem(AIMenuItemHandle item);
    // The same for an item the host already knows by its index.
    ASErr chooseItem(MenuItemIndex index);
    ASErr updateMenuItem(AIMenuItemHandle item);

    // Whether `plugin` may add menu items and groups now: only during its own
    // "Startup" (or, outside any message, before it has started: a test
    // driving the suites directly). Records the breach otherwise.
    bool mayChangeMenus(PluginId plugin, const char* operation);

private:
    Current<MenuRoom> registration_{this};
    Menus menus_;
};

}  // namespace simhost
