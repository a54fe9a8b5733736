// Command names as people type them: a menu text matched ignoring case,
// spaces, hyphens and underscores ("open-paths", "OpenPaths", "all paths "),
// and the nearest menu texts when nothing matches. Shared by the command
// line and the web server.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace simhost_app {

// The text reduced to what matching looks at: lower-case letters and
// digits, nothing else.
std::string commandKey(const std::string& text);

// The index of the menu text that `typed` names, if one does.
std::optional<std::size_t> matchCommand(const std::vector<std::string>& menuTexts, const std::string& typed);

// The menu texts nearest to `typed`, nearest first: those it begins, or
// those within a few typing mistakes. Empty when none is near.
std::vector<std::string> closestCommands(const std::vector<std::string>& menuTexts, const std::string& typed);

}  // namespace simhost_app

// The command line works in the application's terms.
namespace simhost_cli {
using namespace simhost_app;
}
