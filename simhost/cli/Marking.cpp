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

#include "WriteAll.h"

extern char** environ;

namespace simhost_cli {

using simhost::OpenDocument;

bool writeFile(const std::string& path, const std::string& text) {
    if (path == "-") return simhost_app::writeAll(STDOUT_FILENO, text);
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

bool sameFile(const std::string& a, const std::string& b) {
    struct stat sa {}, sb {};
    return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

std::string writeMarked(OpenDocument& document, const std::vector<simhost::ArtIndex>& selected,
                        const std::string& svgPath, const std::string& pngPath,
                        const simhost::PictureOptions& picture) {
    try {
        if (!svgPath.empty() && !writeFile(svgPath, document.marked(selected)))
            return "cannot write " + (svgPath == "-" ? std::string("the output") : svgPath) + ": " + std::strerror(errno);
        if (!pngPath.empty()) document.picture(selected, picture, pngPath);
    } catch (const std::exception& e) {
        return e.what();
    }
    return {};
}

}  // namespace simhost_cli
