// Path data (the d attribute) as the document model needs it: how many
// subpaths a path has and which of them are closed, and, for drawing an
// outline, the part of the data a viewer draws, whole or one subpath at a
// time. Both come from one parse, so the outline shows what the commands see.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace simhost::svg {

// The subpaths of `d`, one entry per subpath, true when it ends with z or
// Z. Each moveto starts a subpath, and so does a drawing command right after
// a closepath; a moveto followed by nothing it draws (as in the "m 0 0" that
// ends many exported icons) is no subpath. Reading stops at the first error
// in the data (a character that is no path data, a missing or extra number,
// an arc flag other than 0 or 1, a comma out of place, data before the first
// moveto), as a viewer stops drawing there. Returns how many bytes of `d` are
// drawn: everything up to the last complete segment.
std::size_t scanSubpaths(std::string_view d, std::vector<bool>& closed);

// The part of `d` a viewer draws.
std::string_view drawnPathData(std::string_view d);

// Each subpath of `d` as path data of its own, starting with an absolute
// moveto to where that subpath starts in `d`.
std::vector<std::string> splitSubpaths(std::string_view d);

// Every point of the drawn data that bounds it: ends, control points, and
// the corners of a box about each arc, in absolute coordinates.
void pathPoints(std::string_view d, const std::function<void(double, double)>& point);

}  // namespace simhost::svg
