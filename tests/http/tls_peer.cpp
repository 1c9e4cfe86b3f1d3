// The TLS server of the Windows HTTP tests, which run under Wine without a TLS library of their own:
// a Linux program on 127.0.0.1 that the test run starts beside them (its port goes into the peers
// file as "tls PORT"). It answers as the in-process TLS servers of the Linux tests do:
//   POST /echo   "echo:" and the request body
//   GET  /via    "through", or "through, with Proxy-Authorization" when that line arrived
// A request line in absolute form ("GET https://127.0.0.1:PORT/via") is taken as well: WinHttp under
// Wine writes that form also inside a tunnel through a proxy, which a server must accept.
//
//   qj_http_tls_peer PORT_FILE   listens on a free port, writes the port to PORT_FILE, serves until
//                                it is stopped

#include <cstdio>
#include <fstream>

#include "local_servers.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: qj_http_tls_peer PORT_FILE\n");
        return 2;
    }
    qj::test::LibServer server(true);
    server.server().Post(R"((https://[^/]*)?/echo)", [](const httplib::Request& request, httplib::Response& response) {
        response.set_content("echo:" + request.body, "text/plain");
    });
    server.server().Get(R"((https://[^/]*)?/via)", [](const httplib::Request& request, httplib::Response& response) {
        response.set_content(request.has_header("Proxy-Authorization") ? "through, with Proxy-Authorization" : "through",
                             "text/plain");
    });
    server.Start();
    {
        std::ofstream(std::string(argv[1]) + ".part") << server.port() << "\n";
    }
    std::rename((std::string(argv[1]) + ".part").c_str(), argv[1]);
    // Serves until the process is stopped.
    while (!server.Stall(3600 * 1000)) {
    }
    return 0;
}
