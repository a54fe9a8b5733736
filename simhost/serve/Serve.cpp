#include "Serve.h"

#include <pthread.h>
#include <signal.h>

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>

#include "HttpApi.h"

namespace simhost_serve {

namespace {

constexpr int kDefaultPort = 8731;
constexpr std::uint64_t kDefaultMaxUpload = std::uint64_t(256) << 20;
// Enough workers that a page's connections and a few clients never wait
// for each other; each holds one connection at a time.
constexpr std::size_t kHttpThreads = 32;

struct Options {
    std::vector<std::string> files;
    std::string bind = "127.0.0.1";
    int port = kDefaultPort;
    std::uint64_t maxUpload = kDefaultMaxUpload;
    std::string pluginPath;
};

int usage(const std::string& message) {
    std::fprintf(stderr, "simhost: serve: %s\nusage: simhost serve [FILE...] [--port N] [--bind ADDR] "
                         "[--plugin PATH] [--max-upload BYTES]\n", message.c_str());
    return 2;
}

bool parseNumber(const std::string& text, std::uint64_t max, std::uint64_t& out) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos || text.size() > 19) return false;
    out = std::strtoull(text.c_str(), nullptr, 10);
    return out <= max;
}

// Fills `o` from the arguments; an error message, or empty.
std::string parseArgs(const std::vector<std::string>& args, Options& o) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string a = args[i], value;
        const std::size_t eq = a.find('=');
        const bool option = a.size() > 2 && a.compare(0, 2, "--") == 0;
        if (option && eq != std::string::npos) {
            value = a.substr(eq + 1);
            a.erase(eq);
        } else if (option && i + 1 < args.size()) {
            value = args[++i];
        } else if (option) {
            return a + " needs a value";
        }
        std::uint64_t n = 0;
        if (!option) o.files.push_back(a);
        else if (a == "--port" && parseNumber(value, 65535, n)) o.port = static_cast<int>(n);
        else if (a == "--max-upload" && parseNumber(value, UINT64_MAX / 2, n) && n > 0) o.maxUpload = n;
        else if (a == "--bind" && !value.empty()) o.bind = value;
        else if (a == "--plugin" && !value.empty()) o.pluginPath = value;
        else if (a == "--port" || a == "--max-upload" || a == "--bind" || a == "--plugin")
            return "bad value \"" + value + "\" for " + a;
        else return "unknown option " + a;
    }
    return {};
}

bool isLoopback(const std::string& address) {
    return address.rfind("127.", 0) == 0 || address == "::1" || address == "localhost";
}

}  // namespace

int runServe(const std::vector<std::string>& args, const std::string& pluginPath) {
    Options o;
    o.pluginPath = pluginPath;
    if (const std::string error = parseArgs(args, o); !error.empty()) return usage(error);
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
        return 2;
    }

    // Signals are taken by one thread, by sigwait; every other thread,
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
        return 2;
    }

    httplib::Server server;
    server.new_task_queue = [] { return new httplib::ThreadPool(kHttpThreads); };
    server.set_keep_alive_timeout(2);
    server.set_keep_alive_max_count(1000);
    Listening where{o.bind, 0, o.maxUpload};
    installApi(server, *worker, store, where);
    where.port = o.port == 0 ? server.bind_to_any_port(o.bind) : (server.bind_to_port(o.bind, o.port) ? o.port : -1);
    if (where.port <= 0) {
        std::fprintf(stderr, "simhost: cannot listen on %s port %d\n", o.bind.c_str(), o.port);
        worker->shutdown();
        return 2;
    }
    const bool v6 = o.bind.find(':') != std::string::npos;
    std::printf("simhost serving http://%s%s%s:%d/\n", v6 ? "[" : "", o.bind.c_str(), v6 ? "]" : "", where.port);
    std::fflush(stdout);

    std::atomic<bool> signalled{false};
    std::thread stopper([&] {
        int signalNumber = 0;
        sigwait(&stopSignals, &signalNumber);
        signalled = true;
        // Answer whoever waits on the plug-in first, then stop listening.
        worker->stopAccepting();
        server.stop();
    });
    server.listen_after_bind();
    if (!signalled) kill(getpid(), SIGTERM);  // stopped listening on its own: end the stopper too
    stopper.join();
    const std::vector<std::string> problems = worker->shutdown();
    for (const std::string& line : problems) std::fprintf(stderr, "simhost: host: %s\n", line.c_str());
    return 0;
}

}  // namespace simhost_serve
