// One run of the stand-in host with the plug-in loaded and started: its
// commands found by their menu texts and run on documents.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "simhost/Dialogs.h"
#include "simhost/Document.h"
#include "simhost/Host.h"

namespace simhost_app {

// The plug-in could not be loaded or started: what the user is told.
struct SessionError {
    std::string message;
    int exitCode;
    std::vector<simhost::DialogRecord> dialogs;  // what the plug-in showed
};

struct CommandRun {
    std::string command;  // its menu text
    ASErr result = kNoErr;
    std::vector<simhost::ArtIndex> selected;  // in document order
    // Per object of `selected`: selected before the command and never
    // selected by it (a guide its deselect left alone, say).
    std::vector<bool> kept;
    std::vector<simhost::DialogRecord> dialogs;
    std::vector<std::string> alerts;
};

class Session {
public:
    // Loads the plug-in and sends it "Startup". Throws SessionError.
    explicit Session(const std::string& pluginPath);
    // Sends "Shutdown".
    ~Session();

    simhost::Host& host() { return host_; }
    simhost::PluginId plugin() const { return plugin_; }

    // The texts of the plug-in's selection commands, in menu order.
    const std::vector<std::string>& commands() const { return texts_; }
    // The command whose menu text `text` names (see CommandNames.h).
    std::optional<std::size_t> commandNamed(const std::string& text) const;

    // Chooses command `index` from the menu with `document` open. The
    // document goes to the host and comes back with the command's selection.
    CommandRun run(std::size_t index, simhost::Document& document);
    // The same for any menu item, named `text` in the run.
    CommandRun runItem(simhost::MenuItemIndex item, const std::string& text, simhost::Document& document);

    // The menu groups that hold the plug-in's items, as a tree.
    std::string menuTree();
    // Sends "About" and returns the dialogs it showed.
    std::vector<simhost::DialogRecord> about();

    // Shuts the plug-in down; then what the host found held or broken.
    // Returns the result of "Shutdown".
    ASErr shutdown(std::vector<std::string>& problems);

private:
    simhost::Host host_;
    simhost::PluginId plugin_ = -1;
    bool running_ = false;
    std::vector<simhost::MenuItemIndex> items_;
    std::vector<std::string> texts_;
};

}  // namespace simhost_app

// The command line works in the application's terms.
namespace simhost_cli {
using namespace simhost_app;
}
