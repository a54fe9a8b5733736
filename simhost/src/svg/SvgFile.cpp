#include "SvgFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

#include <zlib.h>

#include "simhost/svg/SvgDocument.h"

namespace simhost::svg {

namespace {

[[noreturn]] void fail(const std::string& path, const std::string& what) { throw DocumentError(path + ": " + what); }

// "-" is standard input; anything else is opened by name, a pipe or a
// device as well as a file. zlib reads gzip data inflated and any other
// data as it is, in both cases as a stream.
gzFile_s* open(const std::string& path) {
    errno = 0;
    if (path == "-") {
        const int fd = dup(STDIN_FILENO);
        if (fd < 0) fail(path, std::strerror(errno));
        gzFile file = gzdopen(fd, "rb");
        if (file == nullptr) close(fd);
        return file;
    }
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) fail(path, std::strerror(errno));
    if (S_ISDIR(info.st_mode)) fail(path, "is a directory");
    return gzopen(path.c_str(), "rb");
}

}  // namespace

DocumentStream::DocumentStream(const std::string& path) : path_(path), file_(open(path)) {
    if (file_ == nullptr) fail(path, errno != 0 ? std::strerror(errno) : "cannot open");
    gzbuffer(file_, 1 << 18);
}

DocumentStream::~DocumentStream() { gzclose(file_); }

std::size_t DocumentStream::read(char* buffer, std::size_t capacity) {
    const int got = gzread(file_, buffer, static_cast<unsigned>(std::min<std::size_t>(capacity, 1u << 30)));
    int code = Z_OK;
    const char* message = gzerror(file_, &code);
    if (got < 0 || (code != Z_OK && code != Z_STREAM_END)) {
        if (code == Z_ERRNO) fail(path_, std::strerror(errno));
        // zlib says "unexpected end of file" when the data stops short.
        if (code == Z_BUF_ERROR) fail(path_, "broken gzip data: truncated");
        fail(path_, std::string("broken gzip data (") + message + ")");
    }
    // Counted as it comes, so a stream with no end is stopped at the limit
    // rather than held whole first.
    total_ += static_cast<std::uint64_t>(got);
    if (total_ > kMaxSvgBytes)
        fail(path_, "the document is larger than " + std::to_string(kMaxSvgBytes >> 30) + " GiB");
    if (got == 0 && total_ == 0) fail(path_, "the file is empty");
    return static_cast<std::size_t>(got);
}

std::size_t TextSource::read(char* buffer, std::size_t capacity) {
    const std::size_t n = std::min(capacity, text_.size() - at_);
    std::memcpy(buffer, text_.data() + at_, n);
    at_ += n;
    return n;
}

void readDocumentChunks(const std::string& path, const std::function<void(const char*, std::size_t)>& sink) {
    DocumentStream stream(path);
    std::vector<char> chunk(std::size_t(1) << 20);
    while (const std::size_t got = stream.read(chunk.data(), chunk.size())) sink(chunk.data(), got);
}

}  // namespace simhost::svg

namespace simhost {

std::string readDocumentBytes(const std::string& path) {
    std::string bytes;
    svg::readDocumentChunks(path, [&bytes](const char* data, std::size_t size) { bytes.append(data, size); });
    return bytes;
}

}  // namespace simhost
