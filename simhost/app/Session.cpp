#include "Session.h"

#include <cstdint>
#include <functional>

#include "CommandNames.h"
#include "ExitCodes.h"
#include "simhost/Dialogs.h"
#include "simhost/Document.h"
#include "simhost/Menus.h"

namespace simhost_app {

using namespace simhost;

Session::Session(const std::string& pluginPath) {
    try {
        plugin_ = host_.loadPlugin(pluginPath);
    } catch (const std::exception& e) {
        throw SessionError{e.what(), kBadInput, {}};
    }
    const ASErr started = host_.startup(plugin_);
    running_ = true;
    if (started != kNoErr)
        throw SessionError{"the plug-in failed to start (code " + std::to_string(started) + ")", kPluginError,
                           host_.dialogs()};
    const MenuGroupIndex group = host_.menus().findGroup("SelectObject");
    if (group >= 0) {
        for (const MenuItemIndex item : host_.menus().group(group).items) {
            if (host_.menus().item(item).plugin != plugin_) continue;
            items_.push_back(item);
            texts_.push_back(host_.menus().item(item).text);
        }
    }
}

Session::~Session() {
    std::vector<std::string> ignored;
    shutdown(ignored);
}

ASErr Session::shutdown(std::vector<std::string>& problems) {
    if (!running_) return kNoErr;
    running_ = false;
    const ASErr result = host_.shutdown(plugin_);
    problems = host_.problems();
    return result;
}

std::optional<std::size_t> Session::commandNamed(const std::string& text) const {
    return matchCommand(texts_, text);
}

CommandRun Session::run(std::size_t index, Document& document) {
    return runItem(items_.at(index), texts_[index], document);
}

CommandRun Session::runItem(MenuItemIndex item, const std::string& text, Document& document) {
    CommandRun run;
    run.command = text;
    // Who selected what: what was selected before, what the command selected.
    std::vector<std::uint8_t> before(document.artCount(), 0), selecting(document.artCount(), 0);
    for (const ArtIndex index : document.selected()) before[static_cast<std::size_t>(index)] = 1;
    host_.clearDialogsAndAlerts();
    {
        // The document is lent to the host for the message, whatever the
        // message does; and the record must not outlive `selecting`.
        struct Lending {
            Host& host;
            Document& doc;
            ~Lending() {
                doc.recordSelecting(nullptr);
                host.lendDocument(nullptr);
            }
        } lending{host_, document};
        host_.lendDocument(&document);
        document.recordSelecting(&selecting);
        run.result = host_.chooseItem(item);
    }
    run.selected = document.selected();
    run.kept.reserve(run.selected.size());
    for (const ArtIndex index : run.selected)
        run.kept.push_back(before[static_cast<std::size_t>(index)] != 0 && selecting[static_cast<std::size_t>(index)] == 0);
    run.dialogs = host_.dialogs();
    run.alerts = host_.alerts();
    return run;
}

std::string Session::menuTree() {
    const Menus& menus = host_.menus();
    // A group is shown when it, or a submenu below it, holds a plug-in item.
    std::function<bool(MenuGroupIndex)> holdsOurs = [&](MenuGroupIndex g) {
        for (const MenuItemIndex item : menus.group(g).items) {
            if (menus.item(item).plugin == plugin_) return true;
            if (menus.item(item).submenu >= 0 && holdsOurs(menus.item(item).submenu)) return true;
        }
        return false;
    };
    std::string out;
    std::function<void(MenuGroupIndex, int)> render = [&](MenuGroupIndex g, int depth) {
        out.append(static_cast<std::size_t>(depth) * 2, ' ');
        out += "[" + menus.group(g).name + "]\n";
        for (const MenuItemIndex item : menus.group(g).items) {
            out.append(static_cast<std::size_t>(depth) * 2 + 2, ' ');
            out += menus.item(item).text + "\n";
            if (menus.item(item).submenu >= 0) render(menus.item(item).submenu, depth + 2);
        }
    };
    for (std::size_t g = 0; g < menus.groupCount(); ++g) {
        const auto index = static_cast<MenuGroupIndex>(g);
        if (menus.group(index).parentItem < 0 && holdsOurs(index)) render(index, 0);
    }
    return out;
}

std::vector<DialogRecord> Session::about() {
    host_.clearDialogsAndAlerts();
    host_.about(plugin_);
    return host_.dialogs();
}

}  // namespace simhost_app
