#include "MenuRoom.h"

#include <cstring>
#include <stdexcept>

#include "AISuites.h"
#include "Handles.h"

namespace simhost {

AIMenuItemHandle MenuRoom::menuItemHandle(MenuItemIndex index) const {
    return makeHandle<AIMenuItemHandle>(HandleKind::kMenuItem, static_cast<std::uint32_t>(index));
}

AIMenuGroup MenuRoom::menuGroupHandle(MenuGroupIndex index) const {
    return makeHandle<AIMenuGroup>(HandleKind::kMenuGroup, static_cast<std::uint32_t>(index));
}

std::optional<MenuItemIndex> MenuRoom::menuItemOf(AIMenuItemHandle handle) const {
    return liveIndex<MenuItemIndex>(HandleKind::kMenuItem, handle, [this](auto i) { return menus_.hasItem(i); });
}

std::optional<MenuGroupIndex> MenuRoom::menuGroupOf(AIMenuGroup handle) const {
    return liveIndex<MenuGroupIndex>(HandleKind::kMenuGroup, handle, [this](auto i) { return menus_.hasGroup(i); });
}

ASErr MenuRoom::chooseMenuItem(AIMenuItemHandle item) {
    const auto index = menuItemOf(item);
    if (!index) throw std::invalid_argument("not a menu item of this host");
    return messages_.sendMenu(menus_.item(*index).plugin, kSelectorAIGoMenuItem, item);
}

ASErr MenuRoom::chooseItem(MenuItemIndex index) {
    return messages_.sendMenu(menus_.item(index).plugin, kSelectorAIGoMenuItem, menuItemHandle(index));
}

ASErr MenuRoom::updateMenuItem(AIMenuItemHandle item) {
    const auto index = menuItemOf(item);
    if (!index) throw std::invalid_argument("not a menu item of this host");
    return messages_.sendMenu(menus_.item(*index).plugin, kSelectorAIUpdateMenuItem, item);
}

bool MenuRoom::mayChangeMenus(PluginId id, const char* operation) {
    const auto& message = messages_.inFlight();
    if (message ? std::strcmp(message->caller, kSPInterfaceCaller) == 0 &&
                      std::strcmp(message->selector, kSPInterfaceStartupSelector) == 0
                : !loader_.plugin(id).started)
        return true;
    refuse("menu-after-startup", operation,
           message ? std::string("during ") + message->caller + " / " + message->selector
                   : std::string("outside any message, after \"Startup\""));
    return false;
}

}  // namespace simhost
