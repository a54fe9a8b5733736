#include "SvgFile.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

#include <zlib.h>

#include "simhost/SvgDocument.h"

namespace simhost::svg {

namespace {

[[noreturn]] void fail(const std::string& path, const std::string& what) { throw DocumentError(path + ": " + what); }

struct GzCloser {
    void operator()(gzFile_s* file) const { gzclose(file); }
};

}  // namespace

void readDocumentChunks(const std::string& path, const std::function<void(const char*, std::size_t)>& sink) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) fail(path, std::strerror(errno));
    if (S_ISDIR(info.st_mode)) fail(path, "is a directory");
    // zlib reads gzip data inflated and any other file as it is.
    std::unique_ptr<gzFile_s, GzCloser> file(gzopen(path.c_str(), "rb"));
    if (!file) fail(path, errno != 0 ? std::strerror(errno) : "cannot open");
    gzbuffer(file.get(), 1 << 18);

    std::vector<char> chunk(std::size_t(1) << 20);
    std::uint64_t total = 0;
    for (;;) {
        const int got = gzread(file.get(), chunk.data(), static_cast<unsigned>(chunk.size()));
        if (got < 0) {
            int code = 0;
            const char* message = gzerror(file.get(), &code);
            if (code == Z_ERRNO) fail(path, std::strerror(errno));
            fail(path, std::string("broken gzip data (") + message + ")");
        }
        if (got == 0) break;
        total += static_cast<std::uint64_t>(got);
        if (total > kMaxSvgBytes)
            fail(path, "the document is larger than " + std::to_string(kMaxSvgBytes >> 30) + " GiB");
        sink(chunk.data(), static_cast<std::size_t>(got));
    }
    if (total == 0) fail(path, "the file is empty");
}

}  // namespace simhost::svg

namespace simhost {

std::string readDocumentBytes(const std::string& path) {
    std::string bytes;
    svg::readDocumentChunks(path, [&bytes](const char* data, std::size_t size) { bytes.append(data, size); });
    return bytes;
}

}  // namespace simhost
