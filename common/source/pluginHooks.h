// What the shell needs of the plug-in built on it, and all it knows of it:
// the hooks PluginMain calls and the size of the globals block it allocates.
// The shell includes this header and no header of the plug-in; the plug-in
// defines everything declared here (plugin/Common/pluginHandler.cpp).
#pragma once

#include <cstddef>

#include "SPSuites.h"

// The globals block's layout is the plug-in's; the shell allocates
// kPluginGlobalsSize bytes at "Startup", clears them, hands the block to the
// host across "Unload" and "Reload" and frees it at "Shutdown".
struct PluginGlobals;
extern const std::size_t kPluginGlobalsSize;

// Every message whose caller is neither "SP Interface" nor "SP Access", with
// the suites held; returns 0 for a caller or selector the plug-in ignores.
ASErr handlePluginCaller(const char* caller, const char* selector, void* message);
// "Startup", once the globals block exists and the suites are held.
ASErr pluginStartup(SPInterfaceMessage* message);
// "Shutdown", with the suites held, before the shell frees the block.
void pluginShutdown(SPInterfaceMessage* message);
// "Unload" when the host's globals word is already set, and "Reload" when
// the host hands a block back; no suite is held for either.
void unloadPluginSuiteFunctions(SPAccessMessage* message);
ASErr reloadPluginSuiteFunctions(SPAccessMessage* message);
