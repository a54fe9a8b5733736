// simhost: the stand-in host's command line.
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <string>

#include "ValidateCommand.h"
#include "simhost/Host.h"

namespace {

std::string defaultPluginPath() {
    char self[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) return "plugins/WendlowBrindle.so";
    self[n] = 0;
    std::string dir(self);
    dir.erase(dir.find_last_of('/') + 1);
    return dir + "plugins/WendlowBrindle.so";
}

void usage(FILE* out) {
    std::fprintf(out,
                 "usage: simhost [--plugin PATH]\n"
                 "Loads the plug-in, starts it, shows what it installed and shuts it down.\n");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "validate") == 0) return runValidateCommand(argc - 1, argv + 1);
    std::string pluginPath = defaultPluginPath();
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--plugin" && i + 1 < argc) {
            pluginPath = argv[++i];
        } else if (arg == "--help" || arg == "-h") {
            usage(stdout);
            return 0;
        } else if (arg == "--version") {
            std::printf("simhost %s\n", WENDLOW_VERSION);
            return 0;
        } else {
            usage(stderr);
            return 2;
        }
    }

    try {
        simhost::Host host;
        const simhost::PluginId plugin = host.loadPlugin(pluginPath);
        const ASErr started = host.startup(plugin);
        std::printf("Loaded %s\n", pluginPath.c_str());
        std::printf("Startup returned %d; the plug-in calls itself \"%s\"\n", static_cast<int>(started),
                    host.plugin(plugin).name.c_str());
        std::printf("%s", host.menus().render().c_str());
        const ASErr stopped = host.shutdown(plugin);
        std::printf("Shutdown returned %d\n", static_cast<int>(stopped));
        const auto problems = host.problems();
        for (const std::string& line : problems) std::fprintf(stderr, "simhost: %s\n", line.c_str());
        return started == kNoErr && stopped == kNoErr && problems.empty() ? 0 : 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "simhost: %s\n", e.what());
        return 2;
    }
}
