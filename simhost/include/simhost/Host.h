// The stand-in host: loads plug-ins, sends them messages, and serves every
// suite they acquire from its document, menus, dialogs and their resources.
//
// Suites are plain tables of functions with no context argument, so exactly
// one Host is current at a time (the last one constructed and not yet
// destroyed); every suite function acts on it. Everything runs on the
// calling thread.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "ADMSuites.h"
#include "AISuites.h"
#include "simhost/DialogDriver.h"
#include "simhost/Document.h"
#include "simhost/Gate.h"
#include "simhost/Handles.h"
#include "simhost/Ledger.h"
#include "simhost/Menus.h"
#include "simhost/Resources.h"

namespace simhost {

using PluginId = std::int32_t;

// What send() returns when an exception escaped the plug-in's entry point.
constexpr ASErr kPluginThrewErr = FourCC("THRW");

struct LoadedPlugin {
    std::string path;          // the library, or a label for an attached entry point
    void* library = nullptr;   // dlopen handle; null for an attached entry point
    SPPluginMainProc main = nullptr;
    Resources resources;
    std::string name;          // as the plug-in set it
    void* globals = nullptr;   // the globals word the host keeps for it
    const void* globalsBlock = nullptr;  // the block it allocated during "Startup"
    bool started = false;
};

// How one press of a dialog item reached the plug-in.
enum class PressRoute {
    kNotifyProc,  // through the notify procedure the plug-in set on the item
    kHostButton,  // no procedure set: the host's own reaction closed the dialog
    kIgnored,     // no procedure set and not a button: nothing happened
    kNoSuchItem,  // the dialog has no item with that id
};

struct DialogPress {
    ai::int32 item = 0;
    PressRoute route = PressRoute::kIgnored;
};

// A modal dialog as it was shown.
struct DialogRecord {
    PluginId plugin = -1;
    ai::int32 resourceID = 0;
    std::string name;   // as the plug-in asked for it
    std::string title;  // from the resource
    std::vector<DialogItemRecord> items;  // texts as the user saw them
    ASErr initResult = kNoErr;
    ai::int32 closedBy = 0;  // the item that closed it; 0 when init refused it
    bool closedByUser = false;  // false when the host had to close it itself
    std::vector<DialogPress> presses;  // in order; empty when init refused it
};

// How the host answers matching queries; levers for hostile documents.
struct MatchingOptions {
    bool shuffle = false;
    std::uint64_t shuffleSeed = 0;
    bool nullHandleForEmpty = false;
    // When the gate fails get-matching-art or get-selected-art, still hand
    // out a handle the caller must dispose of.
    bool handleOnFailure = false;
};

// How the host answers reads of the plug-in's string lists; a lever for
// hostile hosts.
struct StringListOptions {
    // A read of an entry the list does not have (or of a list that does not
    // exist) reports success and leaves the caller's buffer as it was.
    bool silentWhenMissing = false;
};

class Host {
public:
    Host();
    ~Host();
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;

    // The host the suite functions act on.
    static Host& current() {
        if (__builtin_expect(current_ == nullptr, 0)) noCurrentHost();
        return *current_;
    }
    static Host* currentOrNull() { return current_; }

    // ---- Plug-ins -------------------------------------------------------
    // Loads a plug-in library and its resource file (same path, extension
    // ".resources.json"). Throws std::runtime_error with a clear message.
    PluginId loadPlugin(const std::string& libraryPath);
    // Registers an entry point linked into this process, with its resources.
    PluginId attachPlugin(SPPluginMainProc main, Resources resources, std::string label);
    // dlclose()s a loaded plug-in; it can no longer be sent messages.
    void unloadLibrary(PluginId plugin);
    // Loads the library again after unloadLibrary, keeping the globals word.
    void reloadLibrary(PluginId plugin);
    LoadedPlugin& plugin(PluginId id);
    std::size_t pluginCount() const { return plugins_.size(); }
    SPPluginRef pluginRef(PluginId id) const;
    std::optional<PluginId> pluginOf(SPPluginRef ref) const;

    // ---- Messages ---------------------------------------------------------
    // Sends one message. `message` must begin with SPMessageData; the host
    // fills in the head (plug-in reference, globals word, basic suite) and
    // keeps the globals word the plug-in leaves in it.
    ASErr send(PluginId plugin, const char* caller, const char* selector, SPMessageData* head);
    ASErr sendInterface(PluginId plugin, const char* selector);
    ASErr sendAccess(PluginId plugin, const char* selector);
    // Sends "SP Access" / "Reload" or "Unload" with the given globals word
    // instead of the one the host keeps.
    ASErr sendAccessWithGlobals(PluginId plugin, const char* selector, void* globals);
    ASErr startup(PluginId plugin) { return sendInterface(plugin, kSPInterfaceStartupSelector); }
    ASErr about(PluginId plugin) { return sendInterface(plugin, kSPInterfaceAboutSelector); }
    ASErr shutdown(PluginId plugin) { return sendInterface(plugin, kSPInterfaceShutdownSelector); }
    // "AI Menu" / "AI Go" or "AI Update" to the plug-in that owns the item.
    ASErr chooseMenuItem(AIMenuItemHandle item);
    ASErr updateMenuItem(AIMenuItemHandle item);
    ASErr sendMenu(PluginId plugin, const char* selector, AIMenuItemHandle item);

    // ---- What the host holds ------------------------------------------------
    Gate& gate() { return gate_; }
    Ledger& ledger() { return ledger_; }
    Document& document() { return document_; }
    void setDocument(Document document) { document_ = std::move(document); }
    Menus& menus() { return menus_; }
    MatchingOptions& matching() { return matching_; }
    StringListOptions& stringLists() { return stringLists_; }

    const std::vector<DialogRecord>& dialogs() const { return dialogs_; }
    const std::vector<std::string>& alerts() const { return alerts_; }
    void clearDialogsAndAlerts();
    // The item the simulated user presses in every modal dialog (default 1).
    void setDialogButton(ai::int32 itemID) { simulatedPress_.setItem(itemID); }
    // Who answers modal dialogs from now on; null restores the simulated
    // press. The driver must outlive its use.
    void setDialogDriver(DialogDriver* driver) { dialogDriver_ = driver != nullptr ? driver : &simulatedPress_; }

    // Whatever is held beyond each started plug-in's globals block, and
    // every violation recorded: one line each, empty when all is well.
    std::vector<std::string> problems() const;

    // ---- Menu and art handles ---------------------------------------------------
    AIMenuItemHandle menuItemHandle(MenuItemIndex index) const;
    std::optional<MenuItemIndex> menuItemOf(AIMenuItemHandle handle) const;
    AIMenuGroup menuGroupHandle(MenuGroupIndex index) const;
    std::optional<MenuGroupIndex> menuGroupOf(AIMenuGroup handle) const;
    AIArtHandle artHandle(ArtIndex index) const;
    // The node a handle names, or null (and a violation recorded, naming
    // `operation`) when it names none. Read-only: the host changes nodes
    // through the document, which keeps its selection index.
    const ArtNode* artOf(AIArtHandle handle, const char* operation);
    std::optional<ArtIndex> artIndexOf(AIArtHandle handle) const;
    AILayerHandle layerHandle(LayerIndex index) const;
    Layer* layerOf(AILayerHandle handle, const char* operation);

    // ---- Suites ------------------------------------------------------------
    // Grant `name` at `version` with a table whose every slot traps, to see
    // what a plug-in does with a table that is not what it asked for.
    void grantWrongTable(const std::string& name, ai::int32 version);
    // Grant `name` at `version` with success and a null table: a hold all
    // the same, to see that a plug-in gives it back and never calls through
    // it; `null` false grants the real table again.
    void grantNullTable(const std::string& name, ai::int32 version, bool null = true);
    // Records a call through a slot that traps; returns kTrapErr.
    ASErr trapped(std::size_t suite, std::size_t slot);
    // Records that `operation` was given an argument it must not get.
    ASErr badParameter(const char* operation, const std::string& what);
    // Records a breach of rule `rule` by `operation`; returns kBadParameterErr.
    ASErr refuse(const char* rule, const char* operation, const std::string& what);
    // The plug-in a call names. Unknown references are bad parameters; while
    // a message is in flight, only the plug-in handling it may be named.
    std::optional<PluginId> pluginForCall(SPPluginRef ref, const char* operation);
    // Whether `plugin` may add menu items and groups now: only during its own
    // "Startup" (or, outside any message, before it has started: a test
    // driving the suites directly). Records the breach otherwise.
    bool mayChangeMenus(PluginId plugin, const char* operation);

    // ---- Suite implementation plumbing (used by the suite functions) --------
    SPBasicSuite* basicSuite() { return &basic_; }
    const void* acquire(const char* name, ai::int32 version, ASErr* err);
    ASErr release(const char* name, ai::int32 version);
    ai::int32 runModal(SPPluginRef plugin, const char* name, ai::int32 dialogID,
                       ADMDialogInitProc initProc, ADMUserData userData);
    struct ActiveDialog;
    ActiveDialog* dialogOf(ADMDialogRef dialog);
    ADMItemRef itemOf(ActiveDialog& dialog, ai::int32 itemID);
    // The dialog and item position an item handle names.
    bool resolveItem(ADMItemRef item, ActiveDialog** dialog, std::size_t* position);
    void closeDialog(ActiveDialog& dialog, ai::int32 itemID);
    // One press of `itemID`, as the modal loop delivers it.
    PressRoute pressItem(ActiveDialog& dialog, ai::int32 itemID);
    // The item default-notify may act on: `item` must be the item of a
    // notification now in flight and `notifier` that notification's.
    // Records the breach and returns false otherwise.
    bool checkNotification(ADMItemRef item, ADMNotifierRef notifier, ActiveDialog** dialog, std::size_t* position);
    void recordAlert(std::string text) { alerts_.push_back(std::move(text)); }
    std::optional<PluginId> messagePlugin() const { return message_ ? std::optional<PluginId>(message_->plugin) : std::nullopt; }

private:
    struct GrantTable;
    // Inline: every suite function starts here.
    static inline Host* current_ = nullptr;
    [[noreturn]] static void noCurrentHost();
    void runPresses(ActiveDialog& dialog, DialogRecord& record);
    void badArt(AIArtHandle handle, const char* operation);
    void badLayer(AILayerHandle handle, const char* operation);
    void fillGrant(std::size_t suite);

    Gate gate_;
    Ledger ledger_;
    Document document_;
    Menus menus_;
    MatchingOptions matching_;
    StringListOptions stringLists_;
    std::vector<std::unique_ptr<LoadedPlugin>> plugins_;
    std::vector<DialogRecord> dialogs_;
    std::vector<std::string> alerts_;
    std::vector<std::unique_ptr<ActiveDialog>> activeDialogs_;
    std::vector<std::unique_ptr<GrantTable>> grants_;
    SPBasicSuite basic_;
    SimulatedPress simulatedPress_;
    DialogDriver* dialogDriver_ = &simulatedPress_;
    // The message in flight: whose, and which caller and selector.
    struct MessageInFlight {
        PluginId plugin;
        const char* caller;
        const char* selector;
    };
    std::optional<MessageInFlight> message_;
    // Notifications in flight (a notify procedure may run a nested dialog):
    // the handle of each notifier and of the item it was issued for.
    struct Notification {
        ADMNotifierRef notifier;
        ADMItemRef item;
    };
    std::vector<Notification> notifications_;
    std::uint32_t notifierSerial_ = 0;
    Host* previous_ = nullptr;
};

// ---- Inline handle plumbing: on every call of the document suites. ----

inline AIArtHandle Host::artHandle(ArtIndex index) const {
    return makeHandle<AIArtHandle>(HandleKind::kArt, static_cast<std::uint32_t>(index));
}

inline std::optional<ArtIndex> Host::artIndexOf(AIArtHandle handle) const {
    const auto index = handleIndex(HandleKind::kArt, handle);
    if (!index || !document_.hasArt(*index)) return std::nullopt;
    return static_cast<ArtIndex>(*index);
}

inline const ArtNode* Host::artOf(AIArtHandle handle, const char* operation) {
    const auto index = artIndexOf(handle);
    if (!index) {
        badArt(handle, operation);
        return nullptr;
    }
    return &std::as_const(document_).art(*index);
}

inline AILayerHandle Host::layerHandle(LayerIndex index) const {
    return makeHandle<AILayerHandle>(HandleKind::kLayer, static_cast<std::uint32_t>(index));
}

inline Layer* Host::layerOf(AILayerHandle handle, const char* operation) {
    const auto index = handleIndex(HandleKind::kLayer, handle);
    if (!index || !document_.hasLayer(*index)) {
        badLayer(handle, operation);
        return nullptr;
    }
    return &document_.layer(static_cast<LayerIndex>(*index));
}

}  // namespace simhost
