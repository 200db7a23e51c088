#include "fuzz/support/ServingPeer.h"

#include <cstdio>
#include <cstdlib>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

ServingPeer::ServingPeer(const char* name, int backlog, int acceptMs, int quietMs)
    : listener_(backlog), acceptMs_(acceptMs), quietMs_(quietMs) {
    if (listener_.port() == 0 || listener_.wakeFd() < 0) {
        std::perror(name);
        std::abort();
    }
}

void ServingPeer::start(Answer answer) {
    answer_ = std::move(answer);
    listener_.rearm();
    thread_ = std::thread([this] { serve(); });
}

void ServingPeer::stop() {
    listener_.wake();
    if (thread_.joinable()) thread_.join();
}

void ServingPeer::serve() {
    for (;;) {
        const int fd = listener_.accept(acceptMs_);
        if (fd < 0) return;
        answer_(fd);
        // The client's close ends the connection; a client that keeps it is
        // not waited for.
        pollfd c{fd, POLLIN, 0};
        char sink[4096];
        while (::poll(&c, 1, quietMs_) > 0 && ::recv(fd, sink, sizeof sink, 0) > 0) {
        }
        ::close(fd);
    }
}
