// `simhost serve`: a local web host for the plug-in (see the README's
// "Web server" section for the HTTP interface).
#pragma once

#include <string>
#include <vector>

namespace simhost_serve {

// Runs the server until SIGINT or SIGTERM; `args` follow "serve". Returns
// the exit status: 0 after a signal, 2 for bad usage, an unreadable FILE or
// an address it cannot listen on.
int runServe(const std::vector<std::string>& args, const std::string& pluginPath);

}  // namespace simhost_serve
