#include "pluginHandler.h"

#include "PluginGlobals.h"
#include "menuHandler.h"
#include "shellMain.h"

ASErr handlePluginCaller(const char* caller, const char* selector, void* message) {
    if (!sSPBasic->IsEqual(caller, kCallerAIMenu)) return kNoErr;
    auto* menuMessage = static_cast<AIMenuMessage*>(message);
    if (sSPBasic->IsEqual(selector, kSelectorAIGoMenuItem)) return goMenuItem(menuMessage);
    if (sSPBasic->IsEqual(selector, kSelectorAIUpdateMenuItem)) return updateMenuItem(menuMessage);
    return kNoErr;
}

ASErr pluginStartup(SPInterfaceMessage* message) {
    const ASErr err = sSPPlugs->SetPluginName(message->d.self, kPluginName);
    if (err != kNoErr) return err;
    return addMenu(message);
}

void pluginShutdown(SPInterfaceMessage*) {}

void unloadPluginSuiteFunctions(SPAccessMessage*) {}

ASErr reloadPluginSuiteFunctions(SPAccessMessage*) {
    return kNoErr;
}
