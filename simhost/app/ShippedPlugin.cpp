#include "ShippedPlugin.h"

#include <unistd.h>

#include <climits>
#include <cstdlib>

namespace simhost {

std::string shippedPluginPath() {
    // Relative to the program's directory: the build tree's layout, then the
    // installed one (kept in step with the install rules of CMakeLists.txt).
    static const char* const layouts[] = {"plugins/WendlowBrindle.so",
                                          "../lib/wendlow-brindle/plugins/WendlowBrindle.so"};
    char self[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) return layouts[0];
    self[n] = 0;
    std::string dir(self);
    dir.erase(dir.find_last_of('/') + 1);
    for (const char* layout : layouts) {
        char found[PATH_MAX];  // without the "bin/..", for the messages that name it
        if (realpath((dir + layout).c_str(), found) != nullptr) return found;
    }
    return dir + layouts[0];
}

}  // namespace simhost
