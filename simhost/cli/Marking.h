// The drawing with its selection outlined, written as SVG (-o) or rendered
// to PNG by rsvg-convert (--png, --png-dir).
#pragma once

#include <string>
#include <vector>

#include "Documents.h"

namespace simhost_cli {

// Writes `text` to `path`; "-" is standard output. False with errno set.
bool writeFile(const std::string& path, const std::string& text);

// Runs rsvg-convert on `svg`, 1024 pixels wide; empty on success, else what
// went wrong (with the first line rsvg-convert printed).
std::string renderPng(const std::string& svg, const std::string& png);

// Whether `program` is an executable file in a directory of $PATH.
bool programOnPath(const std::string& program);

// Whether two paths name one existing file.
bool sameFile(const std::string& a, const std::string& b);

// Writes the marked drawing of `selected` to `svgPath` (if any) and renders
// it to `pngPath` (if any). Empty on success, else one line saying why.
std::string writeMarked(OpenDocument& document, const std::vector<simhost::ArtIndex>& selected,
                        const std::string& svgPath, const std::string& pngPath);

}  // namespace simhost_cli
