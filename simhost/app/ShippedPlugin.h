// Where the command line finds the plug-in it ships with. The host library
// loads whatever path it is given; only the program knows its own layout.
#pragma once

#include <string>

namespace simhost {

// The shipped plug-in, found from the running program's own path: in the
// build tree, plugins/WendlowBrindle.so beside the program; once installed,
// ../lib/wendlow-brindle/plugins/WendlowBrindle.so from its bin/. The first
// that exists; the build tree's when neither does (relative to the working
// directory when the program's own path cannot be read), so that the
// message about a missing plug-in names a path.
std::string shippedPluginPath();

}  // namespace simhost
