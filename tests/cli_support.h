// Running the built simhost as a user runs it, for the command line's
// end-to-end tests.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <nlohmann/json.hpp>

namespace cli_test {

using json = nlohmann::json;
using ::testing::HasSubstr;
namespace fs = std::filesystem;

struct Outcome {
    int code = -1;
    std::string out, err;
};

// Where the run's standard output goes.
enum class Stdout { kFile, kFull /* /dev/full */, kClosedPipe };

struct RunOptions {
    Stdout stdoutTo = Stdout::kFile;
    std::vector<std::string> env;  // NAME=VALUE set for the run
    bool stderrOnTerminal = false;  // a pseudo-terminal, read back into err
    std::vector<std::string> prefix;  // a command simhost runs under
};

// Runs the built simhost (under the cross build's emulator, if any) with
// its output in files, so that no pipe can fill up.
Outcome simhost(const std::vector<std::string>& args, const RunOptions& options = {});

// A run refused before any work: exit code 2, `says` on standard error and
// nothing on standard output.
void expectRefused(const Outcome& run, const std::string& says);

// The tables of cases (tests/data/tables) write a value as {name}: `text`
// with each such name replaced by its value.
using Values = std::map<std::string, std::string>;
std::string expand(std::string text, const Values& values);
std::vector<std::string> expandEach(const json& texts, const Values& values);

std::string readFile(const std::string& path);
std::vector<std::string> lines(const std::string& text);
// A scratch directory of the test's own, empty.
std::string scratch(const std::string& name);

}  // namespace cli_test
