#include "DialogRoom.h"

#include <algorithm>
#include <cstring>

#include "Handles.h"
#include "Suites.h"

namespace simhost {

namespace {

// Item handles carry their dialog and their position in it.
constexpr std::uint32_t kItemsPerDialog = 1024;

std::vector<DialogItemRecord> itemRecords(const ActiveDialog& dialog) {
    std::vector<DialogItemRecord> items;
    for (const ActiveDialog::Item& item : dialog.items)
        items.push_back({item, item.notify != nullptr});
    return items;
}

OpenDialogView viewOf(const ActiveDialog& dialog, int presses) {
    OpenDialogView view;
    view.plugin = dialog.plugin;
    view.resourceID = dialog.resourceID;
    view.name = dialog.name;
    view.title = dialog.title;
    view.presses = presses;
    view.items = itemRecords(dialog);
    return view;
}

}  // namespace

void DialogRoom::clearDialogsAndAlerts() {
    dialogs_.clear();
    alerts_.clear();
}

ActiveDialog& DialogRoom::openDialog(PluginId owner, const char* name, ai::int32 dialogID, const DialogSpec& layout,
                                     ADMUserData userData) {
    auto created = std::make_unique<ActiveDialog>();
    created->index = activeDialogs_.size();
    created->plugin = owner;
    created->resourceID = dialogID;
    created->name = name == nullptr ? std::string() : std::string(name, strnlen(name, 256));
    created->title = layout.title;
    created->userData = userData;
    for (const DialogItemSpec& item : layout.items) created->items.push_back({item, nullptr});
    activeDialogs_.push_back(std::move(created));
    return *activeDialogs_.back();
}

ai::int32 DialogRoom::runModal(SPPluginRef pluginRef, const char* name, ai::int32 dialogID,
                               ADMDialogInitProc initProc, ADMUserData userData) {
    const auto owner = messages_.pluginForCall(pluginRef, "modal");
    if (!owner) return kBadParameterErr;
    const DialogSpec* layout = loader_.plugin(*owner).resources.dialog(dialogID);
    if (layout == nullptr) return kResourceNotFoundErr;
    ActiveDialog& dialog = openDialog(*owner, name, dialogID, *layout, userData);
    const auto dialogRef =
        makeHandle<ADMDialogRef>(HandleKind::kDialog, static_cast<std::uint32_t>(dialog.index));

    DialogRecord record;
    record.plugin = *owner;
    record.resourceID = dialogID;
    record.name = dialog.name;
    record.title = dialog.title;
    record.initResult = initProc != nullptr ? initProc(dialogRef) : kNoErr;

    ai::int32 result = 0;
    if (record.initResult != kNoErr) {
        closeDialog(dialog, 0);
        result = record.initResult;
    } else {
        runPresses(dialog, record);
        result = dialog.closedBy;
    }
    record.closedBy = dialog.closedBy;
    record.items = itemRecords(dialog);
    dialogs_.push_back(std::move(record));
    return result;
}

// The modal loop: the driver presses items until one closes the dialog or the
// user walks away, in which case the host closes it as the last item pressed.
void DialogRoom::runPresses(ActiveDialog& dialog, DialogRecord& record) {
    ai::int32 lastPressed = 0;
    while (dialog.open) {
        const std::optional<ai::int32> pressed =
            driver_->press(viewOf(dialog, static_cast<int>(record.presses.size())));
        if (!pressed) break;
        lastPressed = *pressed;
        const std::uint64_t faults = gate_.faultsFired();
        const PressRoute route = pressItem(dialog, *pressed);
        record.presses.push_back({*pressed, route});
        // Item 1 is the OK button: its procedure hands the press to the
        // host's default handling, which closes the dialog. Still open with
        // no failed host call to explain it, the plug-in broke that step.
        if (route == PressRoute::kNotifyProc && *pressed == 1 && dialog.open && gate_.faultsFired() == faults)
            ledger_.recordViolation("dialog-left-open", "\"" + dialog.name + "\": the OK item's notify procedure "
                                                        "left the dialog open; the host had to close it");
    }
    record.closedByUser = !dialog.open;
    if (dialog.open) closeDialog(dialog, lastPressed);
}

PressRoute DialogRoom::pressItem(ActiveDialog& dialog, ai::int32 itemID) {
    std::size_t position = 0;
    while (position < dialog.items.size() && dialog.items[position].id != itemID) ++position;
    if (position == dialog.items.size()) return PressRoute::kNoSuchItem;
    if (dialog.items[position].notify != nullptr) {
        // Each notification gets a notifier of its own, live only while the
        // procedure runs, so one kept or made up is recognised.
        notifierSerial_ = (notifierSerial_ + 1) & kMaxHandleIndex;
        const Notification notification{makeHandle<ADMNotifierRef>(HandleKind::kNotifier, notifierSerial_),
                                        itemOf(dialog, itemID)};
        notifications_.push_back(notification);
        struct Pop {
            std::vector<Notification>& stack;
            ~Pop() { stack.pop_back(); }
        } pop{notifications_};
        dialog.items[position].notify(notification.item, notification.notifier);
        return PressRoute::kNotifyProc;
    }
    if (dialog.items[position].kind != "button") return PressRoute::kIgnored;
    closeDialog(dialog, itemID);
    return PressRoute::kHostButton;
}

ActiveDialog* DialogRoom::dialogOf(ADMDialogRef dialog) {
    const auto index = handleIndex(HandleKind::kDialog, dialog);
    if (!index || *index >= activeDialogs_.size() || !activeDialogs_[*index]->open) {
        badParameter("dialog", dialog == nullptr ? "null dialog" : "no open dialog " + showPointer(dialog));
        return nullptr;
    }
    return activeDialogs_[*index].get();
}

ADMItemRef DialogRoom::itemOf(ActiveDialog& dialog, ai::int32 itemID) {
    for (std::size_t position = 0; position < dialog.items.size() && position < kItemsPerDialog; ++position)
        if (dialog.items[position].id == itemID)
            return makeHandle<ADMItemRef>(HandleKind::kDialogItem,
                                          static_cast<std::uint32_t>(dialog.index * kItemsPerDialog + position));
    return nullptr;
}

bool DialogRoom::resolveItem(ADMItemRef item, ActiveDialog** dialog, std::size_t* position) {
    const auto index = handleIndex(HandleKind::kDialogItem, item);
    if (index) {
        const std::size_t d = *index / kItemsPerDialog;
        const std::size_t p = *index % kItemsPerDialog;
        if (d < activeDialogs_.size() && activeDialogs_[d]->open && p < activeDialogs_[d]->items.size()) {
            *dialog = activeDialogs_[d].get();
            *position = p;
            return true;
        }
    }
    badParameter("dialog item", item == nullptr ? "null item" : "no item " + showPointer(item) + " in an open dialog");
    return false;
}

bool DialogRoom::checkNotification(ADMItemRef item, ADMNotifierRef notifier, ActiveDialog** dialog,
                                   std::size_t* position) {
    const auto live = std::find_if(notifications_.rbegin(), notifications_.rend(),
                                   [&](const Notification& n) { return n.notifier == notifier; });
    if (live == notifications_.rend()) {
        refuse("stale-notifier", "default-notify",
               notifier == nullptr ? "null notifier" : "notifier " + showPointer(notifier) + " is not being delivered");
        return false;
    }
    if (!resolveItem(item, dialog, position)) return false;
    const auto notified = handleIndex(HandleKind::kDialogItem, live->item);
    const std::size_t notifiedDialog = notified ? *notified / kItemsPerDialog : activeDialogs_.size();
    if ((*dialog)->index == notifiedDialog) return true;
    refuse("foreign-item", "default-notify",
           "item " + showPointer(item) + " of \"" + (*dialog)->name + "\" with the notifier of another dialog");
    return false;
}

void DialogRoom::closeDialog(ActiveDialog& dialog, ai::int32 itemID) {
    if (!dialog.open) return;
    dialog.open = false;
    dialog.closedBy = itemID;
}

}  // namespace simhost
