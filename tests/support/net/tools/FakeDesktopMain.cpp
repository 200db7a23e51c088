// lb_fake_desktop BUS-ADDRESS LOG [COLOR-SCHEME [CONTRAST]]: the desktop's
// notification area and launcher, stood in for on a test's own session bus,
// for the windowed program tests. Each notice and launcher update is a line
// of LOG; "ready" comes first once the services are on the bus. With a
// colour scheme (1 prefers dark, 2 light) the desktop portal is there too,
// giving it, and SIGUSR1 switches it between dark and light ("color-scheme
// N" in LOG); with a contrast (1 higher, 0 none asked) the portal gives
// that as well, and SIGUSR2 switches it ("contrast N" in LOG). Ends on
// SIGTERM or SIGINT.
#include "tests/support/FakeDesktopServices.h"
#include "tests/support/FakePortal.h"

#include <csignal>
#include <cstdlib>
#include <memory>
#include <cstdio>
#include <pthread.h>

int main(int argc, char** argv) {
    if (argc < 3 || argc > 5) {
        std::fprintf(stderr, "usage: lb_fake_desktop BUS-ADDRESS LOG [COLOR-SCHEME [CONTRAST]]\n");
        return 2;
    }
    std::FILE* log = std::fopen(argv[2], "a");
    if (!log) return 1;
    // The signals that end it are taken here alone (the service's thread inherits the mask).
    sigset_t ending;
    sigemptyset(&ending);
    sigaddset(&ending, SIGTERM);
    sigaddset(&ending, SIGINT);
    sigaddset(&ending, SIGUSR1);
    sigaddset(&ending, SIGUSR2);
    pthread_sigmask(SIG_BLOCK, &ending, nullptr);
    test::FakeDesktopServices services(argv[1]);
    if (!services.ready()) return 1;
    services.setRecorder([log](const std::string& line) {
        std::fprintf(log, "%s\n", line.c_str());
        std::fflush(log);
    });
    std::unique_ptr<test::FakePortal> portal;
    uint32_t scheme = argc >= 4 ? uint32_t(std::strtoul(argv[3], nullptr, 10)) : 0;
    uint32_t contrast = argc == 5 ? uint32_t(std::strtoul(argv[4], nullptr, 10)) : 0;
    if (argc >= 4) {
        portal = std::make_unique<test::FakePortal>(argv[1]);
        if (!portal->owned()) return 1;
        portal->setColorScheme(scheme);
        if (argc == 5) portal->setContrast(contrast);
    }
    std::fprintf(log, "ready\n");
    std::fflush(log);
    int signal = 0;
    while (sigwait(&ending, &signal) == 0 && (signal == SIGUSR1 || signal == SIGUSR2)) {
        if (!portal) continue;
        if (signal == SIGUSR1) {
            scheme = scheme == 1 ? 2 : 1;
            portal->setColorScheme(scheme);
            std::fprintf(log, "color-scheme %u\n", scheme);
        } else {
            contrast = contrast == 1 ? 0 : 1;
            portal->setContrast(contrast);
            std::fprintf(log, "contrast %u\n", contrast);
        }
        std::fflush(log);
    }
    std::fclose(log);
    return 0;
}
