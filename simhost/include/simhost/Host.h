// The stand-in host: loads plug-ins, sends them messages, and serves every
// suite they acquire from its document, menus, dialogs and their resources.
//
// Host is a facade over the host's rooms (simhost/src/*Room.h): the loader,
// the messages, the suites it grants, the menus, the document and the
// dialogs, with the gate and the ledger they share. The suite functions act
// on the rooms of the current host (the last one constructed and not yet
// destroyed). Everything runs on the calling thread.
//
// What it only names is declared here, not included: a caller includes the
// headers of what it uses (Document.h, Menus.h, Gate.h, ...).
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "SPSuites.h"
#include "simhost/Indices.h"

namespace simhost {

class DialogDriver;
class Document;
class Gate;
class Ledger;
class LoaderSystem;
class Menus;
class Resources;
struct DialogRecord;
struct LoadedPlugin;
struct MatchingOptions;
struct StringListOptions;

class Host {
public:
    // The loader makes the process's own system calls.
    Host();
    // `system` makes the loader's system calls; it must outlive the host.
    explicit Host(LoaderSystem& system);
    ~Host();
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;

    // The host the suite functions act on.
    static Host& current();
    static Host* currentOrNull();

    // ---- Plug-ins -------------------------------------------------------
    // Loads a plug-in library and its resource file (same path, extension
    // ".resources.json"). Throws std::runtime_error with a clear message.
    PluginId loadPlugin(const std::string& libraryPath);
    // Registers an entry point linked into this process, with its resources.
    PluginId attachPlugin(SPPluginMainProc main, Resources resources, std::string label);
    // dlclose()s a loaded plug-in; it can no longer be sent messages. Throws
    // std::runtime_error when the library cannot be closed; it stays loaded.
    void unloadLibrary(PluginId plugin);
    // Loads the library again after unloadLibrary, keeping the globals word.
    void reloadLibrary(PluginId plugin);
    LoadedPlugin& plugin(PluginId id);
    std::size_t pluginCount() const;
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
    // The same for an item the host already knows by its index: no handle
    // to look up again.
    ASErr chooseItem(MenuItemIndex index);
    ASErr updateMenuItem(AIMenuItemHandle item);
    ASErr sendMenu(PluginId plugin, const char* selector, AIMenuItemHandle item);

    // ---- What the host holds ------------------------------------------------
    Gate& gate();
    Ledger& ledger();
    Document& document();
    void setDocument(Document document);
    // The host works on `document`, which stays the caller's, until lent
    // nullptr: no move in and out for each message.
    void lendDocument(Document* document);
    Menus& menus();
    MatchingOptions& matching();
    StringListOptions& stringLists();

    const std::vector<DialogRecord>& dialogs() const;
    const std::vector<std::string>& alerts() const;
    void clearDialogsAndAlerts();
    // The item the simulated user presses in every modal dialog (default 1).
    void setDialogButton(ai::int32 itemID);
    // Who answers modal dialogs from now on; null restores the simulated
    // press. The driver must outlive its use.
    void setDialogDriver(DialogDriver* driver);

    // Whatever is held beyond each started plug-in's globals block, and
    // every violation recorded: one line each, empty when all is well.
    std::vector<std::string> problems() const;

    // ---- Menu and art handles ---------------------------------------------------
    AIMenuItemHandle menuItemHandle(MenuItemIndex index) const;
    std::optional<MenuItemIndex> menuItemOf(AIMenuItemHandle handle) const;
    AIMenuGroup menuGroupHandle(MenuGroupIndex index) const;
    std::optional<MenuGroupIndex> menuGroupOf(AIMenuGroup handle) const;
    AIArtHandle artHandle(ArtIndex index) const;
    std::optional<ArtIndex> artIndexOf(AIArtHandle handle) const;
    AILayerHandle layerHandle(LayerIndex index) const;

    // ---- Suites ------------------------------------------------------------
    SPBasicSuite* basicSuite();
    // Grant `name` at `version` with a table whose every slot traps, to see
    // what a plug-in does with a table that is not what it asked for.
    void grantWrongTable(const std::string& name, ai::int32 version);
    // Grant `name` at `version` with success and a null table: a hold all
    // the same, to see that a plug-in gives it back and never calls through
    // it; `null` false grants the real table again.
    void grantNullTable(const std::string& name, ai::int32 version, bool null = true);

private:
    struct Rooms;
    std::unique_ptr<Rooms> rooms_;
};

}  // namespace simhost
