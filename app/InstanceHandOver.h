#pragma once

#include "platform/core/Thread.h"

#include <functional>
#include <memory>
#include <string>

// One running program per home folder: the program that runs listens on a
// Unix-domain socket in its home, and a second `leafbright FILE` on the same
// home hands its file (as a URL) to it instead of starting a second window.
// Each home is its own instance, so test runs in homes of their own never
// reach each other.
//
// A message is one URL ended by a newline, at most kMaxMessage bytes; the
// answer is "ok\n" once the running program took the URL on its main run
// loop, "no\n" when it could not.
class InstanceHandOver {
public:
    static constexpr size_t kMaxMessage = 32 * 1024;
    static constexpr const char* kSocketName = "leafbright.sock";

    // The socket's path in `home`; empty when it does not fit a Unix socket
    // address (a home that deep has no hand-over).
    static std::string socketPath(const std::string& home);

    enum class Result {
        Delivered,         // the running program took the URL
        NoRunningProgram,  // nobody listens (no socket, a stale one, or no hand-over for this home)
        Failed,            // a program listens but refused or did not answer
    };
    // Client side: hands `url` to the program running on `home`, waiting at
    // most `timeout` seconds of real time for its answer.
    static Result handOver(const std::string& home, const std::string& url, std::string* error,
                           double timeout = 20.0);

    // Server side: `onURL` runs on the main run loop for each URL received
    // and says whether the program took it.
    explicit InstanceHandOver(std::function<bool(const std::string&)> onURL);
    ~InstanceHandOver();
    InstanceHandOver(const InstanceHandOver&) = delete;
    InstanceHandOver& operator=(const InstanceHandOver&) = delete;

    // Listens in `home`. A socket left by a run that crashed, or a link, is
    // replaced; a living program's socket, or anything else at that path, is
    // left alone and the call fails with the reason.
    bool listen(const std::string& home, std::string* error);
    // Whether the last listen failed on something in the socket's place
    // that is no socket of this user's (worth telling the user about).
    bool placeTaken() const { return placeTaken_; }
    // Stops listening and removes the socket (idempotent).
    void stop();
    bool listening() const { return listenFd_ >= 0; }
    const std::string& path() const { return path_; }

private:
    void serve(const std::atomic<bool>& stop);
    void answer(int fd);

    struct Shared;
    std::shared_ptr<Shared> shared_;
    int listenFd_ = -1;
    int wakeFds_[2] = {-1, -1};
    std::string path_;
    unsigned long long socketIno_ = 0, socketDev_ = 0;
    bool placeTaken_ = false;
    sys::Thread thread_;
};
