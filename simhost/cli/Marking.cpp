#include "Marking.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

extern char** environ;

namespace simhost_cli {

bool writeFile(const std::string& path, const std::string& text) {
    if (path == "-") {
        std::size_t done = 0;
        while (done < text.size()) {
            const ssize_t n = ::write(STDOUT_FILENO, text.data() + done, text.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return false;
            done += static_cast<std::size_t>(n);
        }
        return true;
    }
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return false;
    const bool ok = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    return std::fclose(file) == 0 && ok;
}

bool programOnPath(const std::string& program) {
    const char* path = std::getenv("PATH");
    std::istringstream dirs(path == nullptr ? "" : path);
    for (std::string dir; std::getline(dirs, dir, ':');)
        if (access(((dir.empty() ? "." : dir) + "/" + program).c_str(), X_OK) == 0) return true;
    return false;
}

std::string renderPng(const std::string& svg, const std::string& png) {
    std::vector<std::string> args = {"rsvg-convert", "--width", "1024", "--keep-aspect-ratio", "-o", png, svg};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    // What rsvg-convert says goes into our own one line, not around it.
    char errPath[] = "/tmp/simhost-rsvg-XXXXXX";
    const int errFd = mkstemp(errPath);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (errFd >= 0) posix_spawn_file_actions_adddup2(&actions, errFd, STDERR_FILENO);
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, "rsvg-convert", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    if (spawned == 0)
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    std::string said;
    if (errFd >= 0) {
        close(errFd);
        std::getline(std::ifstream(errPath), said);
        std::remove(errPath);
    }
    if (spawned != 0)
        return "cannot run rsvg-convert (" + std::string(std::strerror(spawned)) + "; Debian package librsvg2-bin)";
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return "rsvg-convert could not render " + svg + (said.empty() ? "" : ": " + said);
    return {};
}

bool sameFile(const std::string& a, const std::string& b) {
    struct stat sa {}, sb {};
    return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

std::string writeMarked(OpenDocument& document, const std::vector<simhost::ArtIndex>& selected,
                        const std::string& svgPath, const std::string& pngPath) {
    std::string text;
    try {
        text = document.marked(selected);
    } catch (const std::exception& e) {
        return e.what();
    }
    std::string path = svgPath;
    if (path.empty() || (path == "-" && !pngPath.empty())) {
        char temp[] = "/tmp/simhost-XXXXXX.svg";
        const int fd = mkstemps(temp, 4);
        if (fd < 0) return "cannot make a temporary file: " + std::string(std::strerror(errno));
        close(fd);
        path = temp;
    }
    std::string failure;
    if (!writeFile(path, text))
        failure = "cannot write " + (path == "-" ? std::string("the output") : path) + ": " + std::strerror(errno);
    else if (!pngPath.empty())
        failure = renderPng(path, pngPath);
    if (path != svgPath) std::remove(path.c_str());
    if (failure.empty() && svgPath == "-" && path != svgPath && !writeFile("-", text))
        failure = "cannot write the output: " + std::string(std::strerror(errno));
    return failure;
}

}  // namespace simhost_cli
