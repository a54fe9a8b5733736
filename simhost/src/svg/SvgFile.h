// Reading a document file as a stream of bytes, gzip data inflated on the
// way (recognised by its magic bytes, whatever the file is called).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

struct gzFile_s;

namespace simhost::svg {

// Bytes read in pieces into the caller's buffer.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    // Up to `capacity` bytes; 0 at the end.
    virtual std::size_t read(char* buffer, std::size_t capacity) = 0;
};

// A document file: "-" is standard input; a pipe or a device is read as a
// stream like a file. Throws DocumentError for a missing, unreadable, empty
// or too large (over kMaxSvgBytes, counted as the bytes come) file, or
// broken compressed data.
class DocumentStream : public ByteSource {
public:
    explicit DocumentStream(const std::string& path);
    ~DocumentStream() override;
    DocumentStream(const DocumentStream&) = delete;
    DocumentStream& operator=(const DocumentStream&) = delete;
    std::size_t read(char* buffer, std::size_t capacity) override;

private:
    std::string path_;
    gzFile_s* file_ = nullptr;
    std::uint64_t total_ = 0;
};

// Text already in memory.
class TextSource : public ByteSource {
public:
    explicit TextSource(const std::string& text) : text_(text) {}
    std::size_t read(char* buffer, std::size_t capacity) override;

private:
    const std::string& text_;
    std::size_t at_ = 0;
};

// Calls `sink` with the document's bytes in order, in chunks.
void readDocumentChunks(const std::string& path, const std::function<void(const char*, std::size_t)>& sink);

}  // namespace simhost::svg
