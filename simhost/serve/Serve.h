// `simhost serve`: a local web host for the plug-in (see docs/http-api.md
// for the HTTP interface).
#pragma once

#include <CLI/CLI.hpp>

#include "Invocation.h"

namespace simhost_serve {

// Adds `serve` to `app`: chosen, `invocation` runs the server until SIGINT
// or SIGTERM. Its exit status: 0 after a signal, 2 for bad usage, an
// unreadable FILE or an address it cannot listen on.
void addServe(CLI::App& app, simhost_app::Invocation& invocation);

}  // namespace simhost_serve
