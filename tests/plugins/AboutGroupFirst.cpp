// A second plug-in of the same maker, for tests only, never shipped. At
// "Startup" it makes the shared About-plug-ins group itself (an item under the
// host's "About" with the group as its submenu) and puts its own item in it,
// so that Wendlow Brindle, started after it, finds the group already there.
//
// Its texts come from its resource list 16000, so a test can change them
// before "Startup":
//   1  the name of the group it makes
//   2  the text of the group's item under "About"
//   3  the text of its own item in the group
//
// It holds "AI Menu Suite" 1007 and "ADM Basic Suite" only while it starts,
// keeps no globals and answers every other message with 0.
#include <cstring>

#include "ADMSuites.h"
#include "AISuites.h"

namespace {

constexpr ai::int32 kTextList = 16000;
constexpr ai::int32 kGroupNameIndex = 1;
constexpr ai::int32 kGroupItemIndex = 2;
constexpr ai::int32 kOwnItemIndex = 3;
constexpr ai::int32 kSubMenuOptions = 1;

// One text of list 16000, as a C string and as the Pascal string the 1007
// menu record takes.
struct Text {
    char c[256];
    unsigned char pascal[256];
};

ASErr readText(const ADMBasicSuite* adm, SPPluginRef self, ai::int32 index, Text& text) {
    text.c[0] = 0;
    const ASErr err = adm->GetIndexString(self, kTextList, index, text.c, 256);
    if (err != kNoErr) return err;
    text.c[255] = 0;
    const std::size_t length = std::strlen(text.c);
    text.pascal[0] = static_cast<unsigned char>(length);
    std::memcpy(text.pascal + 1, text.c, length);
    return kNoErr;
}

ASErr makeGroup(const AIMenuSuite1007* menu, const ADMBasicSuite* adm, SPPluginRef self) {
    Text groupName, groupItemText, ownItemText;
    ASErr err = readText(adm, self, kGroupNameIndex, groupName);
    if (err == kNoErr) err = readText(adm, self, kGroupItemIndex, groupItemText);
    if (err == kNoErr) err = readText(adm, self, kOwnItemIndex, ownItemText);
    if (err != kNoErr) return err;

    AIPlatformAddMenuItemData groupItem{"About", groupItemText.pascal};
    AIMenuItemHandle aboutItem = nullptr;
    err = menu->AddMenuItem(self, "AboutGroupFirst group item", &groupItem, 0, &aboutItem);
    if (err != kNoErr) return err;
    AIMenuGroup group = nullptr;
    err = menu->AddMenuGroupAsSubMenu(groupName.c, kSubMenuOptions, aboutItem, &group);
    if (err != kNoErr) return err;

    AIPlatformAddMenuItemData ownItem{groupName.c, ownItemText.pascal};
    AIMenuItemHandle own = nullptr;
    return menu->AddMenuItem(self, "AboutGroupFirst", &ownItem, 0, &own);
}

ASErr startup(SPMessageData* message) {
    SPBasicSuite* basic = message->basic;
    const void* menu = nullptr;
    ASErr err = basic->AcquireSuite(kAIMenuSuite, kAIMenuSuiteVersion1007, &menu);
    if (err != kNoErr) return err;
    const void* adm = nullptr;
    err = basic->AcquireSuite(kADMBasicSuite, kADMBasicSuiteVersion, &adm);
    if (err == kNoErr) {
        if (menu != nullptr && adm != nullptr)
            err = makeGroup(static_cast<const AIMenuSuite1007*>(menu), static_cast<const ADMBasicSuite*>(adm),
                            message->self);
        basic->ReleaseSuite(kADMBasicSuite, kADMBasicSuiteVersion);
    }
    basic->ReleaseSuite(kAIMenuSuite, kAIMenuSuiteVersion1007);
    return err;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) ASErr PluginMain(const char* caller, const char* selector,
                                                                     void* message) {
    if (message == nullptr) return kNoErr;
    auto* head = static_cast<SPMessageData*>(message);
    if (head->basic == nullptr) return kNoErr;
    if (head->basic->IsEqual(caller, kSPInterfaceCaller) &&
        head->basic->IsEqual(selector, kSPInterfaceStartupSelector))
        return startup(head);
    return kNoErr;
}
