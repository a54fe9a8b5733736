#include "SDKAboutPluginsHelper.h"

#include <cstring>

namespace {

constexpr const char* kHostAboutGroup = "About";
constexpr ai::int32 kSubMenuOptions = 1;

// Gives the 1008 menu suite back when the call ends, however it ends: an
// ai::Error from the string wrappers must not leave a hold behind.
class MenuSuiteRelease {
public:
    MenuSuiteRelease(SPBasicSuite* basic, const AIMenuSuite*& suite, bool& held)
        : fBasic(basic), fSuite(suite), fHeld(held) {}
    ~MenuSuiteRelease() {
        if (fHeld) fBasic->ReleaseSuite(kAIMenuSuite, kAIMenuSuiteVersion);
        fHeld = false;
        fSuite = nullptr;
    }
    MenuSuiteRelease(const MenuSuiteRelease&) = delete;
    MenuSuiteRelease& operator=(const MenuSuiteRelease&) = delete;

private:
    SPBasicSuite* fBasic;
    const AIMenuSuite*& fSuite;
    bool& fHeld;
};

}  // namespace

SDKAboutPluginsHelper::~SDKAboutPluginsHelper() = default;

ASErr SDKAboutPluginsHelper::GroupExists(const char* groupName, bool& exists) {
    exists = false;
    ai::int32 count = 0;
    ASErr err = fMenuSuite->CountMenuGroups(&count);
    if (err != kNoErr) return err;
    for (ai::int32 index = 0; index < count; ++index) {
        AIMenuGroup group = nullptr;
        err = fMenuSuite->GetNthMenuGroup(index, &group);
        if (err != kNoErr) return err;
        const char* name = nullptr;
        err = fMenuSuite->GetMenuGroupName(group, &name);
        if (err != kNoErr) return err;
        if (name != nullptr && std::strcmp(name, groupName) == 0) {
            exists = true;
            return kNoErr;
        }
    }
    return kNoErr;
}

ASErr SDKAboutPluginsHelper::AddAboutPluginsMenuItem(SPInterfaceMessage* message,
                                                     const char* groupName,
                                                     const ai::UnicodeString& groupItemText,
                                                     const char* pluginItemText,
                                                     AIMenuItemHandle* pluginItem) {
    SPBasicSuite* basic = message->d.basic;
    // A suite already set on entry is used and given back as if acquired here.
    bool held = fMenuSuite != nullptr;
    MenuSuiteRelease release(basic, fMenuSuite, held);
    if (!held) {
        const void* table = nullptr;
        const ASErr err = basic->AcquireSuite(kAIMenuSuite, kAIMenuSuiteVersion, &table);
        if (err != kNoErr) return err;
        held = true;
        fMenuSuite = static_cast<const AIMenuSuite*>(table);
        // Granted without a table: nothing can be added, but the hold is
        // still given back.
        if (fMenuSuite == nullptr) return kNoErr;
    }
    return addMenuItems(message->d.self, groupName, groupItemText, pluginItemText, pluginItem);
}

ASErr SDKAboutPluginsHelper::addMenuItems(SPPluginRef plugin, const char* groupName,
                                          const ai::UnicodeString& groupItemText,
                                          const char* pluginItemText,
                                          AIMenuItemHandle* pluginItem) {
    bool exists = false;
    ASErr err = GroupExists(groupName, exists);
    if (err != kNoErr) return err;

    if (!exists) {
        AIPlatformAddMenuItemDataUS groupItem;
        groupItem.groupName = kHostAboutGroup;
        groupItem.itemText = groupItemText;
        AIMenuItemHandle aboutItem = nullptr;
        err = fMenuSuite->AddMenuItem(plugin, nullptr, &groupItem, 0, &aboutItem);
        if (err != kNoErr) return err;
        AIMenuGroup group = nullptr;
        err = fMenuSuite->AddMenuGroupAsSubMenu(groupName, kSubMenuOptions, aboutItem, &group);
        if (err != kNoErr) return err;
    }

    AIPlatformAddMenuItemDataUS item;
    item.groupName = groupName;
    {
        const ai::UnicodeString text(pluginItemText, 0);
        item.itemText = text;
    }
    AIMenuItemHandle added = nullptr;
    err = fMenuSuite->AddMenuItem(plugin, nullptr, &item, 0, &added);
    if (err == kNoErr) *pluginItem = added;
    return err;
}
