// The drawing with its selection outlined, written as SVG (-o) or rendered
// as a picture of the selection (--png, --png-dir).
#pragma once

#include <string>
#include <vector>

#include "simhost/documents/Documents.h"

namespace simhost_cli {

// Writes `text` to `path`; "-" is standard output. False with errno set.
bool writeFile(const std::string& path, const std::string& text);

// Whether `program` is an executable file in a directory of $PATH.
bool programOnPath(const std::string& program);

// Whether two paths name one existing file.
bool sameFile(const std::string& a, const std::string& b);

// Writes the marked drawing of `selected` to `svgPath` (if any) and a picture
// of the selection to `pngPath` (if any). Empty on success, else one line saying why.
std::string writeMarked(simhost::OpenDocument& document, const std::vector<simhost::ArtIndex>& selected,
                        const std::string& svgPath, const std::string& pngPath,
                        const simhost::PictureOptions& picture);

}  // namespace simhost_cli
