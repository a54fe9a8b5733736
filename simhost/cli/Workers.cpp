#include "Workers.h"

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <optional>

#include "WriteAll.h"

namespace simhost_cli {

namespace {

// A report's frame index for a worker's final report, and for a worker
// that could not start its plug-in.
constexpr std::uint64_t kFinishFrame = ~std::uint64_t(0);
constexpr std::uint64_t kFailedFrame = ~std::uint64_t(0) - 1;
// Reports the parent may hold ahead of the next one it hands on, per worker.
constexpr std::size_t kWindowPerWorker = 4;

void putWord(std::string& frame, std::uint64_t value) {
    frame.append(reinterpret_cast<const char*>(&value), sizeof value);
}

std::uint64_t getWord(const std::string& frame, std::size_t& at) {
    std::uint64_t value = 0;
    std::memcpy(&value, frame.data() + at, sizeof value);
    at += sizeof value;
    return value;
}

// Frame: length, index, code, unreadable, tallies, out size, err size,
// each tally's three counts, out, err.
std::string encode(std::uint64_t index, const DocumentReport& report) {
    std::string frame;
    putWord(frame, 0);
    for (const std::uint64_t word : {index, static_cast<std::uint64_t>(report.code), std::uint64_t(report.unreadable),
                                     std::uint64_t(report.tallies.size()), std::uint64_t(report.out.size()),
                                     std::uint64_t(report.err.size())})
        putWord(frame, word);
    for (const CommandTally& t : report.tallies)
        for (const std::uint64_t word : {t.selected, t.withSelection, t.errors}) putWord(frame, word);
    frame += report.out;
    frame += report.err;
    const std::uint64_t length = frame.size();
    std::memcpy(frame.data(), &length, sizeof length);
    return frame;
}

// Takes one whole frame off the front of `buffer`, if it holds one.
std::optional<std::pair<std::uint64_t, DocumentReport>> decode(std::string& buffer) {
    if (buffer.size() < 8) return std::nullopt;
    std::size_t at = 0;
    const std::uint64_t length = getWord(buffer, at);
    if (buffer.size() < length) return std::nullopt;
    DocumentReport report;
    const std::uint64_t index = getWord(buffer, at);
    report.code = static_cast<int>(getWord(buffer, at));
    report.unreadable = getWord(buffer, at) != 0;
    report.tallies.resize(getWord(buffer, at));
    const std::size_t outSize = getWord(buffer, at), errSize = getWord(buffer, at);
    for (CommandTally& t : report.tallies) {
        t.selected = getWord(buffer, at);
        t.withSelection = getWord(buffer, at);
        t.errors = getWord(buffer, at);
    }
    report.out = buffer.substr(at, outSize);
    report.err = buffer.substr(at + outSize, errSize);
    buffer.erase(0, length);
    return std::make_pair(index, std::move(report));
}

// The worker's side: documents by index from `requests`, reports to
// `reports`, until the parent closes the requests.
[[noreturn]] void workerMain(int requests, int reports, const ProcessorFactory& factory) {
    std::unique_ptr<DocumentProcessor> processor;
    try {
        processor = factory();
    } catch (const ProcessorFailure& failure) {
        const std::string frame = encode(kFailedFrame, failure.report);
        simhost_app::writeAll(reports, frame.data(), frame.size());
        _exit(0);
    }
    for (;;) {
        std::uint64_t index = 0;
        ssize_t n;
        while ((n = ::read(requests, &index, sizeof index)) < 0 && errno == EINTR) {
        }
        if (n != sizeof index) break;
        const std::string frame = encode(index, processor->process(static_cast<std::size_t>(index)));
        if (!simhost_app::writeAll(reports, frame.data(), frame.size())) _exit(1);
    }
    const std::string frame = encode(kFinishFrame, processor->finish());
    simhost_app::writeAll(reports, frame.data(), frame.size());
    processor.reset();
    _exit(0);
}

struct Worker {
    pid_t pid = -1;
    int requests = -1;  // parent writes
    int reports = -1;   // parent reads
    std::string buffer;
    std::optional<std::size_t> inFlight;
    bool finishing = false;
};

class Pool {
public:
    Pool(std::size_t count, unsigned jobs, const ProcessorFactory& factory, const RunCallbacks& callbacks)
        : count_(count), jobs_(jobs), factory_(factory), callbacks_(callbacks) {}
    ~Pool() { stopAll(); }

    bool run() {
        for (unsigned j = 0; j < jobs_; ++j)
            if (!spawn()) return false;
        while (nextToDeliver_ < count_ && ok_) {
            dispatch();
            if (!waitForReports()) return false;
            deliverInOrder();
        }
        return ok_ && finishAll();
    }

private:
    bool spawn() {
        int down[2], up[2];
        if (pipe(down) != 0) return fail("cannot make a pipe: " + std::string(std::strerror(errno)));
        if (pipe(up) != 0) {
            close(down[0]);
            close(down[1]);
            return fail("cannot make a pipe: " + std::string(std::strerror(errno)));
        }
        std::fflush(nullptr);
        // _Fork, not fork: the command line is single-threaded, so the atfork
        // handlers have nothing to do, and under qemu-user glibc's fork()
        // leaves the child spinning before it returns.
        const pid_t pid = _Fork();
        if (pid < 0) return fail("cannot start a worker: " + std::string(std::strerror(errno)));
        if (pid == 0) {
            // Other workers' pipes stay with the parent, so each sees the end
            // of its requests when the parent closes them.
            for (const Worker& w : workers_) {
                close(w.requests);
                close(w.reports);
            }
            close(down[1]);
            close(up[0]);
            workerMain(down[0], up[1], factory_);
        }
        close(down[0]);
        close(up[1]);
        Worker worker;
        worker.pid = pid;
        worker.requests = down[1];
        worker.reports = up[0];
        workers_.push_back(std::move(worker));
        return true;
    }

    bool fail(const std::string& why) {
        DocumentReport report;
        report.err = "simhost: " + why + "\n";
        report.code = 2;
        callbacks_.deliver(report);
        ok_ = false;
        return false;
    }

    void dispatch() {
        for (Worker& w : workers_) {
            if (w.inFlight || w.finishing || nextToSend_ >= count_) continue;
            if (nextToSend_ >= nextToDeliver_ + kWindowPerWorker * jobs_) return;
            const std::uint64_t index = nextToSend_;
            if (!simhost_app::writeAll(w.requests, reinterpret_cast<const char*>(&index), sizeof index)) continue;
            w.inFlight = nextToSend_++;
        }
    }

    // Reads what the workers have sent; a worker that ended is replaced.
    bool waitForReports() {
        std::vector<pollfd> fds;
        for (const Worker& w : workers_) fds.push_back({w.reports, POLLIN, 0});
        while (poll(fds.data(), fds.size(), -1) < 0)
            if (errno != EINTR) return fail("poll: " + std::string(std::strerror(errno)));
        for (std::size_t i = 0; i < fds.size(); ++i) {
            if (fds[i].revents == 0) continue;
            if (!readFrom(i)) return false;
        }
        for (std::size_t i = workers_.size(); i-- > 0;)
            if (workers_[i].pid < 0) workers_.erase(workers_.begin() + static_cast<long>(i));
        while (workers_.size() < jobs_ && nextToSend_ < count_ && ok_)
            if (!spawn()) return false;
        return ok_;
    }

    bool readFrom(std::size_t i) {
        Worker& w = workers_[i];
        char chunk[65536];
        const ssize_t n = ::read(w.reports, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) return true;
        if (n > 0) {
            w.buffer.append(chunk, static_cast<std::size_t>(n));
            while (auto frame = decode(w.buffer)) {
                if (frame->first == kFailedFrame) {
                    callbacks_.deliver(frame->second);
                    ok_ = false;
                    return false;
                }
                if (frame->first == kFinishFrame) finals_.push_back(std::move(frame->second));
                else held_.emplace(static_cast<std::size_t>(frame->first), std::move(frame->second));
                w.inFlight.reset();
            }
            return true;
        }
        reap(w);
        return true;
    }

    // The worker ended: a document it held is reported lost.
    void reap(Worker& w) {
        close(w.reports);
        close(w.requests);
        int status = 0;
        while (waitpid(w.pid, &status, 0) < 0 && errno == EINTR) {
        }
        if (w.inFlight) {
            const std::string why = WIFSIGNALED(status) ? "signal " + std::to_string(WTERMSIG(status))
                                                        : "exit status " + std::to_string(WEXITSTATUS(status));
            held_.emplace(*w.inFlight, callbacks_.lost(*w.inFlight, why));
        }
        w.pid = -1;
    }

    void deliverInOrder() {
        for (auto it = held_.find(nextToDeliver_); it != held_.end() && ok_; it = held_.find(nextToDeliver_)) {
            if (!callbacks_.deliver(it->second)) ok_ = false;
            held_.erase(it);
            ++nextToDeliver_;
        }
    }

    // Closes every worker's requests and takes their final reports.
    bool finishAll() {
        for (Worker& w : workers_) {
            close(w.requests);
            w.requests = -1;
            w.finishing = true;
            while (w.pid >= 0) {
                std::size_t i = static_cast<std::size_t>(&w - workers_.data());
                if (!readFrom(i)) return false;
            }
        }
        workers_.clear();
        for (DocumentReport& report : finals_)
            if (!callbacks_.deliver(report)) return false;
        return true;
    }

    void stopAll() {
        for (Worker& w : workers_) {
            if (w.pid < 0) continue;
            kill(w.pid, SIGTERM);
            if (w.requests >= 0) close(w.requests);
            close(w.reports);
            while (waitpid(w.pid, nullptr, 0) < 0 && errno == EINTR) {
            }
        }
        workers_.clear();
    }

    std::size_t count_;
    unsigned jobs_;
    const ProcessorFactory& factory_;
    const RunCallbacks& callbacks_;
    std::vector<Worker> workers_;
    std::map<std::size_t, DocumentReport> held_;
    std::vector<DocumentReport> finals_;
    std::size_t nextToSend_ = 0, nextToDeliver_ = 0;
    bool ok_ = true;
};

}  // namespace

bool runDocuments(std::size_t count, unsigned jobs, const ProcessorFactory& factory, const RunCallbacks& callbacks) {
    if (jobs <= 1 || count <= 1) {
        std::unique_ptr<DocumentProcessor> processor;
        try {
            processor = factory();
        } catch (ProcessorFailure& failure) {
            callbacks.deliver(failure.report);
            return false;
        }
        for (std::size_t i = 0; i < count; ++i) {
            DocumentReport report = processor->process(i);
            if (!callbacks.deliver(report)) return false;
        }
        DocumentReport last = processor->finish();
        return callbacks.deliver(last);
    }
    Pool pool(count, static_cast<unsigned>(std::min<std::size_t>(jobs, count)), factory, callbacks);
    return pool.run();
}

}  // namespace simhost_cli
