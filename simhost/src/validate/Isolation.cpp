#include "Isolation.h"

#include <execinfo.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#if defined(__SANITIZE_ADDRESS__)
#define SIMHOST_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define SIMHOST_SANITIZED 1
#endif
#endif

namespace simhost::validate {

namespace {
bool gInProcess = false;  // runIsolated runs its body here (--in-process)
std::uint64_t gForks = 0;
}  // namespace


namespace {

constexpr std::size_t kOutputKeep = 24 * 1024;

void appendBounded(std::string& out, const char* data, std::size_t n) {
    out.append(data, n);
    if (out.size() > 2 * kOutputKeep) out.erase(0, out.size() - kOutputKeep);
}

void closeFd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

// Reads what is available without blocking; false at end of file.
bool drain(int fd, std::string& into, bool bounded) {
    char buffer[8192];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) {
            if (bounded) appendBounded(into, buffer, static_cast<std::size_t>(n));
            else into.append(buffer, static_cast<std::size_t>(n));
            continue;
        }
        if (n == 0) return false;
        if (errno == EINTR) continue;
        return true;  // EAGAIN: nothing more for now
    }
}

#ifndef SIMHOST_SANITIZED
void crashHandler(int sig) {
    char text[96];
    const int n = std::snprintf(text, sizeof text, "\nfatal signal %d (%s); backtrace:\n", sig, strsignal(sig));
    if (n > 0) {
        ssize_t ignored = ::write(2, text, static_cast<std::size_t>(n));
        (void)ignored;
    }
    void* frames[64];
    const int depth = backtrace(frames, 64);
    backtrace_symbols_fd(frames, depth, 2);
    signal(sig, SIG_DFL);
    raise(sig);
}
#endif

}  // namespace

double monotonicSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

std::string signalName(int sig) {
    switch (sig) {
        case SIGSEGV: return "SIGSEGV";
        case SIGBUS: return "SIGBUS";
        case SIGFPE: return "SIGFPE";
        case SIGILL: return "SIGILL";
        case SIGABRT: return "SIGABRT";
        case SIGTRAP: return "SIGTRAP";
        case SIGKILL: return "SIGKILL";
        default: return "signal " + std::to_string(sig);
    }
}

void writeAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return;
        }
        done += static_cast<std::size_t>(n);
    }
}

void installCrashReporter() {
#ifndef SIMHOST_SANITIZED
    // Load the unwinder now: backtrace() may allocate on its first call.
    void* frames[2];
    backtrace(frames, 2);
    static char altStack[64 * 1024];
    stack_t ss{};
    ss.ss_sp = altStack;
    ss.ss_size = sizeof altStack;
    sigaltstack(&ss, nullptr);
    struct sigaction action {};
    action.sa_handler = crashHandler;
    action.sa_flags = SA_ONSTACK | SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    for (int sig : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGTRAP}) sigaction(sig, &action, nullptr);
#endif
}

ChildProcess::~ChildProcess() {
    if (pid_ > 0 && !finished_) {
        kill();
        reap();
    }
    closeFd(resultFd_);
    closeFd(outputFd_);
}

void ChildProcess::start(const std::function<void(int)>& body, double timeoutSeconds, bool ownGroup) {
    int result[2];
    int output[2];
    if (pipe(result) != 0 || pipe(output) != 0) {
        std::perror("simhost validate: pipe");
        std::exit(3);
    }
    std::fflush(stdout);
    std::fflush(stderr);
    started_ = monotonicSeconds();
    deadline_ = started_ + timeoutSeconds;
    ownGroup_ = ownGroup;
    // _Fork, not fork: the validator is single-threaded, so the atfork
    // handlers have nothing to do, and under qemu-i386 glibc's fork() leaves
    // the child spinning before it returns.
    pid_ = _Fork();
    ++gForks;
    if (pid_ < 0) {
        std::perror("simhost validate: fork");
        std::exit(3);
    }
    if (pid_ == 0) {
        if (ownGroup) setpgid(0, 0);
        ::close(result[0]);
        ::close(output[0]);
        dup2(output[1], 1);
        dup2(output[1], 2);
        ::close(output[1]);
        installCrashReporter();
        body(result[1]);
        std::fflush(stdout);
        std::fflush(stderr);
        ::close(result[1]);
        _exit(0);
    }
    if (ownGroup) setpgid(pid_, pid_);
    ::close(result[1]);
    ::close(output[1]);
    resultFd_ = result[0];
    outputFd_ = output[0];
    fcntl(resultFd_, F_SETFL, fcntl(resultFd_, F_GETFL) | O_NONBLOCK);
    fcntl(outputFd_, F_SETFL, fcntl(outputFd_, F_GETFL) | O_NONBLOCK);
}

void ChildProcess::kill() {
    if (pid_ <= 0) return;
    if (ownGroup_) ::kill(-pid_, SIGKILL);
    ::kill(pid_, SIGKILL);
}

void ChildProcess::reap() {
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFSIGNALED(status)) {
        outcome_.signaled = !outcome_.timedOut;
        outcome_.signal = WTERMSIG(status);
    } else if (WIFEXITED(status)) {
        outcome_.exitCode = WEXITSTATUS(status);
    }
    // A killed group may leave grandchildren; end them too.
    if (ownGroup_) ::kill(-pid_, SIGKILL);
    outcome_.seconds = monotonicSeconds() - started_;
    if (outcome_.output.size() > kOutputKeep) outcome_.output.erase(0, outcome_.output.size() - kOutputKeep);
    finished_ = true;
}

bool ChildProcess::pump(int waitMs) {
    if (finished_) return true;
    pollfd fds[2];
    nfds_t n = 0;
    if (resultFd_ >= 0) fds[n++] = pollfd{resultFd_, POLLIN, 0};
    if (outputFd_ >= 0) fds[n++] = pollfd{outputFd_, POLLIN, 0};
    const double now = monotonicSeconds();
    int wait = waitMs;
    const double left = deadline_ - now;
    if (left < 0) wait = 0;
    else if (left * 1000 < wait) wait = static_cast<int>(left * 1000) + 1;
    if (n > 0) {
        if (poll(fds, n, wait) < 0 && errno != EINTR) return false;
    } else {
        // Both pipes closed: the child is ending.
        int status = 0;
        const pid_t done = waitpid(pid_, &status, WNOHANG);
        if (done == pid_) {
            // Put the status back through reap's path.
            if (WIFSIGNALED(status)) {
                outcome_.signaled = true;
                outcome_.signal = WTERMSIG(status);
            } else if (WIFEXITED(status)) {
                outcome_.exitCode = WEXITSTATUS(status);
            }
            if (ownGroup_) ::kill(-pid_, SIGKILL);
            outcome_.seconds = monotonicSeconds() - started_;
            finished_ = true;
            return true;
        }
        struct timespec ts {0, 2000000};
        nanosleep(&ts, nullptr);
    }
    if (resultFd_ >= 0 && !drain(resultFd_, outcome_.payload, false)) closeFd(resultFd_);
    if (outputFd_ >= 0 && !drain(outputFd_, outcome_.output, true)) closeFd(outputFd_);
    if (monotonicSeconds() > deadline_) {
        outcome_.timedOut = true;
        kill();
        closeFd(resultFd_);
        closeFd(outputFd_);
        reap();
        outcome_.signaled = false;
        return true;
    }
    return false;
}

void setInProcess(bool on) {
    gInProcess = on;
}

std::uint64_t forksMade() {
    return gForks;
}

ChildOutcome runHere(const std::function<void(int)>& body) {
    ChildOutcome outcome;
    const double started = monotonicSeconds();
    std::FILE* file = std::tmpfile();
    if (file == nullptr) {
        std::perror("simhost validate: tmpfile");
        std::exit(3);
    }
    body(fileno(file));
    std::rewind(file);
    char buffer[4096];
    std::size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) outcome.payload.append(buffer, n);
    std::fclose(file);
    outcome.seconds = monotonicSeconds() - started;
    return outcome;
}

ChildOutcome runIsolated(const std::function<void(int)>& body, double timeoutSeconds, bool ownGroup) {
    if (gInProcess) return runHere(body);
    ChildProcess child;
    child.start(body, timeoutSeconds, ownGroup);
    while (!child.pump(1000)) {
    }
    return child.outcome();
}

}  // namespace simhost::validate
