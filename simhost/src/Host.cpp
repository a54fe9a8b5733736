#include "simhost/Host.h"

#include <cstdio>
#include <cstdlib>

#include "DialogRoom.h"
#include "DocumentRoom.h"
#include "LoaderRoom.h"
#include "MenuRoom.h"
#include "MessageRoom.h"
#include "SuiteRoom.h"

namespace simhost {

// Built in the order they depend on each other; each becomes its kind's
// current room, and the one it replaced is current again when it goes. The
// host itself is current once all its rooms are.
struct Host::Rooms {
    Rooms(Host* host, LoaderSystem& system)
        : suites(gate, ledger),
          loader(system),
          messages(gate, ledger, loader, suites.basicSuite()),
          menus(gate, ledger, messages, loader),
          documents(gate, ledger),
          dialogs(gate, ledger, messages, loader),
          registration(host) {}

    Gate gate;
    Ledger ledger;
    SuiteRoom suites;
    LoaderRoom loader;
    MessageRoom messages;
    MenuRoom menus;
    DocumentRoom documents;
    DialogRoom dialogs;
    Current<Host> registration;
};

void noCurrentHost() {
    std::fprintf(stderr, "simhost: a suite was called with no host\n");
    std::abort();
}

Host::Host() : Host(LoaderSystem::real()) {}
Host::Host(LoaderSystem& system) : rooms_(std::make_unique<Rooms>(this, system)) {}
Host::~Host() = default;

Host& Host::current() { return Current<Host>::get(); }
Host* Host::currentOrNull() { return Current<Host>::getOrNull(); }

// ---- Plug-ins ----------------------------------------------------------------

PluginId Host::loadPlugin(const std::string& libraryPath) { return rooms_->loader.loadPlugin(libraryPath); }

PluginId Host::attachPlugin(SPPluginMainProc main, Resources resources, std::string label) {
    return rooms_->loader.attachPlugin(main, std::move(resources), std::move(label));
}

void Host::unloadLibrary(PluginId id) { rooms_->loader.unloadLibrary(id); }
void Host::reloadLibrary(PluginId id) { rooms_->loader.reloadLibrary(id); }
LoadedPlugin& Host::plugin(PluginId id) { return rooms_->loader.plugin(id); }
std::size_t Host::pluginCount() const { return rooms_->loader.pluginCount(); }
SPPluginRef Host::pluginRef(PluginId id) const { return rooms_->loader.pluginRef(id); }
std::optional<PluginId> Host::pluginOf(SPPluginRef ref) const { return rooms_->loader.pluginOf(ref); }

// ---- Messages -------------------------------------------------------------------

ASErr Host::send(PluginId id, const char* caller, const char* selector, SPMessageData* head) {
    return rooms_->messages.send(id, caller, selector, head);
}

ASErr Host::sendInterface(PluginId id, const char* selector) { return rooms_->messages.sendInterface(id, selector); }

ASErr Host::sendAccess(PluginId id, const char* selector) {
    return rooms_->messages.sendAccessWithGlobals(id, selector, plugin(id).globals);
}

ASErr Host::sendAccessWithGlobals(PluginId id, const char* selector, void* globals) {
    return rooms_->messages.sendAccessWithGlobals(id, selector, globals);
}

ASErr Host::sendMenu(PluginId id, const char* selector, AIMenuItemHandle item) {
    return rooms_->messages.sendMenu(id, selector, item);
}

ASErr Host::chooseMenuItem(AIMenuItemHandle item) { return rooms_->menus.chooseMenuItem(item); }
ASErr Host::chooseItem(MenuItemIndex index) { return rooms_->menus.chooseItem(index); }
ASErr Host::updateMenuItem(AIMenuItemHandle item) { return rooms_->menus.updateMenuItem(item); }

// ---- What the host holds ------------------------------------------------------------

Gate& Host::gate() { return rooms_->gate; }
Ledger& Host::ledger() { return rooms_->ledger; }
Document& Host::document() { return rooms_->documents.document(); }
void Host::setDocument(Document document) { rooms_->documents.setDocument(std::move(document)); }
void Host::lendDocument(Document* document) { rooms_->documents.lendDocument(document); }
Menus& Host::menus() { return rooms_->menus.menus(); }
MatchingOptions& Host::matching() { return rooms_->documents.matching(); }
StringListOptions& Host::stringLists() { return rooms_->loader.stringLists(); }

const std::vector<DialogRecord>& Host::dialogs() const { return rooms_->dialogs.dialogs(); }
const std::vector<std::string>& Host::alerts() const { return rooms_->dialogs.alerts(); }
void Host::clearDialogsAndAlerts() { rooms_->dialogs.clearDialogsAndAlerts(); }
void Host::setDialogButton(ai::int32 itemID) { rooms_->dialogs.setDialogButton(itemID); }
void Host::setDialogDriver(DialogDriver* driver) { rooms_->dialogs.setDialogDriver(driver); }

// ---- Handles ----------------------------------------------------------------------

AIMenuItemHandle Host::menuItemHandle(MenuItemIndex index) const { return rooms_->menus.menuItemHandle(index); }

std::optional<MenuItemIndex> Host::menuItemOf(AIMenuItemHandle handle) const {
    return rooms_->menus.menuItemOf(handle);
}

AIMenuGroup Host::menuGroupHandle(MenuGroupIndex index) const { return rooms_->menus.menuGroupHandle(index); }

std::optional<MenuGroupIndex> Host::menuGroupOf(AIMenuGroup handle) const {
    return rooms_->menus.menuGroupOf(handle);
}

AIArtHandle Host::artHandle(ArtIndex index) const { return rooms_->documents.artHandle(index); }
std::optional<ArtIndex> Host::artIndexOf(AIArtHandle handle) const { return rooms_->documents.artIndexOf(handle); }
AILayerHandle Host::layerHandle(LayerIndex index) const { return rooms_->documents.layerHandle(index); }

// ---- Suites -------------------------------------------------------------------------

SPBasicSuite* Host::basicSuite() { return rooms_->suites.basicSuite(); }

void Host::grantWrongTable(const std::string& name, ai::int32 version) {
    rooms_->suites.grantWrongTable(name, version);
}

void Host::grantNullTable(const std::string& name, ai::int32 version, bool null) {
    rooms_->suites.grantNullTable(name, version, null);
}

// ---- Balance ---------------------------------------------------------------------------

std::vector<std::string> Host::problems() const {
    const Ledger& ledger = rooms_->ledger;
    std::vector<std::string> lines = ledger.outstanding();
    const LoaderRoom& loader = rooms_->loader;
    for (std::size_t id = 0; id < loader.pluginCount(); ++id) {
        const LoadedPlugin& plugin = loader.plugin(static_cast<PluginId>(id));
        const std::size_t blocks = ledger.liveBlocksOf(static_cast<int>(id));
        const std::size_t allowed = plugin.started ? 1 : 0;
        if (blocks > allowed)
            lines.push_back(std::to_string(blocks - allowed) + " memory block(s) of " + plugin.path + " not freed");
    }
    const std::size_t stray = ledger.liveBlocksOf(-1);
    if (stray != 0) lines.push_back(std::to_string(stray) + " memory block(s) allocated outside any message");
    for (const Violation& v : ledger.violations()) lines.push_back("violation [" + v.rule + "] " + v.detail);
    return lines;
}

}  // namespace simhost
