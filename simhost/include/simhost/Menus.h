// The host's menus: groups in order of creation, each with its items; a
// group may hang as a submenu under an item.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "HostTypes.h"
#include "simhost/Indices.h"

namespace simhost {

struct MenuItem {
    std::int32_t plugin = -1;  // index of the plug-in that added it
    std::string name;          // the key name given, or one the host made up
    std::string text;          // what the user sees
    MenuGroupIndex group = -1;
    MenuGroupIndex submenu = -1;  // a group hanging under this item
    ai::int32 options = 0;
    bool updatedAutomatically = false;
    ai::int32 updateAction = 0;
    std::array<ai::int32, 6> updateConditions{};
};

struct MenuGroup {
    std::string name;
    MenuItemIndex parentItem = -1;  // the item it hangs under, for a submenu
    ai::int32 options = 0;
    std::vector<MenuItemIndex> items;
    // Lever for a hostile host: get-menu-group-name reports success for this
    // group and hands back a null name. The host itself still knows the name.
    bool reportNullName = false;
};

class Menus {
public:
    // The groups the host starts with, "SelectObject" and "About" among them.
    Menus();

    // Exact, case-sensitive match; -1 when there is none.
    MenuGroupIndex findGroup(const std::string& name) const;
    MenuGroupIndex addGroup(std::string name, MenuItemIndex parentItem = -1, ai::int32 options = 0);
    MenuItemIndex addItem(MenuGroupIndex group, std::int32_t plugin, std::string name, std::string text,
                          ai::int32 options);

    std::size_t groupCount() const { return groups_.size(); }
    std::size_t itemCount() const { return items_.size(); }
    bool hasGroup(std::int64_t index) const {
        return index >= 0 && static_cast<std::uint64_t>(index) < groups_.size();
    }
    bool hasItem(std::int64_t index) const {
        return index >= 0 && static_cast<std::uint64_t>(index) < items_.size();
    }
    // Stable references: groups and items are never moved.
    MenuGroup& group(MenuGroupIndex index) { return groups_[static_cast<std::size_t>(index)]; }
    const MenuGroup& group(MenuGroupIndex index) const { return groups_[static_cast<std::size_t>(index)]; }
    MenuItem& item(MenuItemIndex index) { return items_[static_cast<std::size_t>(index)]; }
    const MenuItem& item(MenuItemIndex index) const { return items_[static_cast<std::size_t>(index)]; }

    // The tree as text: groups that hang under no item, each with its items
    // and their submenus, indented.
    std::string render() const;

private:
    void renderGroup(std::string& out, MenuGroupIndex group, int depth) const;

    std::deque<MenuGroup> groups_;
    std::deque<MenuItem> items_;
};

}  // namespace simhost
