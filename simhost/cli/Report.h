// What the command line prints as text: dialogs as boxes, tables of
// command results (Answers.h has the JSON).
#pragma once

#include <string>
#include <vector>

#include "simhost/documents/Documents.h"
#include "Session.h"
#include "simhost/Dialogs.h"

namespace simhost_cli {

// A modal dialog as the user saw it: its title, its texts, its buttons.
std::string renderDialog(const simhost::DialogRecord& dialog);

// One row per command: its menu text, how many objects it selected and the
// first of their ids.
std::string commandTable(simhost::OpenDocument& document, const std::vector<CommandRun>& runs);

}  // namespace simhost_cli
