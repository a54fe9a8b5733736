// `simhost validate`: the command line of the plug-in validator.
#pragma once

#include <CLI/CLI.hpp>

#include "Invocation.h"

// Adds `validate` to `app`: chosen, `invocation` runs the validator. Its
// exit codes are the validator's own (ExitCodes.h): 0 all passed, 1 a case
// failed, 2 a case crashed or timed out, 3 the validator could not run.
void addValidate(CLI::App& app, simhost_app::Invocation& invocation);
