// The plug-ins a host has loaded, as its callers see them.
#pragma once

#include <cstdint>
#include <string>

#include "SPSuites.h"
#include "simhost/Indices.h"
#include "simhost/Resources.h"

namespace simhost {

// What send() returns when an exception escaped the plug-in's entry point.
constexpr ASErr kPluginThrewErr = FourCC("THRW");

struct LoadedPlugin {
    std::string path;          // the library, or a label for an attached entry point
    void* library = nullptr;   // dlopen handle; null for an attached entry point
    SPPluginMainProc main = nullptr;
    Resources resources;
    std::string name;          // as the plug-in set it
    void* globals = nullptr;   // the globals word the host keeps for it
    const void* globalsBlock = nullptr;  // the block it allocated during "Startup"
    bool started = false;
};

// How the host answers reads of the plug-in's string lists; a lever for
// hostile hosts.
struct StringListOptions {
    // A read of an entry the list does not have (or of a list that does not
    // exist) reports success and leaves the caller's buffer as it was.
    bool silentWhenMissing = false;
};

}  // namespace simhost
