// lb_fake_desktop BUS-ADDRESS LOG: the desktop's notification area and
// launcher, stood in for on a test's own session bus, for the windowed
// program tests. Each notice and launcher update is a line of LOG; "ready"
// comes first once the services are on the bus. Ends on SIGTERM or SIGINT.
#include "tests/support/FakeDesktopServices.h"

#include <csignal>
#include <cstdio>
#include <pthread.h>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: lb_fake_desktop BUS-ADDRESS LOG\n");
        return 2;
    }
    std::FILE* log = std::fopen(argv[2], "a");
    if (!log) return 1;
    // The signals that end it are taken here alone (the service's thread inherits the mask).
    sigset_t ending;
    sigemptyset(&ending);
    sigaddset(&ending, SIGTERM);
    sigaddset(&ending, SIGINT);
    pthread_sigmask(SIG_BLOCK, &ending, nullptr);
    test::FakeDesktopServices services(argv[1]);
    if (!services.ready()) return 1;
    services.setRecorder([log](const std::string& line) {
        std::fprintf(log, "%s\n", line.c_str());
        std::fflush(log);
    });
    std::fprintf(log, "ready\n");
    std::fflush(log);
    int signal = 0;
    sigwait(&ending, &signal);
    std::fclose(log);
    return 0;
}
