// The outlines of a selection alone, for a viewer that shows the drawing
// itself and draws the selection over it (the web server's page).
#pragma once

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "simhost/svg/SvgDocument.h"

namespace simhost {

// Holds the drawing parsed once, so that each selection costs only its own
// outlines. Not thread-safe; `svg` and `text` must outlive it.
class SelectionOutlines {
public:
    // Throws DocumentError when `text` cannot be read again.
    SelectionOutlines(const SvgDocument& svg, const std::string& text);
    ~SelectionOutlines();
    SelectionOutlines(const SelectionOutlines&) = delete;
    SelectionOutlines& operator=(const SelectionOutlines&) = delete;

    // One <g class="simhost-outline" data-object-id="ID"> per object, in the
    // order given, in the root element's coordinates: the same geometry as
    // markedSvg draws.
    std::string operator()(const std::vector<ArtIndex>& objects);
    // The box holding the page (the root's view box, else its size) and
    // everything drawn, in the root's coordinates: x, y, width, height.
    // Empty (all zero) when there is neither.
    std::array<double, 4> contentBox();

private:
    struct Parsed;
    const SvgDocument& svg_;
    std::unique_ptr<Parsed> parsed_;
};

}  // namespace simhost
