// The HTTP interface: routes, request checks and answers, on a cpp-httplib
// server. Handlers run on the library's worker threads; everything that
// sends the plug-in a message goes through the HostWorker.
#pragma once

#include <cstdint>
#include <string>

#include <httplib.h>

#include "Documents.h"
#include "HostWorker.h"

namespace simhost_serve {

struct Listening {
    std::string address;  // as bound, such as 127.0.0.1 or ::1
    int port = 0;
    std::uint64_t maxUpload = 0;
};

// Registers every route and check on `server`. `where` must be filled in
// (port included) before the first request and outlive the server.
void installApi(httplib::Server& server, HostWorker& worker, DocumentStore& store, const Listening& where);

// Whether a Host header names the server: the bound address or, on
// loopback, localhost; on a wildcard address any IP address. With the
// server's port, or none when that is 80.
bool hostHeaderAllowed(const std::string& host, const Listening& where);

}  // namespace simhost_serve
