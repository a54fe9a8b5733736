#include "pluginHandler.h"

#include "PluginGlobals.h"
#include "menuHandler.h"
#include "shellMain.h"

const std::size_t kPluginGlobalsSize = sizeof(PluginGlobals);

// Routes "AI Menu" messages; returns 0 for anything else.
ASErr handlePluginCaller(const char* caller, const char* selector, void* message) {
    if (!sSPBasic->IsEqual(caller, kCallerAIMenu)) return kNoErr;
    auto* menuMessage = static_cast<AIMenuMessage*>(message);
    if (sSPBasic->IsEqual(selector, kSelectorAIGoMenuItem)) return goMenuItem(menuMessage);
    if (sSPBasic->IsEqual(selector, kSelectorAIUpdateMenuItem)) return updateMenuItem(menuMessage);
    return kNoErr;
}

// Names the plug-in and installs its menus.
ASErr pluginStartup(SPInterfaceMessage* message) {
    const ASErr err = sSPPlugs->SetPluginName(message->d.self, kPluginName);
    if (err != kNoErr) return err;
    return addMenu(message);
}

// This plug-in keeps nothing that needs the remaining hooks.
void pluginShutdown(SPInterfaceMessage*) {}

void unloadPluginSuiteFunctions(SPAccessMessage*) {}

ASErr reloadPluginSuiteFunctions(SPAccessMessage*) {
    return kNoErr;
}
