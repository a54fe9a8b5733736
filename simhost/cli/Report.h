// What the command line prints: dialogs as boxes, tables of command
// results, and the same as JSON.
#pragma once

#include <string>
#include <vector>

#include "Documents.h"
#include "Session.h"

namespace simhost_cli {

// A modal dialog as the user saw it: its title, its texts, its buttons.
std::string renderDialog(const simhost::DialogRecord& dialog);

// One row per command: its menu text, how many objects it selected and the
// first of their ids.
std::string commandTable(OpenDocument& document, const std::vector<CommandRun>& runs);

// JSON texts (nlohmann-escaped) of the parts of a result.
std::string quoted(const std::string& text);
std::string selectedJson(OpenDocument& document, const std::vector<simhost::ArtIndex>& selected);
std::string dialogsJson(const std::vector<simhost::DialogRecord>& dialogs);

}  // namespace simhost_cli
