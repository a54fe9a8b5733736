// "ADM Basic Suite", "ADM Dialog Suite" and "ADM Item Suite": string lists
// from the plug-in's resources, alerts, and modal dialogs.
#include <algorithm>
#include <cstring>

#include "DialogRoom.h"
#include "LoaderRoom.h"
#include "MessageRoom.h"
#include "Suites.h"

namespace simhost {

namespace {

ASErr GetIndexString(SPPluginRef plugin, ai::int32 listID, ai::int32 index, char* buffer, ai::int32 maxLength) {
    MessageRoom& messages = MessageRoom::current();
    if (ASErr err = messages.gate().enter(Op::GetIndexString, CallSubject{plugin, nullptr, 0, 0, {listID, index, maxLength}}, [&] {
            return std::to_string(listID) + ", " + std::to_string(index) + ", " + std::to_string(maxLength);
        }))
        return err;
    const auto owner = messages.pluginForCall(plugin, "get-index-string");
    if (!owner) return kBadParameterErr;
    if (buffer == nullptr || maxLength < 1) return messages.badParameter("get-index-string", "no buffer");
    LoaderRoom& loader = LoaderRoom::current();
    const std::vector<std::string>* list = loader.plugin(*owner).resources.stringList(listID);
    if (list == nullptr || index < 1 || static_cast<std::size_t>(index) > list->size())
        return loader.stringLists().silentWhenMissing ? kNoErr : kResourceNotFoundErr;
    const std::string& entry = (*list)[static_cast<std::size_t>(index) - 1];
    const std::size_t n = std::min(entry.size(), static_cast<std::size_t>(maxLength) - 1);
    std::memcpy(buffer, entry.data(), n);
    buffer[n] = 0;
    return kNoErr;
}

void ErrorAlert(const char* text) {
    DialogRoom& dialogs = DialogRoom::current();
    if (dialogs.gate().enter(Op::ErrorAlert, CallSubject{nullptr, text, 4096}, [&] { return showText(text); })) return;
    if (text == nullptr) {
        dialogs.badParameter("error-alert", "null text");
        return;
    }
    dialogs.recordAlert(std::string(text, strnlen(text, 4096)));
}

ai::int32 Modal(SPPluginRef plugin, const char* name, ai::int32 dialogID, ai::int32 style,
                ADMDialogInitProc initProc, ADMUserData userData, ai::int32 options) {
    DialogRoom& dialogs = DialogRoom::current();
    if (ASErr err = dialogs.gate().enter(Op::Modal, CallSubject{plugin, name}, [&] {
            return showText(name) + ", " + std::to_string(dialogID) + ", " + std::to_string(style) + ", " +
                   std::to_string(options);
        }))
        return err;
    return dialogs.runModal(plugin, name, dialogID, initProc, userData);
}

ADMUserData GetUserData(ADMDialogRef dialog) {
    DialogRoom& dialogs = DialogRoom::current();
    if (dialogs.gate().enter(Op::GetUserData, CallSubject{dialog, nullptr}, [&] { return showPointer(dialog); }))
        return nullptr;
    ActiveDialog* active = dialogs.dialogOf(dialog);
    return active == nullptr ? nullptr : active->userData;
}

ADMItemRef GetItem(ADMDialogRef dialog, ai::int32 itemID) {
    DialogRoom& dialogs = DialogRoom::current();
    if (dialogs.gate().enter(Op::GetItem, CallSubject{dialog, nullptr},
                             [&] { return showPointer(dialog) + ", " + std::to_string(itemID); }))
        return nullptr;
    ActiveDialog* active = dialogs.dialogOf(dialog);
    return active == nullptr ? nullptr : dialogs.itemOf(*active, itemID);
}

void SetNotifyProc(ADMItemRef item, ADMItemNotifyProc proc) {
    DialogRoom& dialogs = DialogRoom::current();
    if (dialogs.gate().enter(Op::SetNotifyProc, CallSubject{item, nullptr}, [&] { return showPointer(item); })) return;
    if (item == nullptr) return;
    ActiveDialog* dialog = nullptr;
    std::size_t position = 0;
    if (dialogs.resolveItem(item, &dialog, &position)) dialog->items[position].notify = proc;
}

void DefaultNotify(ADMItemRef item, ADMNotifierRef notifier) {
    DialogRoom& dialogs = DialogRoom::current();
    if (dialogs.gate().enter(Op::DefaultNotify, CallSubject{item, nullptr},
                             [&] { return showPointer(item) + ", " + showPointer(notifier); }))
        return;
    ActiveDialog* dialog = nullptr;
    std::size_t position = 0;
    if (!dialogs.checkNotification(item, notifier, &dialog, &position)) return;
    // A button's standard reaction closes its dialog.
    if (dialog->items[position].kind == "button") dialogs.closeDialog(*dialog, dialog->items[position].id);
}

void SetText(ADMItemRef item, const char* text) {
    DialogRoom& dialogs = DialogRoom::current();
    if (dialogs.gate().enter(Op::SetText, CallSubject{item, text, 4096},
                             [&] { return showPointer(item) + ", " + showText(text); }))
        return;
    if (item == nullptr) return;
    if (text == nullptr) {
        dialogs.badParameter("set-text", "null text");
        return;
    }
    ActiveDialog* dialog = nullptr;
    std::size_t position = 0;
    if (dialogs.resolveItem(item, &dialog, &position))
        dialog->items[position].text = std::string(text, strnlen(text, 4096));
}

}  // namespace

void fillADMBasicSuite(void* table) {
    ADMBasicSuite suite{};
    suite.GetIndexString = GetIndexString;
    suite.ErrorAlert = ErrorAlert;
    storeTable(table, suite);
}

void fillADMDialogSuite(void* table) {
    ADMDialogSuite suite{};
    suite.Modal = Modal;
    suite.GetUserData = GetUserData;
    suite.GetItem = GetItem;
    storeTable(table, suite);
}

void fillADMItemSuite(void* table) {
    ADMItemSuite suite{};
    suite.SetNotifyProc = SetNotifyProc;
    suite.DefaultNotify = DefaultNotify;
    suite.SetText = SetText;
    storeTable(table, suite);
}

}  // namespace simhost
