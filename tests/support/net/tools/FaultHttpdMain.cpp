// lb_fault_httpd: the fault-injecting test server as a program, for tests and
// scripts outside the C++ test programs.
//
//   lb_fault_httpd --root FOLDER [--port N] [--dav-no-slash]
//
// Prints "port N" once it listens on 127.0.0.1, then serves until SIGINT or
// SIGTERM, printing one line per request when it stops. Faults are chosen by
// query parameters (see FaultHttpServer.h). It answers PROPFIND as a WebDAV
// server; with --dav-no-slash its folders' hrefs lack the final "/".
#include "tests/support/net/FaultHttpServer.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

int main(int argc, char** argv) {
    std::string root;
    int port = 0;
    bool davSlash = true;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--root") && i + 1 < argc) {
            root = argv[++i];
        } else if (!std::strcmp(argv[i], "--port") && i + 1 < argc) {
            port = std::atoi(argv[++i]);
        } else if (!std::strcmp(argv[i], "--dav-no-slash")) {
            davSlash = false;
        } else {
            std::fprintf(stderr, "usage: %s --root FOLDER [--port N] [--dav-no-slash]\n", argv[0]);
            return 2;
        }
    }
    if (root.empty()) {
        std::fprintf(stderr, "usage: %s --root FOLDER [--port N] [--dav-no-slash]\n", argv[0]);
        return 2;
    }
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);  // the server's threads inherit the mask

    test::FaultHttpServer server(root);
    server.setDavFolderSlash(davSlash);
    if (!server.start(port)) {
        std::fprintf(stderr, "lb_fault_httpd: cannot listen on port %d\n", port);
        return 1;
    }
    std::printf("port %d\n", server.port());
    std::fflush(stdout);
    int sig = 0;
    sigwait(&set, &sig);
    server.stop();
    for (const auto& r : server.requests()) {
        std::printf("%s \"%s\" \"%s\" %d %llu\n", r.method.c_str(), r.target.c_str(), r.range.c_str(), r.status,
                    (unsigned long long)r.bodyBytes);
    }
    return 0;
}
