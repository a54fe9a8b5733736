// Reading a document file whole, plain or gzip-compressed.
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include <zlib.h>

#include "simhost/SvgDocument.h"

namespace simhost {

namespace {

[[noreturn]] void fail(const std::string& path, const std::string& what) { throw DocumentError(path + ": " + what); }

std::string tooLarge() { return "larger than " + std::to_string(kMaxSvgBytes >> 30) + " GiB"; }

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

std::string readRaw(const std::string& path) {
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
    if (!file) fail(path, std::strerror(errno));
    struct stat info {};
    if (fstat(fileno(file.get()), &info) != 0) fail(path, std::strerror(errno));
    if (S_ISDIR(info.st_mode)) fail(path, "is a directory");

    std::string bytes;
    // A regular file is read in one piece into a buffer of its size; other
    // files (pipes, devices) in chunks, up to the limit.
    if (S_ISREG(info.st_mode)) {
        if (static_cast<std::uint64_t>(info.st_size) > kMaxSvgBytes) fail(path, "the file is " + tooLarge());
        bytes.resize(static_cast<std::size_t>(info.st_size));
        const std::size_t got = std::fread(bytes.data(), 1, bytes.size(), file.get());
        if (std::ferror(file.get())) fail(path, std::strerror(errno));
        bytes.resize(got);
    } else {
        char chunk[1 << 16];
        for (;;) {
            const std::size_t got = std::fread(chunk, 1, sizeof chunk, file.get());
            bytes.append(chunk, got);
            if (bytes.size() > kMaxSvgBytes) fail(path, "the file is " + tooLarge());
            if (got < sizeof chunk) break;
        }
        if (std::ferror(file.get())) fail(path, std::strerror(errno));
    }
    return bytes;
}

bool isGzip(const std::string& bytes) {
    return bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0x1f &&
           static_cast<unsigned char>(bytes[1]) == 0x8b;
}

std::string inflateGzip(const std::string& compressed, const std::string& path) {
    z_stream stream{};
    // 16 + MAX_WBITS: gzip framing, not raw zlib.
    if (inflateInit2(&stream, 16 + MAX_WBITS) != Z_OK) fail(path, "cannot start decompression");
    std::unique_ptr<z_stream, int (*)(z_stream*)> guard(&stream, inflateEnd);

    std::string out;
    // The gzip trailer holds the size modulo 4 GiB: a good first guess.
    std::uint32_t hint = 0;
    if (compressed.size() >= 4) std::memcpy(&hint, compressed.data() + compressed.size() - 4, 4);
    out.reserve(std::min<std::uint64_t>(std::max<std::uint64_t>(hint, compressed.size() * 4), kMaxSvgBytes));

    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(compressed.data()));
    std::size_t consumed = 0;
    char chunk[1 << 16];
    for (;;) {
        const std::size_t left = compressed.size() - consumed;
        stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(compressed.data() + consumed));
        stream.avail_in = static_cast<uInt>(std::min<std::size_t>(left, 1u << 30));
        stream.next_out = reinterpret_cast<Bytef*>(chunk);
        stream.avail_out = sizeof chunk;
        const uInt before = stream.avail_in;
        const int status = inflate(&stream, Z_NO_FLUSH);
        consumed += before - stream.avail_in;
        out.append(chunk, sizeof chunk - stream.avail_out);
        if (out.size() > kMaxSvgBytes) fail(path, "the decompressed document is " + tooLarge());
        if (status == Z_STREAM_END) break;
        if (status != Z_OK && status != Z_BUF_ERROR) fail(path, "broken gzip data");
        if (status == Z_BUF_ERROR && stream.avail_in == 0 && consumed == compressed.size())
            fail(path, "the gzip data ends early");
    }
    return out;
}

}  // namespace

std::string readDocumentBytes(const std::string& path) {
    std::string bytes = readRaw(path);
    if (bytes.empty()) fail(path, "the file is empty");
    if (isGzip(bytes)) {
        bytes = inflateGzip(bytes, path);
        if (bytes.empty()) fail(path, "the decompressed document is empty");
    }
    return bytes;
}

}  // namespace simhost
