#include "SvgFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

// "-" is standard input; anything else is opened by name, a pipe or a
// device as well as a file. zlib reads gzip data inflated and any other
// data as it is, in both cases as a stream.
std::unique_ptr<gzFile_s, GzCloser> open(const std::string& path) {
    if (path == "-") {
        const int fd = dup(STDIN_FILENO);
        if (fd < 0) fail(path, std::strerror(errno));
        gzFile file = gzdopen(fd, "rb");
        if (file == nullptr) close(fd);
        return std::unique_ptr<gzFile_s, GzCloser>(file);
    }
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) fail(path, std::strerror(errno));
    if (S_ISDIR(info.st_mode)) fail(path, "is a directory");
    return std::unique_ptr<gzFile_s, GzCloser>(gzopen(path.c_str(), "rb"));
}

}  // namespace

void readDocumentChunks(const std::string& path, const std::function<void(const char*, std::size_t)>& sink) {
    errno = 0;
    std::unique_ptr<gzFile_s, GzCloser> file = open(path);
    if (!file) fail(path, errno != 0 ? std::strerror(errno) : "cannot open");
    gzbuffer(file.get(), 1 << 18);

    std::vector<char> chunk(std::size_t(1) << 20);
    std::uint64_t total = 0;
    for (;;) {
        const int got = gzread(file.get(), chunk.data(), static_cast<unsigned>(chunk.size()));
        int code = Z_OK;
        const char* message = gzerror(file.get(), &code);
        if (got < 0 || (code != Z_OK && code != Z_STREAM_END)) {
            if (code == Z_ERRNO) fail(path, std::strerror(errno));
            // zlib says "unexpected end of file" when the data stops short.
            if (code == Z_BUF_ERROR) fail(path, "broken gzip data: truncated");
            fail(path, std::string("broken gzip data (") + message + ")");
        }
        if (got == 0) break;
        // Counted as it comes, so a stream with no end is stopped at the
        // limit rather than held whole first.
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
