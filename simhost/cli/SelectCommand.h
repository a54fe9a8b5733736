// The command line's arguments, parsed with CLI11, and `simhost select`.
#pragma once

#include <string>
#include <vector>

#include "Batch.h"
#include "ShippedPlugin.h"
#include "simhost/Host.h"

namespace simhost_cli {

struct GlobalOptions {
    std::string pluginPath = simhost::shippedPluginPath();
    std::vector<std::string> hostFaults;
};

enum class Subcommand { kDemo, kSelect, kMenus, kAbout, kHelp, kVersion };

struct ParsedCommandLine {
    Subcommand subcommand = Subcommand::kDemo;
    GlobalOptions global;
    SelectOptions select;
};

// Fills `parsed`; empty on success, else what is wrong with the arguments.
std::string parseCommandLine(int argc, char** argv, ParsedCommandLine& parsed);

// Prints the usage error and returns its exit code.
int usageError(const std::string& message);

// "FALT (1178684500)", or "5" for a code that is not four characters.
std::string errorCodeText(ASErr code);

int runSelect(const GlobalOptions& global, SelectOptions options);

}  // namespace simhost_cli
