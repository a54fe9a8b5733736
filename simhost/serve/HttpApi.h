// The HTTP interface: routes, request checks and answers, on a cpp-httplib
// server. Handlers run on the library's worker threads; everything that
// sends the plug-in a message goes through the HostWorker.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include <httplib.h>

#include "Documents.h"
#include "HostWorker.h"

namespace simhost_serve {

struct Listening {
    std::string address;  // as bound, such as 127.0.0.1 or ::1
    int port = 0;
    std::uint64_t maxUpload = 0;  // of a document as read, inflated
    std::atomic<bool> stopping{false};  // set once a signal stops the server: new work gets 503
};

// Registers every route and check on `server`. `where` must be filled in
// (port included) before the first request and outlive the server.
void installApi(httplib::Server& server, HostWorker& worker, DocumentStore& store, const Listening& where);

// Whether a Host header names the server: the bound address or, on
// loopback, localhost; on a wildcard address any IP address. With the
// server's port, or none when that is 80.
bool hostHeaderAllowed(const std::string& host, const Listening& where);
// Whether an Origin header is the server's own: http:// and a host the
// Host check allows, nothing more.
bool originAllowed(const std::string& origin, const Listening& where);

// The headers of a response whose body is an uploaded drawing: it may
// fetch nothing and run nothing; as a file, it is saved, never shown.
void setDrawingPolicy(httplib::Response& res, bool asFile);

}  // namespace simhost_serve
