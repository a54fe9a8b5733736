// What the host numbers its objects by: plug-ins in load order, menu items
// and groups in order of creation, art and layers by their place in the
// document. Handles given to plug-ins carry these indices.
#pragma once

#include <cstdint>

namespace simhost {

using PluginId = std::int32_t;
using MenuItemIndex = std::int32_t;
using MenuGroupIndex = std::int32_t;
using ArtIndex = std::int32_t;
using LayerIndex = std::int32_t;

}  // namespace simhost
