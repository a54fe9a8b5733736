// Runs a piece of work in a forked child with a timeout and collects what it
// wrote to its result pipe and to its standard output and error: a crash
// becomes a signal (with a backtrace when one can be had), a hang a timeout.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <string>

namespace simhost::validate {

struct ChildOutcome {
    bool timedOut = false;
    bool signaled = false;
    int signal = 0;
    int exitCode = 0;
    std::string payload;  // what the body wrote to its result descriptor
    std::string output;   // stdout and stderr, the last part when long
    double seconds = 0;
};

class ChildProcess {
public:
    ChildProcess() = default;
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Forks. The child runs body(resultFd) and then _exit(0); its stdout and
    // stderr go to a pipe. With `ownGroup` the child leads a process group
    // of its own, so a timeout ends its children too.
    void start(const std::function<void(int resultFd)>& body, double timeoutSeconds, bool ownGroup);
    // Reads what is there, waiting at most waitMs; true once the child has
    // ended and been reaped (outcome() is then complete).
    bool pump(int waitMs);
    bool finished() const { return finished_; }
    const ChildOutcome& outcome() const { return outcome_; }

private:
    void kill();
    void reap();

    pid_t pid_ = -1;
    int resultFd_ = -1;
    int outputFd_ = -1;
    bool ownGroup_ = false;
    bool finished_ = false;
    double deadline_ = 0;
    double started_ = 0;
    ChildOutcome outcome_;
};

ChildOutcome runIsolated(const std::function<void(int resultFd)>& body, double timeoutSeconds,
                         bool ownGroup = false);

// Runs the body in this process, with no fork and no timeout, its records
// going through a temporary file: what runIsolated does while the in-process
// mode is on (--in-process, for a debugger).
ChildOutcome runHere(const std::function<void(int resultFd)>& body);
void setInProcess(bool on);
// Children forked so far by this process.
std::uint64_t forksMade();

// Writes all of `text`, retrying on short writes.
void writeAll(int fd, const std::string& text);

// In a child: report a fatal signal on stderr with a backtrace, then die of
// it. Left to the sanitizer's own handler in sanitized builds.
void installCrashReporter();

double monotonicSeconds();
std::string signalName(int signal);

}  // namespace simhost::validate
