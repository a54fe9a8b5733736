// The command line's arguments, parsed with CLI11, and `simhost select`.
#pragma once

#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "Batch.h"
#include "simhost/Host.h"

namespace simhost_cli {

struct GlobalOptions {
    std::string pluginPath;
    std::vector<std::string> hostFaults;
};

enum class Subcommand { kDemo, kSelect, kMenus, kAbout, kHelp, kVersion };

struct ParsedCommandLine {
    Subcommand subcommand = Subcommand::kDemo;
    Subcommand helpFor = Subcommand::kDemo;  // with kHelp: the subcommand whose usage is asked for
    GlobalOptions global;
    SelectOptions select;
    bool help = false, version = false;
    std::string types;  // --type, as given
};

// Adds the command line's options (--plugin into `pluginPath`) and its
// subcommands to `app`, to be parsed into `parsed`.
void addCommandLineOptions(CLI::App& app, ParsedCommandLine& parsed, std::string& pluginPath);
// Once `app` has parsed: what was chosen; empty, else what is wrong with
// the arguments.
std::string checkCommandLine(const CLI::App& app, ParsedCommandLine& parsed);

// Prints the usage error and returns its exit code.
int usageError(const std::string& message);

// "FALT (1178684500)", or "5" for a code that is not four characters.
std::string errorCodeText(ASErr code);

int runSelect(const GlobalOptions& global, SelectOptions options);

}  // namespace simhost_cli
