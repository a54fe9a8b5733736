// simhost's one command line: the front ends add their subcommands to one
// CLI11 parser (main.cpp) and say, through an Invocation, what the
// arguments chose to run and how bad usage of it is told.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "ShippedPlugin.h"

namespace simhost_app {

struct Invocation {
    // --plugin, wherever it is given.
    std::string pluginPath = simhost::shippedPluginPath();
    // What runs once the arguments are parsed; returns the exit code.
    std::function<int()> run;
    // Tells bad usage of the subcommand being parsed; returns the exit code.
    std::function<int(const std::string& message)> usageError;
    // What the front ends parse their options into, kept through the parse.
    std::vector<std::shared_ptr<void>> held;
};

// Adds subcommand `name` to `app`. Once the parse reaches it, `invocation`
// tells bad usage with `usageError` and runs `run`, which is handed the
// arguments the subcommand does not know (to refuse them).
CLI::App* addSubcommand(CLI::App& app, Invocation& invocation, const std::string& name,
                        std::function<int(const std::vector<std::string>& unknown)> run,
                        std::function<int(const std::string& message)> usageError);

// What a subcommand's bad usage is told by: CLI11's failure said the usual
// way ("-o needs a value").
std::string parseFailure(const CLI::ParseError& error);

// A bad value for an option, told as it is ("bad value "x" for --port").
struct BadValue : CLI::ParseError {
    explicit BadValue(const std::string& message)
        : CLI::ParseError("BadValue", message, CLI::ExitCodes::ValidationError) {}
};

}  // namespace simhost_app
