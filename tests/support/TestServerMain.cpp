// vantra-test-server: serves a directory over HTTPS on loopback for the demo,
// the end-to-end test and the benchmarks.
//   vantra-test-server --port N --cert F --key F --root DIR [--set-cookie C]
// Prints "listening on N" when ready, logs each request line to stderr, and
// exits on SIGTERM or SIGINT.

#include "TlsTestServer.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <iostream>
#include <mutex>
#include <pthread.h>

int main(int argc, char** argv) {
    testsupport::ServerOptions options;
    std::string root, setCookie;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (i + 1 >= argc) {
            std::fprintf(stderr, "missing value after %s\n", arg.c_str());
            return 2;
        }
        std::string value = argv[++i];
        if (arg == "--port")
            options.port = static_cast<std::uint16_t>(std::atoi(value.c_str()));
        else if (arg == "--cert")
            options.certFile = value;
        else if (arg == "--key")
            options.keyFile = value;
        else if (arg == "--root")
            root = value;
        else if (arg == "--set-cookie")
            setCookie = value;
        else {
            std::fprintf(stderr, "unknown option %s\n", arg.c_str());
            return 2;
        }
    }
    if (root.empty()) {
        std::fprintf(stderr, "usage: %s --port N --cert F --key F --root DIR\n", argv[0]);
        return 2;
    }

    // Blocked before any thread starts, so only sigwait() below receives them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    try {
        testsupport::TlsTestServer server(options);
        std::mutex logMutex;
        server.onRequestLine([&](const std::string& line) {
            std::lock_guard lock(logMutex);
            std::fprintf(stderr, "%s\n", line.c_str());
        });
        server.serveDirectory(root, setCookie);
        std::printf("listening on %u\n", static_cast<unsigned>(server.port()));
        std::fflush(stdout);
        int signal = 0;
        sigwait(&stopSignals, &signal);
        server.stop();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "vantra-test-server: %s\n", e.what());
        return 1;
    }
    return 0;
}
