// simhost-serve-bench: round trips of a command through `simhost serve`
// (HTTP, the host thread, the plug-in, the answer's JSON) from 1, 8 and 64
// clients at once, on kept-alive connections as browsers use and on a new
// connection per request; the server's memory over cycles of upload,
// command, drawing and delete; and the upload of a large drawing beside the
// command line reading the same file.
//
//   simhost-serve-bench SIMHOST [BIG.svg [HUGE.svg]] [--only=GROUP,...]
//
// BIG.svg: a drawing of about 10^5 objects (bench/make-big-svg.py); HUGE.svg:
// one of about 100 MB. Prints median and 99th percentile per case. The
// groups, all run when none is named: sample (round trips on the sample),
// clients (1, 8 and 64 clients at once), memory (the cycles), big (round
// trips on BIG.svg and its upload), huge (HUGE.svg's upload beside the
// command line reading it). Several short runs of one group alternate
// well with another build's (bench/compare.sh).
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <thread>

#include "ServerProcess.h"

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

void report(const char* what, std::vector<double> ms, double commandMs) {
    std::sort(ms.begin(), ms.end());
    const double median = ms[ms.size() / 2], p99 = ms[std::min(ms.size() - 1, ms.size() * 99 / 100)];
    std::printf("%-48s n=%4zu  median %8.2f ms  p99 %8.2f ms  (command alone, median %.2f ms)\n", what, ms.size(),
                median, p99, commandMs);
}

std::string fileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void roundTrips(httplib::Client& c, const std::string& doc, const char* item, bool outlines, int n, const char* label) {
    std::vector<double> ms, command;
    const std::string body = nlohmann::json{{"item", item}, {"outlines", outlines}}.dump();
    for (int i = 0; i < n + 3; ++i) {
        const auto start = Clock::now();
        auto r = c.Post(("/api/documents/" + doc + "/menu").c_str(), body, "application/json");
        const double took = msSince(start);
        if (!r || r->status != 200) {
            std::fprintf(stderr, "failed: %s\n", r ? r->body.c_str() : "no answer");
            return;
        }
        if (i < 3) continue;  // warm-up: the first outlines parse the drawing
        ms.push_back(took);
        command.push_back(nlohmann::json::parse(r->body)["commandMs"].get<double>());
    }
    std::sort(command.begin(), command.end());
    report(label, ms, command[command.size() / 2]);
}

// `clients` clients at once, each sending `perClient` commands on the
// sample, kept alive or each on a new connection. A request that fails or
// takes longer than the 5 s timeout is counted, not timed.
void clientRoundTrips(int port, int clients, bool keepAlive, int perClient) {
    std::mutex mutex;
    std::vector<double> ms;
    std::atomic<int> failed{0};
    const std::string body = nlohmann::json{{"item", "Open Paths"}, {"outlines", true}}.dump();
    auto client = [&] {
        httplib::Client c("127.0.0.1", port);
        c.set_keep_alive(keepAlive);
        // As browsers do: else the client's body waits behind its headers
        // for the server's delayed acknowledgement.
        c.set_tcp_nodelay(true);
        c.set_connection_timeout(5);
        c.set_read_timeout(5);
        std::vector<double> mine;
        for (int i = 0; i < perClient + 2; ++i) {
            const auto start = Clock::now();
            auto r = c.Post("/api/documents/d1/menu", body, "application/json");
            const double took = msSince(start);
            if (!r || r->status != 200) ++failed;
            else if (i >= 2) mine.push_back(took);  // warm-up: the connection's thread starts
        }
        std::lock_guard<std::mutex> lock(mutex);
        ms.insert(ms.end(), mine.begin(), mine.end());
    };
    std::vector<std::thread> threads;
    for (int i = 0; i < clients; ++i) threads.emplace_back(client);
    for (std::thread& t : threads) t.join();
    std::sort(ms.begin(), ms.end());
    if (ms.empty()) return (void)std::printf("%d clients: every request failed\n", clients);
    std::printf("sample: Open Paths, %2d client%s, %-13s n=%5zu  median %6.2f ms  p99 %6.2f ms  max %7.2f ms  "
                "failed or timed out %d\n",
                clients, clients == 1 ? " " : "s", keepAlive ? "kept alive" : "new conn.", ms.size(),
                ms[ms.size() / 2], ms[std::min(ms.size() - 1, ms.size() * 99 / 100)], ms.back(), failed.load());
}

// Uploads of `drawing` until 201 comes back, each deleted after; the time
// to the 201.
std::vector<double> uploads(httplib::Client& c, const std::string& drawing, int n) {
    std::vector<double> ms;
    for (int i = 0; i < n; ++i) {
        const auto start = Clock::now();
        auto r = c.Post("/api/documents?name=upload.svg", drawing, "image/svg+xml");
        ms.push_back(msSince(start));
        if (!r || r->status != 201) std::fprintf(stderr, "upload failed\n");
        else c.Delete(("/api/documents/" + serve_test::parsed(r)["id"].get<std::string>()).c_str());
    }
    return ms;
}

// Cycles of upload, Groups, the drawing, delete: the server's resident
// memory after 100 cycles and after 2,000.
void memoryCycles(serve_test::ServerProcess& server, const std::string& drawing) {
    httplib::Client c = server.client();
    const std::string command = nlohmann::json{{"item", "Groups"}}.dump();
    long after100 = 0;
    for (int i = 1; i <= 2000; ++i) {
        auto up = c.Post("/api/documents?name=cycle.svg", drawing, "image/svg+xml");
        if (!up || up->status != 201) return (void)std::fprintf(stderr, "cycle upload failed\n");
        const std::string doc = "/api/documents/" + serve_test::parsed(up)["id"].get<std::string>();
        c.Post((doc + "/menu").c_str(), command, "application/json");
        c.Get((doc + "/drawing").c_str());
        c.Delete(doc.c_str());
        if (i == 100) after100 = server.statusKiB("VmRSS");
    }
    const long after2000 = server.statusKiB("VmRSS");
    std::printf("memory: RSS after 100 cycles %.1f MB, after 2,000 %.1f MB (%+.1f MB)\n", after100 / 1024.0,
                after2000 / 1024.0, (after2000 - after100) / 1024.0);
}

// The arguments: files in order, and the groups to run (every group when
// none is named).
struct Arguments {
    std::vector<std::string> files;
    std::set<std::string> only;
    bool runs(const char* group) const { return only.empty() || only.count(group) != 0; }
};

Arguments parse(int argc, char** argv) {
    Arguments a;
    const std::string flag = "--only=";
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg.compare(0, flag.size(), flag) != 0) {
            a.files.push_back(arg);
            continue;
        }
        std::stringstream list(arg.substr(flag.size()));
        for (std::string group; std::getline(list, group, ',');) a.only.insert(group);
    }
    return a;
}

void bigCases(httplib::Client& c, const std::string& path) {
    const std::string big = fileText(path);
    report("10^5: upload (201 back)", uploads(c, big, 10), 0);
    const std::string id = serve_test::parsed(c.Post("/api/documents?name=big.svg", big, "image/svg+xml"))["id"];
    roundTrips(c, id, "Compound Paths", true, 50, "10^5: Compound Paths (selects none)");
    roundTrips(c, id, "Dashed Paths", false, 50, "10^5: Dashed Paths, no outlines");
    roundTrips(c, id, "Dashed Paths", true, 50, "10^5: Dashed Paths, with outlines");
    roundTrips(c, id, "All Paths", false, 20, "10^5: All Paths, no outlines");
    roundTrips(c, id, "All Paths", true, 20, "10^5: All Paths, with outlines");
    c.Delete(("/api/documents/" + id).c_str());
}

void hugeCases(httplib::Client& c, const std::string& simhost, const std::string& path) {
    const std::string huge = fileText(path);
    std::vector<double> upload, cli;
    for (int i = 0; i < 5; ++i) {
        const std::vector<double> one = uploads(c, huge, 1);
        upload.insert(upload.end(), one.begin(), one.end());
        const auto start = Clock::now();
        const std::string command = simhost + " select " + path + " \"Placed Objects\" >/dev/null";
        if (std::system(command.c_str()) != 0) std::fprintf(stderr, "the command line failed\n");
        cli.push_back(msSince(start));
    }
    report("100 MB: upload (201 back)", upload, 0);
    report("100 MB: simhost select (reads it, selects none)", cli, 0);
}

}  // namespace

int main(int argc, char** argv) {
    const Arguments a = parse(argc, argv);
    if (a.files.empty()) {
        std::fprintf(stderr, "usage: simhost-serve-bench SIMHOST [BIG.svg [HUGE.svg]] [--only=GROUP,...]\n");
        return 2;
    }
    setenv("SIMHOST", a.files[0].c_str(), 1);
    serve_test::ServerProcess server({"--max-upload", "1000000000"});
    httplib::Client c = server.client();
    if (a.runs("sample")) {
        roundTrips(c, "d1", "Open Paths", true, 1000, "sample: Open Paths");
        roundTrips(c, "d1", "All Paths", true, 1000, "sample: All Paths");
    }
    if (a.runs("clients"))
        for (const bool keepAlive : {true, false})
            for (const int clients : {1, 8, 64})
                clientRoundTrips(server.port(), clients, keepAlive, 12800 / (clients + 7));
    if (a.runs("memory")) memoryCycles(server, c.Get("/api/documents/d1/drawing")->body);
    if (a.files.size() > 1 && a.runs("big")) bigCases(c, a.files[1]);
    if (a.files.size() > 2 && a.runs("huge")) hugeCases(c, a.files[0], a.files[2]);
    server.stop();
    return 0;
}
