#include "cli_support.h"

#include <fcntl.h>
#include <pty.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

extern char** environ;

namespace cli_test {

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void expectRefused(const Outcome& run, const std::string& says) {
    EXPECT_EQ(run.code, 2) << says;
    EXPECT_THAT(run.err, HasSubstr(says));
    EXPECT_EQ(run.out, "") << says;
}

std::string expand(std::string text, const Values& values) {
    for (const auto& [name, value] : values)
        for (std::size_t at = 0; (at = text.find("{" + name + "}", at)) != std::string::npos; at += value.size())
            text.replace(at, name.size() + 2, value);
    return text;
}

std::vector<std::string> expandEach(const json& texts, const Values& values) {
    std::vector<std::string> result;
    for (const json& text : texts) result.push_back(expand(text, values));
    return result;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> result;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) result.push_back(line);
    return result;
}

std::string scratch(const std::string& name) {
    // TempDir() is the test program's own (TEST_TMPDIR, tests/CMakeLists.txt).
    const std::string dir = ::testing::TempDir() + "simhost-cli-" + name;
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}

namespace {

// A new empty file of this run's own: test programs run side by side (ctest
// -j, several build trees at once), so no two runs may share a name.
std::string ownFile(const std::string& what) {
    std::error_code ignored;
    fs::create_directories(::testing::TempDir(), ignored);
    std::string name = ::testing::TempDir() + "simhost-cli-" + what + "-XXXXXX";
    const int fd = mkstemp(name.data());
    if (fd >= 0) close(fd);
    return name;
}

std::vector<std::string> commandLine(const std::vector<std::string>& args, const std::vector<std::string>& prefix) {
    std::vector<std::string> command = prefix;
    const std::string emulator = WENDLOW_EMULATOR;
    for (std::size_t start = 0; !emulator.empty() && start <= emulator.size();) {
        const std::size_t end = std::min(emulator.find('|', start), emulator.size());
        command.push_back(emulator.substr(start, end - start));
        start = end + 1;
    }
    command.push_back(WENDLOW_SIMHOST);
    command.insert(command.end(), args.begin(), args.end());
    return command;
}

std::vector<std::string> environment(const std::vector<std::string>& extra) {
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry = *e;
        bool replaced = false;
        for (const std::string& x : extra) replaced |= entry.compare(0, x.find('=') + 1, x, 0, x.find('=') + 1) == 0;
        if (!replaced) env.push_back(entry);
    }
    env.insert(env.end(), extra.begin(), extra.end());
    return env;
}

std::vector<char*> pointers(std::vector<std::string>& strings) {
    std::vector<char*> result;
    for (std::string& s : strings) result.push_back(s.data());
    result.push_back(nullptr);
    return result;
}

}  // namespace

Outcome simhost(const std::vector<std::string>& args, const RunOptions& options) {
    std::vector<std::string> command = commandLine(args, options.prefix), env = environment(options.env);
    const std::string out = ownFile("out"), err = ownFile("err");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    int pipeFds[2] = {-1, -1}, terminal = -1, controller = -1;
    if (options.stdoutTo == Stdout::kFile)
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    else if (options.stdoutTo == Stdout::kFull)
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/full", O_WRONLY, 0);
    else if (pipe(pipeFds) == 0)
        posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    if (options.stderrOnTerminal && openpty(&controller, &terminal, nullptr, nullptr, nullptr) == 0)
        posix_spawn_file_actions_adddup2(&actions, terminal, STDERR_FILENO);
    else
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (pipeFds[0] >= 0) close(pipeFds[0]);  // nobody reads: the pipe is closed
    std::vector<char*> argv = pointers(command), envp = pointers(env);
    pid_t pid = 0;
    Outcome run;
    const bool started = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()) == 0;
    posix_spawn_file_actions_destroy(&actions);
    if (pipeFds[1] >= 0) close(pipeFds[1]);
    if (terminal >= 0) close(terminal);
    std::string fromTerminal;
    for (char chunk[4096]; controller >= 0;) {  // read the terminal until the child closes it
        const ssize_t n = read(controller, chunk, sizeof chunk);
        if (n <= 0) break;
        fromTerminal.append(chunk, static_cast<std::size_t>(n));
    }
    if (controller >= 0) close(controller);
    if (started) {
        int status = 0;
        waitpid(pid, &status, 0);
        run.code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    if (options.stdoutTo == Stdout::kFile) run.out = readFile(out);
    run.err = controller >= 0 || options.stderrOnTerminal ? fromTerminal : readFile(err);
    std::error_code ignored;
    fs::remove(out, ignored);
    fs::remove(err, ignored);
    return run;
}

}  // namespace cli_test
