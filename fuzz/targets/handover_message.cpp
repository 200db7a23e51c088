// The running program's hand-over socket: any process of the user can
// connect to it and send anything. The input goes out on a connection as
// such a process would send it (then the writing side is closed); what the
// reader takes is handed to the address reading the running program applies
// to a handed-over URL.
#include "app/InstanceHandOver.h"
#include "app/NestlarkAppDelegate.h"
#include "cloud/GoogleDriveAPI.h"
#include "fuzz/support/FuzzEnvironment.h"

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

InstanceHandOver& listener() {
    static std::unique_ptr<InstanceHandOver> server = [] {
        auto s = std::make_unique<InstanceHandOver>([](const std::string& url) {
            if (GoogleDriveAPI::checkGoogleRedirect(url)) return true;
            auto path = NestlarkAppDelegate::localPathOfFileURL(url);
            return path && !path->empty();
        });
        const std::string home = FuzzEnvironment::workDir() + "/handover";
        std::filesystem::create_directories(home);
        std::string why;
        if (!s->listen(home, &why)) {
            std::fprintf(stderr, "handover_message: %s\n", why.c_str());
            std::abort();
        }
        return s;
    }();
    return *server;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzEnvironment::setUp();
    InstanceHandOver& server = listener();
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", server.path().c_str());
    if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) std::abort();
    // The reader takes at most its own bound; what it leaves unread is
    // dropped with the connection.
    FuzzEnvironment::sendAndShutDown(fd, {data, size});
    // The answer comes from the main loop once it took the address, or at
    // once from the reader when it refused.
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    char answer[16];
    for (;;) {
        FuzzEnvironment::settle();
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 5) > 0) {
            const ssize_t n = ::recv(fd, answer, sizeof answer, 0);
            if (n <= 0) break;
        }
        if (std::chrono::steady_clock::now() > until) std::abort();  // the reader hangs
    }
    ::close(fd);
    return 0;
}
