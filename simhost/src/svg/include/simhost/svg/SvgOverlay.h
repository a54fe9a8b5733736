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

    // Each object's bounding box in the root's coordinates, by object
    // index, from its geometry as read: x0, y0, x1, y1, with x0 > x1 for an
    // object that draws nothing this geometry knows (text, an empty group).
    // A container's box holds its members'. Found on first use, in one walk
    // of the drawing, so that picking among 10^5 objects costs a scan.
    using ObjectBox = std::array<double, 4>;
    const std::vector<ObjectBox>& objectBoxes();
    // Whether a point (root's coordinates) inside the object's box is on
    // its shape: a circle's or an ellipse's disc, a rectangle (under any
    // transform); for other shapes, the box itself.
    bool covers(ArtIndex index, double x, double y);

private:
    struct Parsed;
    const SvgDocument& svg_;
    std::unique_ptr<Parsed> parsed_;
    std::vector<ObjectBox> boxes_;
};

}  // namespace simhost
