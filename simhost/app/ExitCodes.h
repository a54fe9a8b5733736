// Every exit code simhost gives, named once. The command line, the server
// and the plug-in's own failures share one scale; the validator keeps its
// own, as scripts that run it rely on.
#pragma once

namespace simhost_app {

// select, menus, about, serve and the demo without a subcommand.
constexpr int kOk = 0;
constexpr int kPluginError = 1;  // the plug-in returned an error code, or nothing selected (--require-selection)
constexpr int kBadInput = 2;     // bad usage, an unreadable document, a failed write, an address serve cannot bind
// serve stopped at once by a second signal: this plus the signal's number, as a shell reports it.
constexpr int kSignalledBase = 128;

// validate (its values are those of the validator's report, exitCodeOf).
constexpr int kValidatePassed = 0;
constexpr int kValidateFailed = 1;   // a rule was broken
constexpr int kValidateCrashed = 2;  // the plug-in crashed or hung
constexpr int kValidateUsage = 3;    // bad usage, or a plug-in that cannot be validated

}  // namespace simhost_app
