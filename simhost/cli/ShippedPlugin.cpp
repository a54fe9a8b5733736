#include "ShippedPlugin.h"

#include <unistd.h>

#include <climits>

namespace simhost {

std::string shippedPluginPath() {
    const std::string relative = "plugins/WendlowBrindle.so";
    char self[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) return relative;
    self[n] = 0;
    std::string dir(self);
    dir.erase(dir.find_last_of('/') + 1);
    return dir + relative;
}

}  // namespace simhost
