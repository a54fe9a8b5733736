#include "LoaderRoom.h"

#include <dlfcn.h>
#include <fcntl.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <utility>

#include "Handles.h"

namespace simhost {

namespace {

std::string resourcePathFor(const std::string& libraryPath) {
    const std::size_t slash = libraryPath.find_last_of('/');
    const std::size_t dot = libraryPath.find_last_of('.');
    const std::string stem =
        dot != std::string::npos && (slash == std::string::npos || dot > slash) ? libraryPath.substr(0, dot)
                                                                                  : libraryPath;
    return stem + ".resources.json";
}

// Makes a system call again for as long as a signal interrupts it before it
// has done anything.
template <typename Call>
auto retryInterrupted(Call call) {
    auto result = call();
    while (result == -1 && errno == EINTR) result = call();
    return result;
}

std::string describe(int error) { return std::strerror(error); }

constexpr std::size_t kReadChunk = 64 * 1024;

}  // namespace

LoaderRoom::~LoaderRoom() {
    for (auto& plugin : plugins_)
        if (plugin->library != nullptr) system_.closeLibrary(plugin->library);
}

PluginId LoaderRoom::loadPlugin(const std::string& libraryPath) {
    auto plugin = std::make_unique<LoadedPlugin>();
    plugin->path = libraryPath;
    const std::string resources = resourcePathFor(libraryPath);
    if (const std::optional<std::string> text = readResourceText(resources))
        plugin->resources = Resources::parse(*text, resources);
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

PluginId LoaderRoom::attachPlugin(SPPluginMainProc main, Resources resources, std::string label) {
    auto plugin = std::make_unique<LoadedPlugin>();
    plugin->path = std::move(label);
    plugin->main = main;
    plugin->resources = std::move(resources);
    plugins_.push_back(std::move(plugin));
    return static_cast<PluginId>(plugins_.size() - 1);
}

void LoaderRoom::unloadLibrary(PluginId id) {
    LoadedPlugin& p = plugin(id);
    if (p.library == nullptr) return;
    if (system_.closeLibrary(p.library) != 0)
        throw std::runtime_error("cannot unload plug-in " + p.path + ": " + libraryError());
    p.library = nullptr;
    p.main = nullptr;
}

void LoaderRoom::reloadLibrary(PluginId id) {
    LoadedPlugin& p = plugin(id);
    if (p.library != nullptr) return;
    void* library = system_.openLibrary(p.path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) throw std::runtime_error("cannot load plug-in " + p.path + ": " + libraryError());
    void* entry = system_.findSymbol(library, kPluginMainSymbol);
    if (entry == nullptr) {
        std::string why = "plug-in " + p.path + " does not export " + kPluginMainSymbol;
        if (system_.closeLibrary(library) != 0) why += ", and cannot be closed: " + libraryError();
        throw std::runtime_error(why);
    }
    p.library = library;
    p.main = reinterpret_cast<SPPluginMainProc>(entry);
}

std::string LoaderRoom::libraryError() {
    const char* why = system_.libraryError();
    return why != nullptr ? why : "unknown error";
}

// The whole file, or nothing when there is no such file: a plug-in may come
// without resources. Any other failure is the file's, and reported.
std::optional<std::string> LoaderRoom::readResourceText(const std::string& path) {
    const int fd = retryInterrupted([&] { return system_.openFile(path.c_str(), O_RDONLY | O_CLOEXEC); });
    if (fd < 0) {
        const int error = errno;
        if (error == ENOENT || error == ENOTDIR) return std::nullopt;
        throw ResourceError(path + ": cannot open the resource file: " + describe(error));
    }
    std::string text;
    try {
        text = readOpenFile(fd, path);
    } catch (...) {
        system_.closeFile(fd);
        throw;
    }
    // Not retried: the descriptor is released even when close fails.
    if (system_.closeFile(fd) != 0) {
        const int error = errno;
        throw ResourceError(path + ": cannot close the resource file: " + describe(error));
    }
    return text;
}

std::string LoaderRoom::readOpenFile(int fd, const std::string& path) {
    std::string text;
    std::vector<char> chunk(kReadChunk);
    for (;;) {
        const ssize_t n = retryInterrupted([&] { return system_.readFile(fd, chunk.data(), chunk.size()); });
        if (n == 0) return text;
        if (n < 0) {
            const int error = errno;
            throw ResourceError(path + ": cannot read the resource file: " + describe(error));
        }
        text.append(chunk.data(), static_cast<std::size_t>(n));
    }
}

LoadedPlugin& LoaderRoom::plugin(PluginId id) {
    return const_cast<LoadedPlugin&>(std::as_const(*this).plugin(id));
}

const LoadedPlugin& LoaderRoom::plugin(PluginId id) const {
    if (id < 0 || static_cast<std::size_t>(id) >= plugins_.size())
        throw std::out_of_range("no plug-in " + std::to_string(id));
    return *plugins_[static_cast<std::size_t>(id)];
}

SPPluginRef LoaderRoom::pluginRef(PluginId id) const {
    return makeHandle<SPPluginRef>(HandleKind::kPlugin, static_cast<std::uint32_t>(id));
}

std::optional<PluginId> LoaderRoom::pluginOf(SPPluginRef ref) const {
    const auto index = handleIndex(HandleKind::kPlugin, ref);
    if (!index || *index >= plugins_.size()) return std::nullopt;
    return static_cast<PluginId>(*index);
}

}  // namespace simhost
