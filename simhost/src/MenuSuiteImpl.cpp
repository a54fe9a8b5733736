// "AI Menu Suite" at versions 1007 (Pascal item texts) and 1008 (Unicode
// item texts).
#include <cstring>

#include "IAIUnicodeString.h"
#include "MenuRoom.h"
#include "MessageRoom.h"
#include "Suites.h"

namespace simhost {

namespace {

// Longest key name, terminating zero included.
constexpr std::size_t kMaxItemName = 255;

std::string textOf(const AIPlatformAddMenuItemData& data) {
    if (data.itemText == nullptr) return {};
    return std::string(reinterpret_cast<const char*>(data.itemText + 1), data.itemText[0]);
}

std::string textOf(const AIPlatformAddMenuItemDataUS& data) {
    const AIUnicodeStringHandle handle = ai::UnicodeString::HandleOf(&data.itemText);
    if (handle == nullptr) return {};
    const std::string* text = MenuRoom::current().ledger().stringText(handle);
    return text == nullptr ? std::string() : *text;
}

// The record's text, checked: 0, or the code the call is refused with.
ASErr checkText(MenuRoom& room, const AIPlatformAddMenuItemData& data) {
    return data.itemText == nullptr ? room.badParameter("add-menu-item", "null item text") : kNoErr;
}

ASErr checkText(MenuRoom& room, const AIPlatformAddMenuItemDataUS& data) {
    const AIUnicodeStringHandle handle = ai::UnicodeString::HandleOf(&data.itemText);
    if (handle == nullptr)
        return room.refuse("string-not-initialised", "add-menu-item", "the item text holds no string");
    if (!room.ledger().isLiveString(handle))
        return room.badParameter("add-menu-item", "item text is not a live string");
    return kNoErr;
}

template <typename Record>
ASErr AddMenuItem(SPPluginRef plugin, const char* itemName, Record* data, ai::int32 options,
                  AIMenuItemHandle* item) {
    MenuRoom& room = MenuRoom::current();
    if (ASErr err = room.gate().enter(Op::AddMenuItem, CallSubject{plugin, itemName}, [&] {
            std::string text = showText(itemName);
            if (data != nullptr) text += ", group " + showText(data->groupName) + ", \"" + textOf(*data) + "\"";
            return text + ", " + std::to_string(options);
        }))
        return err;
    const auto owner = MessageRoom::current().pluginForCall(plugin, "add-menu-item");
    if (!owner) return kBadParameterErr;
    if (!room.mayChangeMenus(*owner, "add-menu-item")) return kBadParameterErr;
    if (data == nullptr || item == nullptr || data->groupName == nullptr)
        return room.badParameter("add-menu-item", "null record, group name or result");
    // The key name must be a C string; a Pascal string's buffer is not one.
    if (itemName != nullptr && std::memchr(itemName, 0, kMaxItemName) == nullptr)
        return room.badParameter("add-menu-item", "item name is not terminated within 255 bytes");
    if (ASErr err = checkText(room, *data)) return err;
    const MenuGroupIndex group = room.menus().findGroup(data->groupName);
    if (group < 0) return kBadParameterErr;

    Menus& menus = room.menus();
    std::string name = itemName != nullptr ? std::string(itemName)
                                           : "item " + std::to_string(menus.itemCount() + 1);
    const MenuItemIndex added = menus.addItem(group, *owner, std::move(name), textOf(*data), options);
    *item = room.menuItemHandle(added);
    return kNoErr;
}

ASErr UpdateMenuItemAutomatically(AIMenuItemHandle item, ai::int32 action, ai::int32 c1, ai::int32 c2,
                                  ai::int32 c3, ai::int32 c4, ai::int32 c5, ai::int32 c6) {
    MenuRoom& room = MenuRoom::current();
    if (ASErr err = room.gate().enter(Op::UpdateMenuItemAutomatically, CallSubject{item, nullptr}, [&] {
            std::string text = showPointer(item) + ", " + std::to_string(action);
            for (ai::int32 c : {c1, c2, c3, c4, c5, c6}) text += ", " + std::to_string(c);
            return text;
        }))
        return err;
    const auto index = room.menuItemOf(item);
    if (!index) return room.badParameter("update-automatically", "unknown menu item " + showPointer(item));
    MenuItem& entry = room.menus().item(*index);
    entry.updatedAutomatically = true;
    entry.updateAction = action;
    entry.updateConditions = {c1, c2, c3, c4, c5, c6};
    return kNoErr;
}

ASErr AddMenuGroupAsSubMenu(const char* groupName, ai::int32 options, AIMenuItemHandle item, AIMenuGroup* group) {
    MenuRoom& room = MenuRoom::current();
    if (ASErr err = room.gate().enter(Op::AddMenuGroupAsSubMenu, CallSubject{item, groupName}, [&] {
            return showText(groupName) + ", " + std::to_string(options) + ", " + showPointer(item);
        }))
        return err;
    const auto parent = room.menuItemOf(item);
    if (!parent) return room.badParameter("add-menu-group-as-submenu", "unknown menu item " + showPointer(item));
    if (groupName == nullptr || group == nullptr)
        return room.badParameter("add-menu-group-as-submenu", "null group name or result");
    if (!room.mayChangeMenus(room.menus().item(*parent).plugin, "add-menu-group-as-submenu")) return kBadParameterErr;
    Menus& menus = room.menus();
    // A group name is unique, and an item carries at most one submenu.
    if (menus.findGroup(groupName) >= 0 || menus.item(*parent).submenu >= 0) return kBadParameterErr;
    *group = room.menuGroupHandle(menus.addGroup(groupName, *parent, options));
    return kNoErr;
}

ASErr GetMenuGroupName(AIMenuGroup group, const char** name) {
    MenuRoom& room = MenuRoom::current();
    if (ASErr err =
            room.gate().enter(Op::GetMenuGroupName, CallSubject{group, nullptr}, [&] { return showPointer(group); }))
        return err;
    const auto index = room.menuGroupOf(group);
    if (!index) return room.badParameter("get-menu-group-name", "unknown menu group " + showPointer(group));
    if (name == nullptr) return room.badParameter("get-menu-group-name", "null result pointer");
    const MenuGroup& entry = room.menus().group(*index);
    *name = entry.reportNullName ? nullptr : entry.name.c_str();
    return kNoErr;
}

ASErr CountMenuGroups(ai::int32* count) {
    MenuRoom& room = MenuRoom::current();
    if (ASErr err = room.gate().enter(Op::CountMenuGroups)) return err;
    if (count == nullptr) return room.badParameter("count-menu-groups", "null result pointer");
    *count = static_cast<ai::int32>(room.menus().groupCount());
    return kNoErr;
}

ASErr GetNthMenuGroup(ai::int32 n, AIMenuGroup* group) {
    MenuRoom& room = MenuRoom::current();
    if (ASErr err = room.gate().enter(Op::GetNthMenuGroup, nullptr, [&] { return std::to_string(n); }))
        return err;
    if (group == nullptr) return room.badParameter("get-nth-menu-group", "null result pointer");
    if (!room.menus().hasGroup(n))
        return room.badParameter("get-nth-menu-group", "no group " + std::to_string(n) + " of " +
                                                           std::to_string(room.menus().groupCount()));
    *group = room.menuGroupHandle(n);
    return kNoErr;
}

template <typename Suite, typename Record>
void fillMenuSuite(void* table) {
    Suite suite{};
    suite.AddMenuItem = AddMenuItem<Record>;
    suite.UpdateMenuItemAutomatically = UpdateMenuItemAutomatically;
    suite.AddMenuGroupAsSubMenu = AddMenuGroupAsSubMenu;
    suite.GetMenuGroupName = GetMenuGroupName;
    suite.CountMenuGroups = CountMenuGroups;
    suite.GetNthMenuGroup = GetNthMenuGroup;
    storeTable(table, suite);
}

}  // namespace

void fillMenuSuite1007(void* table) {
    fillMenuSuite<AIMenuSuite1007, AIPlatformAddMenuItemData>(table);
}

void fillMenuSuite1008(void* table) {
    fillMenuSuite<AIMenuSuite, AIPlatformAddMenuItemDataUS>(table);
}

}  // namespace simhost
