// The loader: the plug-ins a host has loaded or attached, their libraries
// and their resources. Every system call it makes goes through the
// LoaderSystem it is given.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Room.h"
#include "simhost/LoaderSystem.h"
#include "simhost/Plugins.h"

namespace simhost {

class LoaderRoom {
public:
    // `system` must outlive the room.
    explicit LoaderRoom(LoaderSystem& system) : system_(system) {}
    // Closes every library still open; the plug-ins are given nothing back.
    ~LoaderRoom();
    LoaderRoom(const LoaderRoom&) = delete;
    LoaderRoom& operator=(const LoaderRoom&) = delete;

    static LoaderRoom& current() { return Current<LoaderRoom>::get(); }

    // Loads a plug-in library and its resource file (same path, extension
    // ".resources.json"; none when there is no such file). Throws
    // std::runtime_error naming the file and the call that failed; the
    // host then holds nothing of it.
    PluginId loadPlugin(const std::string& libraryPath);
    // Registers an entry point linked into this process, with its resources.
    PluginId attachPlugin(SPPluginMainProc main, Resources resources, std::string label);
    // Closes a loaded plug-in's library; it can no longer be sent messages.
    // Throws when the library cannot be closed, which leaves it loaded.
    void unloadLibrary(PluginId plugin);
    // Opens the library again after unloadLibrary, keeping the globals word.
    void reloadLibrary(PluginId plugin);

    LoadedPlugin& plugin(PluginId id);
    const LoadedPlugin& plugin(PluginId id) const;
    std::size_t pluginCount() const { return plugins_.size(); }
    SPPluginRef pluginRef(PluginId id) const;
    std::optional<PluginId> pluginOf(SPPluginRef ref) const;

    StringListOptions& stringLists() { return stringLists_; }

private:
    std::optional<std::string> readResourceText(const std::string& path);
    std::string readOpenFile(int fd, const std::string& path);
    std::string libraryError();

    Current<LoaderRoom> registration_{this};
    LoaderSystem& system_;
    std::vector<std::unique_ptr<LoadedPlugin>> plugins_;
    StringListOptions stringLists_;
};

}  // namespace simhost
