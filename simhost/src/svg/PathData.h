// Path data (the d attribute) as the document model needs it: how many
// subpaths a path has and which of them are closed, and, for drawing an
// outline over one subpath, that subpath on its own.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace simhost::svg {

// The subpaths of `d`, one entry per subpath, true when it ends with z or
// Z. Each moveto starts a subpath, and so does a drawing command right after
// a closepath; a moveto followed by nothing it draws (as in the "m 0 0" that
// ends many exported icons) is no subpath. Reading stops at the first
// character that cannot be in path data, as a viewer stops drawing there.
// Only command letters, and the numbers of movetos, are looked at, so this is
// fast enough for any file.
void scanSubpaths(std::string_view d, std::vector<bool>& closed);

// Each subpath of `d` as path data of its own, starting with an absolute
// moveto to where that subpath starts in `d`.
std::vector<std::string> splitSubpaths(std::string_view d);

}  // namespace simhost::svg
