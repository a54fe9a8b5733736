#include "Serve.h"

#include <netinet/in.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

#include "ExitCodes.h"
#include "HttpApi.h"

namespace simhost_serve {

namespace {

constexpr int kDefaultPort = 8731;
constexpr std::uint64_t kDefaultMaxUpload = std::uint64_t(256) << 20;
// Each connection holds a thread for as long as it is kept alive, so the
// threads grow with the clients, up to this many.
constexpr std::size_t kMaxHttpThreads = 512;
// The kernel's queue of connections not yet accepted: a burst of new
// clients waits there instead of being dropped and retried a second later.
constexpr int kListenBacklog = 1024;
// How long a read of a request may wait for the client's next bytes. It
// also bounds shutdown: an upload whose client has stalled ends with its
// read and is answered 503.
constexpr int kReadTimeoutSeconds = 3;
// After a signal, how long what is in flight may take to be answered.
constexpr auto kShutdownGrace = std::chrono::milliseconds(kReadTimeoutSeconds * 1000 + 1000);

// A thread per connection, started when no thread is free, kept for the
// next connection until the server stops.
class ConnectionThreads : public httplib::TaskQueue {
public:
    void enqueue(std::function<void()> fn) override {
        std::lock_guard<std::mutex> lock(mutex_);
        jobs_.push_back(std::move(fn));
        if (jobs_.size() > waiting_ && threads_.size() < kMaxHttpThreads) threads_.emplace_back([this] { work(); });
        else wake_.notify_one();
    }
    void shutdown() override {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_all();
        for (std::thread& t : threads_) t.join();
    }

private:
    void work() {
        for (;;) {
            std::unique_lock<std::mutex> lock(mutex_);
            ++waiting_;
            wake_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
            --waiting_;
            if (jobs_.empty()) return;
            std::function<void()> job = std::move(jobs_.front());
            jobs_.pop_front();
            lock.unlock();
            job();
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> jobs_;
    std::vector<std::thread> threads_;  // only grows, under mutex_
    std::size_t waiting_ = 0;
    bool stopping_ = false;
};

struct Options {
    std::vector<std::string> files;
    std::string bind = "127.0.0.1";
    int port = kDefaultPort;
    std::uint64_t maxUpload = kDefaultMaxUpload;
    std::string pluginPath;
    bool help = false;
};

const char* const kServeUsage =
    "usage: simhost serve [FILE...] [--port N] [--bind ADDR] [--plugin PATH] [--max-upload BYTES]\n"
    "\n"
    "  FILE...              documents to open (default: the built-in sample drawing)\n"
    "  --port N             the port to listen on, 0 for any free one (default 8731)\n"
    "  --bind ADDR          the address to listen on (default 127.0.0.1)\n"
    "  --plugin PATH        load this build of the plug-in\n"
    "  --max-upload BYTES   the largest document an upload may be, as read (inflated)\n"
    "                       (default 268435456)\n"
    "  -h, --help           this text\n"
    "\n"
    "SIGINT or SIGTERM stops it: what is in flight is answered within a few seconds\n"
    "(503 for what cannot finish), then it exits 0; a second signal exits at once.\n";

int usage(const std::string& message) {
    std::fprintf(stderr, "simhost: serve: %s\n%s", message.c_str(), kServeUsage);
    return simhost_app::kBadInput;
}

// A number of at most `max`, or BadValue naming `option`.
std::uint64_t numberFor(const std::string& option, const std::string& text, std::uint64_t max) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos || text.size() > 19 ||
        std::strtoull(text.c_str(), nullptr, 10) > max)
        throw simhost_app::BadValue("bad value \"" + text + "\" for " + option);
    return std::strtoull(text.c_str(), nullptr, 10);
}

// A text that must not be empty, or BadValue naming `option`.
std::string textFor(const std::string& option, const std::string& text) {
    if (text.empty()) throw simhost_app::BadValue("bad value \"\" for " + option);
    return text;
}

void addServeOptions(CLI::App& serve, Options& o, std::string& pluginPath) {
    serve.add_option("FILE", o.files);
    serve.add_option_function<std::string>("--port", [&o](const std::string& v) {
        o.port = static_cast<int>(numberFor("--port", v, 65535));
    });
    serve.add_option_function<std::string>("--max-upload", [&o](const std::string& v) {
        o.maxUpload = numberFor("--max-upload", v, UINT64_MAX / 2);
        if (o.maxUpload == 0) throw simhost_app::BadValue("bad value \"" + v + "\" for --max-upload");
    });
    serve.add_option_function<std::string>("--bind", [&o](const std::string& v) { o.bind = textFor("--bind", v); });
    serve.add_option_function<std::string>("--plugin", [&pluginPath](const std::string& v) {
        pluginPath = textFor("--plugin", v);
    });
    serve.add_flag("-h,--help", o.help);
}

bool isLoopback(const std::string& address) {
    return address.rfind("127.", 0) == 0 || address == "::1" || address == "localhost";
}

// Binds `server` to the address and port asked for; the port bound, or -1.
// The library listens with a backlog of 5, too short for a burst of
// clients: a second listen() on the bound socket lengthens it.
int bindServer(httplib::Server& server, const Options& o) {
    auto socketOf = std::make_shared<int>(-1);
    server.set_socket_options([socketOf](int fd) {
        const int yes = 1;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        *socketOf = fd;
    });
    // Without it, an answer written in two pieces waits for the client's
    // delayed acknowledgement of the first: 40 ms per kept-alive request.
    // Accepted sockets take it from the listening one.
    server.set_tcp_nodelay(true);
    const int port = o.port == 0 ? server.bind_to_any_port(o.bind) : (server.bind_to_port(o.bind, o.port) ? o.port : -1);
    if (port > 0 && ::listen(*socketOf, kListenBacklog) != 0) return -1;
    return port;
}

// Waits up to `limit` for `done`; a signal meanwhile ends the process.
void waitUnlessSignalled(const sigset_t& signals, const std::atomic<bool>& done, std::chrono::milliseconds limit) {
    const auto until = std::chrono::steady_clock::now() + limit;
    while (!done && std::chrono::steady_clock::now() < until) {
        const timespec slice{0, 20 * 1000 * 1000};
        const int again = sigtimedwait(&signals, nullptr, &slice);
        if (again > 0) {
            std::fprintf(stderr, "simhost: stopped at once by a second signal\n");
            std::fflush(stderr);
            _exit(simhost_app::kSignalledBase + again);
        }
    }
}

// Stops the server on the first SIGINT or SIGTERM: no new connections, no
// new work for the plug-in, uploads in flight answered 503 at their next
// bytes or when their read times out. True when every connection ended
// within kShutdownGrace, false when some are still stuck (in a write to a
// client that does not read).
bool stopOnSignal(httplib::Server& server, HostWorker& worker, Listening& where, const sigset_t& signals,
                  const std::atomic<bool>& listenerDone) {
    int signalNumber = 0;
    sigwait(&signals, &signalNumber);
    if (listenerDone) return true;  // stopped listening on its own
    where.stopping = true;
    worker.stopAccepting();
    server.stop();
    waitUnlessSignalled(signals, listenerDone, kShutdownGrace);
    return listenerDone;
}

int runServe(Options& o) {
    if (o.help) return std::fputs(kServeUsage, stdout) < 0 ? simhost_app::kBadInput : simhost_app::kOk;
    if (o.bind == "localhost") o.bind = "127.0.0.1";
    if (!isLoopback(o.bind))
        std::fprintf(stderr, "simhost: serving on %s, not only this machine: anyone who can reach it can use it\n",
                     o.bind.c_str());

    DocumentStore store;
    try {
        if (o.files.empty()) store.add(openSampleDocument());
        for (const std::string& file : o.files) store.add(openDocumentFile(file));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "simhost: %s\n", e.what());
        return simhost_app::kBadInput;
    }

    // Signals are taken by this thread, by sigwait; every other thread,
    // started from here on, has them blocked.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    signal(SIGPIPE, SIG_IGN);

    std::unique_ptr<HostWorker> worker;
    try {
        worker = std::make_unique<HostWorker>(o.pluginPath);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "simhost: %s\n", e.what());
        return simhost_app::kBadInput;
    }

    httplib::Server server;
    server.new_task_queue = [] { return new ConnectionThreads; };
    server.set_keep_alive_timeout(2);
    server.set_read_timeout(kReadTimeoutSeconds);
    server.set_keep_alive_max_count(1000);
    Listening where{o.bind, 0, o.maxUpload};
    installApi(server, *worker, store, where);
    where.port = bindServer(server, o);
    if (where.port <= 0) {
        std::fprintf(stderr, "simhost: cannot listen on %s port %d\n", o.bind.c_str(), o.port);
        worker->shutdown();
        return simhost_app::kBadInput;
    }
    const bool v6 = o.bind.find(':') != std::string::npos;
    std::printf("simhost serving http://%s%s%s:%d/\n", v6 ? "[" : "", o.bind.c_str(), v6 ? "]" : "", where.port);
    std::fflush(stdout);

    std::atomic<bool> listenerDone{false};
    std::thread listener([&] {
        server.listen_after_bind();
        listenerDone = true;
        if (!where.stopping) kill(getpid(), SIGTERM);  // stopped listening on its own: wake the signal wait
    });
    const bool allEnded = stopOnSignal(server, *worker, where, stopSignals, listenerDone);
    const std::vector<std::string> problems = worker->shutdown();
    for (const std::string& line : problems) std::fprintf(stderr, "simhost: host: %s\n", line.c_str());
    if (!allEnded) {
        // A connection still stuck in a write holds its thread: leave it.
        std::fflush(nullptr);
        _exit(simhost_app::kOk);
    }
    listener.join();
    return simhost_app::kOk;
}

}  // namespace

void addServe(CLI::App& app, simhost_app::Invocation& invocation) {
    auto o = std::make_shared<Options>();
    invocation.held.push_back(o);
    const auto run = [o, &invocation](const std::vector<std::string>& unknown) {
        if (!unknown.empty()) {
            const std::string& first = unknown.front();
            return usage(first.size() > 1 && first[0] == '-' ? "unknown option " + first : "unexpected \"" + first + "\"");
        }
        o->pluginPath = invocation.pluginPath;
        return runServe(*o);
    };
    addServeOptions(*simhost_app::addSubcommand(app, invocation, "serve", run, usage), *o, invocation.pluginPath);
}

}  // namespace simhost_serve
