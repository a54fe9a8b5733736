// Helpers for the selection command tests: documents from JSON fixtures,
// the plug-in's commands called directly, what ended up selected, and the
// order in which the host hands out matches.
#pragma once

#include <string>
#include <vector>

#include "menuHandler.h"
#include "DirectSelection.h"
#include "simhost/Document.h"
#include "simhost/DocumentJson.h"
#include "simhost/Host.h"

namespace wendlow_test {

simhost::Document fixture(const std::string& json);
// The drawing tests/data/selection/NAME.json.
simhost::Document fixtureFile(const std::string& name);

// Runs the plug-in's command; the suites must be held.
ASErr runPluginCommand(simhost::SelectionCommand command);

// The ids of the selected objects in document order; an object without an
// id shows as "#" and its index.
std::vector<std::string> selectedIds(const simhost::Document& document);

// The ids of the objects of `type`, in the order the host's matching query
// hands them out now (with its current matching options). Its host calls
// count in the gate like any others.
std::vector<std::string> matchingOrder(simhost::Host& host, AIArtType type);

// The first shuffle seed below 1000 for which the host hands out the
// objects of `type` in the order `ids`; throws when there is none.
std::uint64_t seedGivingOrder(simhost::Host& host, AIArtType type, const std::vector<std::string>& ids);

}  // namespace wendlow_test
