#include "simhost/Host.h"

#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <climits>

#include <cstring>
#include <stdexcept>

#include "ActiveDialog.h"
#include "Suites.h"

namespace simhost {

namespace {

constexpr ai::int32 kMessageCheck = FourCC("SPCk");
// Item handles carry their dialog and their position in it.
constexpr std::uint32_t kItemsPerDialog = 1024;

std::string resourcePathFor(const std::string& libraryPath) {
    const std::size_t slash = libraryPath.find_last_of('/');
    const std::size_t dot = libraryPath.find_last_of('.');
    const std::string stem =
        dot != std::string::npos && (slash == std::string::npos || dot > slash) ? libraryPath.substr(0, dot)
                                                                                  : libraryPath;
    return stem + ".resources.json";
}

bool fileExists(const std::string& path) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return false;
    std::fclose(f);
    return true;
}

}  // namespace

// The table a plug-in is given for one suite. It stays at one address for
// the host's life; its contents are the live functions while the suite is
// held and trapping functions otherwise, so a stale pointer is caught.
struct Host::GrantTable {
    std::vector<SPReservedProc> slots;
    bool live = false;
    bool wrong = false;
    bool null = false;  // granted, but the table written is null
};

Host::Host() : basic_(makeBasicSuite()), previous_(current_) {
    for (const ServedSuite& suite : servedSuites()) {
        auto grant = std::make_unique<GrantTable>();
        grant->slots.assign(suite.traps, suite.traps + suite.slots);
        grants_.push_back(std::move(grant));
    }
    current_ = this;
}

Host::~Host() {
    for (auto& plugin : plugins_)
        if (plugin->library != nullptr) dlclose(plugin->library);
    current_ = previous_;
}

void Host::noCurrentHost() {
    std::fprintf(stderr, "simhost: a suite was called with no host\n");
    std::abort();
}

// ---- Plug-ins ----------------------------------------------------------------

PluginId Host::loadPlugin(const std::string& libraryPath) {
    auto plugin = std::make_unique<LoadedPlugin>();
    plugin->path = libraryPath;
    const std::string resources = resourcePathFor(libraryPath);
    if (fileExists(resources)) plugin->resources = Resources::load(resources);
    plugins_.push_back(std::move(plugin));
    const auto id = static_cast<PluginId>(plugins_.size() - 1);
    try {
        reloadLibrary(id);
    } catch (...) {
        plugins_.pop_back();
        throw;
    }
    return id;
}

PluginId Host::attachPlugin(SPPluginMainProc main, Resources resources, std::string label) {
    auto plugin = std::make_unique<LoadedPlugin>();
    plugin->path = std::move(label);
    plugin->main = main;
    plugin->resources = std::move(resources);
    plugins_.push_back(std::move(plugin));
    return static_cast<PluginId>(plugins_.size() - 1);
}

void Host::unloadLibrary(PluginId id) {
    LoadedPlugin& p = plugin(id);
    if (p.library == nullptr) return;
    dlclose(p.library);
    p.library = nullptr;
    p.main = nullptr;
}

void Host::reloadLibrary(PluginId id) {
    LoadedPlugin& p = plugin(id);
    if (p.library != nullptr) return;
    void* library = dlopen(p.path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        const char* why = dlerror();
        throw std::runtime_error("cannot load plug-in " + p.path + ": " + (why ? why : "unknown error"));
    }
    void* entry = dlsym(library, kPluginMainSymbol);
    if (entry == nullptr) {
        dlclose(library);
        throw std::runtime_error("plug-in " + p.path + " does not export " + kPluginMainSymbol);
    }
    p.library = library;
    p.main = reinterpret_cast<SPPluginMainProc>(entry);
}

LoadedPlugin& Host::plugin(PluginId id) {
    if (id < 0 || static_cast<std::size_t>(id) >= plugins_.size())
        throw std::out_of_range("no plug-in " + std::to_string(id));
    return *plugins_[static_cast<std::size_t>(id)];
}

SPPluginRef Host::pluginRef(PluginId id) const {
    return makeHandle<SPPluginRef>(HandleKind::kPlugin, static_cast<std::uint32_t>(id));
}

std::optional<PluginId> Host::pluginOf(SPPluginRef ref) const {
    const auto index = handleIndex(HandleKind::kPlugin, ref);
    if (!index || *index >= plugins_.size()) return std::nullopt;
    return static_cast<PluginId>(*index);
}

// ---- Messages -------------------------------------------------------------------

ASErr Host::send(PluginId id, const char* caller, const char* selector, SPMessageData* head) {
    LoadedPlugin& p = plugin(id);
    if (p.main == nullptr) throw std::runtime_error("plug-in " + p.path + " is not loaded");
    head->SPCheck = kMessageCheck;
    head->self = pluginRef(id);
    head->basic = &basic_;

    const std::optional<MessageInFlight> outer = message_;
    message_ = MessageInFlight{id, caller, selector};
    ASErr result = kNoErr;
    try {
        result = p.main(caller, selector, head);
    } catch (...) {
        ledger_.recordViolation("exception-escaped", "an exception left PluginMain for " + std::string(caller) +
                                                         " / " + selector);
        result = kPluginThrewErr;
    }
    message_ = outer;

    p.globals = head->globals;
    const bool interface = std::strcmp(caller, kSPInterfaceCaller) == 0;
    if (interface && std::strcmp(selector, kSPInterfaceStartupSelector) == 0) p.started = true;
    if (interface && std::strcmp(selector, kSPInterfaceShutdownSelector) == 0) p.started = false;
    return result;
}

ASErr Host::sendInterface(PluginId id, const char* selector) {
    SPInterfaceMessage message{};
    message.d.globals = plugin(id).globals;
    return send(id, kSPInterfaceCaller, selector, &message.d);
}

ASErr Host::sendAccess(PluginId id, const char* selector) {
    return sendAccessWithGlobals(id, selector, plugin(id).globals);
}

ASErr Host::sendAccessWithGlobals(PluginId id, const char* selector, void* globals) {
    SPAccessMessage message{};
    message.d.globals = globals;
    return send(id, kSPAccessCaller, selector, &message.d);
}

ASErr Host::sendMenu(PluginId id, const char* selector, AIMenuItemHandle item) {
    AIMenuMessage message{};
    message.d.globals = plugin(id).globals;
    message.menuItem = item;
    return send(id, kCallerAIMenu, selector, &message.d);
}

ASErr Host::chooseMenuItem(AIMenuItemHandle item) {
    const auto index = menuItemOf(item);
    if (!index) throw std::invalid_argument("not a menu item of this host");
    return sendMenu(menus_.item(*index).plugin, kSelectorAIGoMenuItem, item);
}

ASErr Host::updateMenuItem(AIMenuItemHandle item) {
    const auto index = menuItemOf(item);
    if (!index) throw std::invalid_argument("not a menu item of this host");
    return sendMenu(menus_.item(*index).plugin, kSelectorAIUpdateMenuItem, item);
}

// ---- Handles ----------------------------------------------------------------------

AIMenuItemHandle Host::menuItemHandle(MenuItemIndex index) const {
    return makeHandle<AIMenuItemHandle>(HandleKind::kMenuItem, static_cast<std::uint32_t>(index));
}

std::optional<MenuItemIndex> Host::menuItemOf(AIMenuItemHandle handle) const {
    const auto index = handleIndex(HandleKind::kMenuItem, handle);
    if (!index || !menus_.hasItem(*index)) return std::nullopt;
    return static_cast<MenuItemIndex>(*index);
}

AIMenuGroup Host::menuGroupHandle(MenuGroupIndex index) const {
    return makeHandle<AIMenuGroup>(HandleKind::kMenuGroup, static_cast<std::uint32_t>(index));
}

std::optional<MenuGroupIndex> Host::menuGroupOf(AIMenuGroup handle) const {
    const auto index = handleIndex(HandleKind::kMenuGroup, handle);
    if (!index || !menus_.hasGroup(*index)) return std::nullopt;
    return static_cast<MenuGroupIndex>(*index);
}

void Host::badArt(AIArtHandle handle, const char* operation) {
    badParameter(operation, handle == nullptr ? "null art handle" : "unknown art handle");
}

void Host::badLayer(AILayerHandle handle, const char* operation) {
    badParameter(operation, handle == nullptr ? "null layer handle" : "unknown layer handle");
}

// ---- Suites -------------------------------------------------------------------------

void Host::fillGrant(std::size_t suite) {
    const ServedSuite& served = servedSuites()[suite];
    GrantTable& grant = *grants_[suite];
    if (grant.wrong) {
        grant.slots.assign(served.traps, served.traps + served.slots);
        grant.live = false;
        return;
    }
    std::vector<SPReservedProc> live(served.slots, nullptr);
    served.fillLive(live.data());
    for (std::size_t slot = 0; slot < served.slots; ++slot)
        grant.slots[slot] = live[slot] != nullptr ? live[slot] : served.traps[slot];
    grant.live = true;
}

const void* Host::acquire(const char* name, ai::int32 version, ASErr* err) {
    const int suite = servedSuiteIndex(name, version);
    if (suite < 0) {
        *err = kSuiteNotFoundErr;
        return nullptr;
    }
    const Ledger::SuiteKey key{name, version};
    ledger_.addHold(key);
    if (ledger_.holds(key) == 1) fillGrant(static_cast<std::size_t>(suite));
    *err = kNoErr;
    const GrantTable& grant = *grants_[static_cast<std::size_t>(suite)];
    return grant.null ? nullptr : grant.slots.data();
}

ASErr Host::release(const char* name, ai::int32 version) {
    const Ledger::SuiteKey key{name, version};
    if (!ledger_.dropHold(key)) {
        ledger_.recordViolation("release-not-held", "\"" + key.first + "\" " + std::to_string(version) +
                                                        " released but not held");
        return kSuiteNotHeldErr;
    }
    const int suite = servedSuiteIndex(name, version);
    if (suite >= 0 && ledger_.holds(key) == 0) {
        const ServedSuite& served = servedSuites()[static_cast<std::size_t>(suite)];
        GrantTable& grant = *grants_[static_cast<std::size_t>(suite)];
        grant.slots.assign(served.traps, served.traps + served.slots);
        grant.live = false;
    }
    return kNoErr;
}

void Host::grantWrongTable(const std::string& name, ai::int32 version) {
    const int suite = servedSuiteIndex(name.c_str(), version);
    if (suite < 0) throw std::invalid_argument("no suite \"" + name + "\" " + std::to_string(version));
    grants_[static_cast<std::size_t>(suite)]->wrong = true;
    if (ledger_.holds({name, version}) > 0) fillGrant(static_cast<std::size_t>(suite));
}

void Host::grantNullTable(const std::string& name, ai::int32 version, bool null) {
    const int suite = servedSuiteIndex(name.c_str(), version);
    if (suite < 0) throw std::invalid_argument("no suite \"" + name + "\" " + std::to_string(version));
    grants_[static_cast<std::size_t>(suite)]->null = null;
}

ASErr Host::trapped(std::size_t suite, std::size_t slot) {
    const ServedSuite& served = servedSuites()[suite];
    const GrantTable& grant = *grants_[suite];
    const std::string where = "slot " + std::to_string(slot) + " of \"" + served.name + "\" " +
                              std::to_string(served.version);
    if (grant.wrong) {
        ledger_.recordViolation("wrong-table", "call through " + where + ", granted as a table that traps");
    } else if (!grant.live) {
        ledger_.recordViolation("released-suite", "call through " + where + " while the suite is not held");
    } else {
        ledger_.recordViolation("reserved-slot", "call through reserved " + where);
    }
    return kTrapErr;
}

ASErr Host::badParameter(const char* operation, const std::string& what) {
    return refuse("bad-parameter", operation, what);
}

ASErr Host::refuse(const char* rule, const char* operation, const std::string& what) {
    ledger_.recordViolation(rule, std::string(operation) + ": " + what);
    return kBadParameterErr;
}

std::optional<PluginId> Host::pluginForCall(SPPluginRef ref, const char* operation) {
    const auto id = pluginOf(ref);
    if (!id) {
        badParameter(operation, ref == nullptr ? "null plug-in reference" : "unknown plug-in reference");
        return std::nullopt;
    }
    if (message_ && message_->plugin != *id) {
        refuse("foreign-plugin", operation,
               "names " + plugin(*id).path + " during a message to " + plugin(message_->plugin).path);
        return std::nullopt;
    }
    return id;
}

bool Host::mayChangeMenus(PluginId id, const char* operation) {
    if (message_ ? std::strcmp(message_->caller, kSPInterfaceCaller) == 0 &&
                       std::strcmp(message_->selector, kSPInterfaceStartupSelector) == 0
                 : !plugin(id).started)
        return true;
    refuse("menu-after-startup", operation,
           message_ ? std::string("during ") + message_->caller + " / " + message_->selector
                    : std::string("outside any message, after \"Startup\""));
    return false;
}

// ---- Dialogs -------------------------------------------------------------------------

void Host::clearDialogsAndAlerts() {
    dialogs_.clear();
    alerts_.clear();
}

namespace {

OpenDialogView viewOf(const Host::ActiveDialog& dialog, int presses) {
    OpenDialogView view;
    view.plugin = dialog.plugin;
    view.resourceID = dialog.resourceID;
    view.name = dialog.name;
    view.title = dialog.title;
    view.presses = presses;
    for (const Host::ActiveDialog::Item& item : dialog.items)
        view.items.push_back({item.id, item.kind, item.text, item.notify != nullptr});
    return view;
}

}  // namespace

ai::int32 Host::runModal(SPPluginRef pluginRef, const char* name, ai::int32 dialogID,
                         ADMDialogInitProc initProc, ADMUserData userData) {
    const auto owner = pluginForCall(pluginRef, "modal");
    if (!owner) return kBadParameterErr;
    const DialogSpec* layout = plugin(*owner).resources.dialog(dialogID);
    if (layout == nullptr) return kResourceNotFoundErr;

    auto created = std::make_unique<ActiveDialog>();
    created->index = activeDialogs_.size();
    created->plugin = *owner;
    created->resourceID = dialogID;
    created->name = name == nullptr ? std::string() : std::string(name, strnlen(name, 256));
    created->title = layout->title;
    created->userData = userData;
    for (const DialogItemSpec& item : layout->items) created->items.push_back({item.id, item.kind, item.text, nullptr});
    ActiveDialog& dialog = *created;
    activeDialogs_.push_back(std::move(created));
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
    for (const ActiveDialog::Item& item : dialog.items)
        record.items.push_back({item.id, item.kind, item.text, item.notify != nullptr});
    dialogs_.push_back(std::move(record));
    return result;
}

// The modal loop: the driver presses items until one closes the dialog or the
// user walks away, in which case the host closes it as the last item pressed.
void Host::runPresses(ActiveDialog& dialog, DialogRecord& record) {
    ai::int32 lastPressed = 0;
    while (dialog.open) {
        const std::optional<ai::int32> pressed =
            dialogDriver_->press(viewOf(dialog, static_cast<int>(record.presses.size())));
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

PressRoute Host::pressItem(ActiveDialog& dialog, ai::int32 itemID) {
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

Host::ActiveDialog* Host::dialogOf(ADMDialogRef dialog) {
    const auto index = handleIndex(HandleKind::kDialog, dialog);
    if (!index || *index >= activeDialogs_.size() || !activeDialogs_[*index]->open) {
        badParameter("dialog", dialog == nullptr ? "null dialog" : "no open dialog " + showPointer(dialog));
        return nullptr;
    }
    return activeDialogs_[*index].get();
}

ADMItemRef Host::itemOf(ActiveDialog& dialog, ai::int32 itemID) {
    for (std::size_t position = 0; position < dialog.items.size() && position < kItemsPerDialog; ++position)
        if (dialog.items[position].id == itemID)
            return makeHandle<ADMItemRef>(HandleKind::kDialogItem,
                                          static_cast<std::uint32_t>(dialog.index * kItemsPerDialog + position));
    return nullptr;
}

bool Host::resolveItem(ADMItemRef item, ActiveDialog** dialog, std::size_t* position) {
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

bool Host::checkNotification(ADMItemRef item, ADMNotifierRef notifier, ActiveDialog** dialog, std::size_t* position) {
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

void Host::closeDialog(ActiveDialog& dialog, ai::int32 itemID) {
    if (!dialog.open) return;
    dialog.open = false;
    dialog.closedBy = itemID;
}

// ---- Balance ---------------------------------------------------------------------------

std::vector<std::string> Host::problems() const {
    std::vector<std::string> lines = ledger_.outstanding();
    for (std::size_t id = 0; id < plugins_.size(); ++id) {
        const std::size_t blocks = ledger_.liveBlocksOf(static_cast<int>(id));
        const std::size_t allowed = plugins_[id]->started ? 1 : 0;
        if (blocks > allowed)
            lines.push_back(std::to_string(blocks - allowed) + " memory block(s) of " + plugins_[id]->path +
                            " not freed");
    }
    const std::size_t stray = ledger_.liveBlocksOf(-1);
    if (stray != 0) lines.push_back(std::to_string(stray) + " memory block(s) allocated outside any message");
    for (const Violation& v : ledger_.violations()) lines.push_back("violation [" + v.rule + "] " + v.detail);
    return lines;
}

}  // namespace simhost
