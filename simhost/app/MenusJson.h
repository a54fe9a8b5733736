// The menus a plug-in installed, as JSON: what `simhost menus --json` prints
// and the web server's GET /api/menus answers.
#pragma once

#include <string>

#include "simhost/Menus.h"

namespace simhost_app {

// {"groups": [{"name", "items": [{"text", "name", "ours", "choosable",
// "submenu"?}], "groups": [...]}]}: the groups that hang under no item and
// hold an item of plug-in `plugin` somewhere below, in order of creation; a
// submenu's group among the "groups" of the group holding its item.
std::string menusJson(const simhost::Menus& menus, std::int32_t plugin);

}  // namespace simhost_app
