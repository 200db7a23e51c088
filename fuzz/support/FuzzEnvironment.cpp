#include "fuzz/support/FuzzEnvironment.h"

#include "platform/core/RunLoop.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

std::string& scratch() {
    static std::string dir;
    return dir;
}

void removeScratch() {
    std::error_code ec;
    if (!scratch().empty()) std::filesystem::remove_all(scratch(), ec);
}

}  // namespace

void FuzzEnvironment::setUp() {
    static bool done = false;
    if (done) return;
    done = true;
    namespace fs = std::filesystem;
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/leafbright-fuzz-XXXXXX";
    if (!::mkdtemp(pattern.data())) {
        std::perror("mkdtemp");
        std::abort();
    }
    scratch() = pattern;
    fs::create_directories(fs::path(pattern) / "home");
    ::setenv("LEAFBRIGHT_HOME", (fs::path(pattern) / "home").c_str(), 1);
    ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
    ::unsetenv("XDG_RUNTIME_DIR");
    std::atexit(removeScratch);
    sys::RunLoop::main().bindToCurrentThread();
}

const std::string& FuzzEnvironment::workDir() {
    setUp();
    return scratch();
}

std::string FuzzEnvironment::writeFile(const std::string& name, std::span<const uint8_t> data) {
    std::string path = workDir() + "/" + name;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data.data()), std::streamsize(data.size()));
    out.close();
    if (!out) {
        std::perror(path.c_str());
        std::abort();
    }
    return path;
}

void FuzzEnvironment::settle() {
    sys::RunLoop::main().drain();
}

void FuzzEnvironment::runQueued() {
    while (sys::RunLoop::main().runOnce()) {
    }
}

void FuzzEnvironment::sendAndShutDown(int fd, std::span<const uint8_t> data) {
    size_t sent = 0;
    while (sent < data.size()) {
        pollfd p{fd, POLLOUT, 0};
        const int r = ::poll(&p, 1, 2000);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) break;
        const ssize_t n = ::send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (n <= 0) break;
        sent += size_t(n);
    }
    ::shutdown(fd, SHUT_WR);
}
