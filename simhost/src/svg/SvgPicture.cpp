// The selection picture as PNG, rendered by rsvg-convert.
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "simhost/svg/SvgDocument.h"

extern char** environ;

namespace simhost {

namespace {

// A temporary file for the picture's drawing beside the drawing it shows:
// rsvg-convert resolves linked images against the file it reads, and loads
// none from outside that file's folder. Elsewhere when the folder cannot be
// written to (the links are then not drawn).
std::string temporaryBeside(const std::string& sourcePath, const std::string& text) {
    std::vector<std::string> folders;
    if (!sourcePath.empty() && sourcePath != "-") {
        const std::filesystem::path parent = std::filesystem::path(sourcePath).parent_path();
        folders.push_back(parent.empty() ? "." : parent.string());
    }
    folders.push_back(std::filesystem::temp_directory_path().string());
    for (const std::string& folder : folders) {
        std::string name = folder + "/.simhost-picture-XXXXXX.svg";
        const int fd = mkstemps(name.data(), 4);
        if (fd < 0) continue;
        const bool written = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
        close(fd);
        if (written) return name;
        std::remove(name.c_str());
    }
    throw DocumentError(std::string("cannot write a temporary file for the picture: ") + std::strerror(errno));
}

// Runs rsvg-convert; empty on success, else what went wrong.
std::string runRenderer(std::vector<std::string> args) {
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ);
    if (spawned != 0)
        return "cannot run rsvg-convert (" + std::string(std::strerror(spawned)) + "; Debian package librsvg2-bin)";
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return "rsvg-convert could not render the picture";
    return {};
}

}  // namespace

void writeSelectionPng(const SvgDocument& svg, const std::string& text, const std::string& sourcePath,
                       const std::vector<ArtIndex>& objects, const PictureOptions& options, const std::string& pngPath) {
    int height = 0;
    const std::string picture = selectionPictureSvg(svg, text, objects, options, &height);
    const std::string temporary = temporaryBeside(sourcePath, picture);
    std::vector<std::string> args = {"rsvg-convert", "--unlimited", "--width", std::to_string(options.width),
                                     "--height", std::to_string(height)};
    const std::string& bg = options.background;
    if (!bg.empty() && bg != "none" && bg != "transparent") args.insert(args.end(), {"--background-color", bg});
    args.insert(args.end(), {"-o", pngPath, temporary});
    const std::string failure = runRenderer(std::move(args));
    std::remove(temporary.c_str());
    if (!failure.empty()) throw DocumentError(failure);
}

}  // namespace simhost
