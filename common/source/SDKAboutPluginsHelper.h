// Puts a plug-in's About item into a menu group that all of its maker's
// plug-ins share, under the host's "About" group. The first plug-in to come
// creates the group; the others find it by name.
#pragma once

#include "AISuites.h"
#include "IAIUnicodeString.h"

class SDKAboutPluginsHelper {
public:
    SDKAboutPluginsHelper() noexcept : fMenuSuite(nullptr) {}
    virtual ~SDKAboutPluginsHelper();
    SDKAboutPluginsHelper(const SDKAboutPluginsHelper&) = delete;
    SDKAboutPluginsHelper& operator=(const SDKAboutPluginsHelper&) = delete;

    // Whether the host has a menu group named exactly `groupName`. Needs the
    // menu suite held.
    ASErr GroupExists(const char* groupName, bool& exists);

    // Adds the item `pluginItemText` to the shared group `groupName`, first
    // creating the group (under an item `groupItemText` of "About") when no
    // group of that name exists. On success writes the new item's handle to
    // *pluginItem; on failure leaves it alone. Holds "AI Menu Suite" 1008 for
    // the length of the call only, and gives it back on every way out.
    ASErr AddAboutPluginsMenuItem(SPInterfaceMessage* message, const char* groupName,
                                  const ai::UnicodeString& groupItemText,
                                  const char* pluginItemText, AIMenuItemHandle* pluginItem);

private:
    ASErr addMenuItems(SPPluginRef plugin, const char* groupName,
                       const ai::UnicodeString& groupItemText, const char* pluginItemText,
                       AIMenuItemHandle* pluginItem);

    const AIMenuSuite* fMenuSuite;
};
