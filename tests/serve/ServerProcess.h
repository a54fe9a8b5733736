// The real `simhost serve`, started on a free port for a test, and an HTTP
// client of the same library talking to it.
#pragma once

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <httplib.h>

#include <nlohmann/json.hpp>

extern char** environ;

namespace serve_test {

using json = nlohmann::json;

inline std::string fileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

class ServerProcess {
public:
    explicit ServerProcess(std::vector<std::string> extra = {}) {
        char name[] = "/tmp/serve-test-XXXXXX";
        const int fd = mkstemp(name);
        if (fd < 0) throw std::runtime_error("no temporary file");
        close(fd);
        stderrPath_ = name;
        int out[2];
        if (pipe(out) != 0) throw std::runtime_error("no pipe");
        const char* program = std::getenv("SIMHOST") != nullptr ? std::getenv("SIMHOST") : SIMHOST_PATH;
        std::vector<std::string> args = {program, "serve", "--port", "0"};
        args.insert(args.end(), extra.begin(), extra.end());
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        posix_spawn_file_actions_addopen(&actions, 2, name, O_WRONLY | O_TRUNC, 0600);
        if (posix_spawn(&pid_, program, &actions, nullptr, argv.data(), environ) != 0)
            throw std::runtime_error("cannot start simhost");
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        std::string line;
        char c = 0;
        while (read(out[0], &c, 1) == 1 && c != '\n') line += c;
        close(out[0]);
        const std::string prefix = "simhost serving http://127.0.0.1:";
        if (line.compare(0, prefix.size(), prefix) != 0) throw std::runtime_error("unexpected first line: " + line);
        port_ = std::stoi(line.substr(prefix.size()));
    }
    ~ServerProcess() {
        if (pid_ > 0) stop();
        std::remove(stderrPath_.c_str());
    }

    int port() const { return port_; }
    pid_t pid() const { return pid_; }
    // A line of /proc/PID/status in KiB, such as VmRSS or VmHWM.
    long statusKiB(const std::string& field) const {
        std::istringstream in(fileText("/proc/" + std::to_string(pid_) + "/status"));
        for (std::string line; std::getline(in, line);)
            if (line.compare(0, field.size() + 1, field + ":") == 0) return std::stol(line.substr(field.size() + 1));
        return -1;
    }
    httplib::Client client() const {
        httplib::Client c("127.0.0.1", port_);
        c.set_read_timeout(60);
        return c;
    }
    bool running() const { return pid_ > 0 && waitpid(pid_, nullptr, WNOHANG) == 0; }

    // Sends `signal` and waits: the exit status, or -1 when it did not exit
    // normally.
    int stop(int signal = SIGTERM) {
        kill(pid_, signal);
        return wait();
    }
    // Waits for the process to end: as stop().
    int wait() {
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::string stderrText() const { return fileText(stderrPath_); }

private:
    pid_t pid_ = -1;
    int port_ = 0;
    std::string stderrPath_;
};

inline nlohmann::json parsed(const httplib::Result& r) {
    if (!r) return nullptr;
    return nlohmann::json::parse(r->body, nullptr, false);
}

inline httplib::Result postJson(httplib::Client& c, const std::string& path, const nlohmann::json& body) {
    return c.Post(path.c_str(), body.dump(), "application/json");
}

}  // namespace serve_test
