// Reading a document file as a stream of bytes, gzip data inflated on the
// way (recognised by its magic bytes, whatever the file is called).
#pragma once

#include <cstddef>
#include <functional>
#include <string>

namespace simhost::svg {

// Calls `sink` with the document's bytes in order, in chunks, up to
// kMaxSvgBytes. Throws DocumentError for a missing, unreadable, empty or too
// large file, or broken compressed data.
void readDocumentChunks(const std::string& path, const std::function<void(const char*, std::size_t)>& sink);

}  // namespace simhost::svg
