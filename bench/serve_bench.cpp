// simhost-serve-bench: round trips of a command through `simhost serve`
// (HTTP, the host thread, the plug-in, the answer's JSON) and the upload of
// a large drawing beside the command line reading the same file.
//
//   simhost-serve-bench SIMHOST [BIG.svg [HUGE.svg]]
//
// BIG.svg: a drawing of about 10^5 objects (bench/make-big-svg.py); HUGE.svg:
// one of about 100 MB. Prints median and 99th percentile per case.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>

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

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: simhost-serve-bench SIMHOST [BIG.svg [HUGE.svg]]\n");
        return 2;
    }
    setenv("SIMHOST", argv[1], 1);
    serve_test::ServerProcess server({"--max-upload", "1000000000"});
    httplib::Client c = server.client();
    roundTrips(c, "d1", "Open Paths", true, 1000, "sample: Open Paths");
    roundTrips(c, "d1", "All Paths", true, 1000, "sample: All Paths");
    if (argc > 2) {
        const std::string big = fileText(argv[2]);
        const std::string id = serve_test::parsed(c.Post("/api/documents?name=big.svg", big, "image/svg+xml"))["id"];
        roundTrips(c, id, "Compound Paths", true, 50, "10^5: Compound Paths (selects none)");
        roundTrips(c, id, "Dashed Paths", false, 50, "10^5: Dashed Paths, no outlines");
        roundTrips(c, id, "Dashed Paths", true, 50, "10^5: Dashed Paths, with outlines");
        roundTrips(c, id, "All Paths", false, 20, "10^5: All Paths, no outlines");
        roundTrips(c, id, "All Paths", true, 20, "10^5: All Paths, with outlines");
    }
    if (argc > 3) {
        const std::string huge = fileText(argv[3]);
        std::vector<double> upload, cli;
        for (int i = 0; i < 5; ++i) {
            auto start = Clock::now();
            auto r = c.Post("/api/documents?name=huge.svg", huge, "image/svg+xml");
            upload.push_back(msSince(start));
            if (!r || r->status != 201) std::fprintf(stderr, "upload failed\n");
            else c.Delete(("/api/documents/" + serve_test::parsed(r)["id"].get<std::string>()).c_str());
            start = Clock::now();
            const std::string command = std::string(argv[1]) + " select " + argv[3] + " \"Placed Objects\" >/dev/null";
            if (std::system(command.c_str()) != 0) std::fprintf(stderr, "the command line failed\n");
            cli.push_back(msSince(start));
        }
        report("100 MB: upload (201 back)", upload, 0);
        report("100 MB: simhost select (reads it, selects none)", cli, 0);
    }
    server.stop();
    return 0;
}
