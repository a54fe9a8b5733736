// This plug-in's answers to the host's messages, reached from PluginMain.
#pragma once

#include "AISuites.h"

// Routes "AI Menu" messages; returns 0 for anything else.
ASErr handlePluginCaller(const char* caller, const char* selector, void* message);
// Names the plug-in and installs its menus.
ASErr pluginStartup(SPInterfaceMessage* message);
// Hooks called at "Shutdown", "Unload" and "Reload"; this plug-in keeps
// nothing that needs them.
void pluginShutdown(SPInterfaceMessage* message);
void unloadPluginSuiteFunctions(SPAccessMessage* message);
ASErr reloadPluginSuiteFunctions(SPAccessMessage* message);

constexpr const char* kPluginName = "Wendlow Brindle";
