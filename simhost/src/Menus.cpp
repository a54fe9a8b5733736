#include "simhost/Menus.h"

namespace simhost {

Menus::Menus() {
    for (const char* name : {"File", "Edit", "SelectObject", "Object", "Window", "About"}) addGroup(name);
}

MenuGroupIndex Menus::findGroup(const std::string& name) const {
    for (std::size_t i = 0; i < groups_.size(); ++i)
        if (groups_[i].name == name) return static_cast<MenuGroupIndex>(i);
    return -1;
}

MenuGroupIndex Menus::addGroup(std::string name, MenuItemIndex parentItem, ai::int32 options) {
    MenuGroup group;
    group.name = std::move(name);
    group.parentItem = parentItem;
    group.options = options;
    groups_.push_back(std::move(group));
    const auto index = static_cast<MenuGroupIndex>(groups_.size() - 1);
    if (parentItem >= 0) item(parentItem).submenu = index;
    return index;
}

MenuItemIndex Menus::addItem(MenuGroupIndex groupIndex, std::int32_t plugin, std::string name,
                             std::string text, ai::int32 options) {
    MenuItem entry;
    entry.plugin = plugin;
    entry.name = std::move(name);
    entry.text = std::move(text);
    entry.group = groupIndex;
    entry.options = options;
    items_.push_back(std::move(entry));
    const auto index = static_cast<MenuItemIndex>(items_.size() - 1);
    group(groupIndex).items.push_back(index);
    return index;
}

void Menus::renderGroup(std::string& out, MenuGroupIndex groupIndex, int depth) const {
    const MenuGroup& g = group(groupIndex);
    out.append(static_cast<std::size_t>(depth) * 2, ' ');
    out += "[" + g.name + "]\n";
    for (MenuItemIndex itemIndex : g.items) {
        const MenuItem& entry = item(itemIndex);
        out.append(static_cast<std::size_t>(depth) * 2 + 2, ' ');
        out += entry.text + "\n";
        if (entry.submenu >= 0) renderGroup(out, entry.submenu, depth + 2);
    }
}

std::string Menus::render() const {
    std::string out;
    for (std::size_t i = 0; i < groups_.size(); ++i)
        if (groups_[i].parentItem < 0) renderGroup(out, static_cast<MenuGroupIndex>(i), 0);
    return out;
}

}  // namespace simhost
