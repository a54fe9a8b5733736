// This plug-in's answers to the host's messages: the shell's hooks
// (pluginHooks.h), defined in pluginHandler.cpp.
#pragma once

#include "pluginHooks.h"

constexpr const char* kPluginName = "Wendlow Brindle";
