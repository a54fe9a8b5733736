#include "MenusJson.h"

#include <functional>

#include <nlohmann/json.hpp>

namespace simhost_app {

using namespace simhost;
using nlohmann::json;

std::string menusJson(const Menus& menus, std::int32_t ours) {
    std::function<bool(MenuGroupIndex)> holdsOurs = [&](MenuGroupIndex g) {
        for (const MenuItemIndex i : menus.group(g).items)
            if (menus.item(i).plugin == ours || (menus.item(i).submenu >= 0 && holdsOurs(menus.item(i).submenu)))
                return true;
        return false;
    };
    std::function<json(MenuGroupIndex)> groupJson = [&](MenuGroupIndex g) {
        json items = json::array(), groups = json::array();
        for (const MenuItemIndex i : menus.group(g).items) {
            const MenuItem& item = menus.item(i);
            json entry = {{"text", item.text}, {"name", item.name}, {"ours", item.plugin == ours},
                          {"choosable", item.plugin == ours && item.submenu < 0}};
            if (item.submenu >= 0) {
                entry["submenu"] = menus.group(item.submenu).name;
                groups.push_back(groupJson(item.submenu));
            }
            items.push_back(std::move(entry));
        }
        return json{{"name", menus.group(g).name}, {"items", items}, {"groups", groups}};
    };
    json top = json::array();
    for (std::size_t g = 0; g < menus.groupCount(); ++g) {
        const auto index = static_cast<MenuGroupIndex>(g);
        if (menus.group(index).parentItem < 0 && holdsOurs(index)) top.push_back(groupJson(index));
    }
    return json{{"groups", top}}.dump(-1, ' ', false, json::error_handler_t::replace);
}

}  // namespace simhost_app
