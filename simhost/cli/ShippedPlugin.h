// Where the command line finds the plug-in it ships with. The host library
// loads whatever path it is given; only the program knows its own layout.
#pragma once

#include <string>

namespace simhost {

// The shipped plug-in as the build lays it out: plugins/WendlowBrindle.so
// beside the running program (that relative path when the program's own
// path cannot be read).
std::string shippedPluginPath();

}  // namespace simhost
