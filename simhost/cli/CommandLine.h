// The command line's front end: `select`, `menus`, `about`, `help`,
// `version`, and no subcommand at all (every command on the sample).
#pragma once

#include <CLI/CLI.hpp>

#include "Invocation.h"

namespace simhost_cli {

// Adds the command line's options and subcommands to `app`; unless another
// front end's subcommand is chosen, `invocation` runs what they ask.
void addCommandLine(CLI::App& app, simhost_app::Invocation& invocation);

}  // namespace simhost_cli
