#pragma once

#include <functional>
#include <string>
#include <sys/types.h>

namespace test {

// What the loopback test servers (nginx, apache, vsftpd, smbd, ...) share:
// picking a port, running the daemon as a child, waiting until it answers and
// reaping it again. Stateless; each server keeps its own pid.
class ServerProcess {
public:
    enum class Wait { Up, Exited, TimedOut };

    // A port on 127.0.0.1 that was free a moment ago (0 if none); another
    // process may still take it first, so callers retry with a new one.
    static int freePort();
    // True when something accepts TCP connections on 127.0.0.1:port (or
    // another IPv4 loopback address).
    static bool canConnect(int port, const char* address = "127.0.0.1");
    // A socket connected to port on address (the caller closes it), or -1.
    static int connectTo(int port, const char* address = "127.0.0.1");
    // True when process pid, or one of its descendants, holds a listening
    // TCP socket on port: the port is the server's own, not another test's
    // that took it between freePort and the server's start.
    static bool listens(pid_t pid, int port);
    // listens and canConnect: the server at pid answers on port.
    static bool serves(pid_t pid, int port, const char* address = "127.0.0.1");
    // The whole file, or "" when it cannot be read.
    static std::string readFile(const std::string& path);
    // Lets a server running as another user reach the files under path.
    static void openUp(const std::string& path);
    // A fresh per-process, per-object folder under the test work area.
    static std::string workDir(const std::string& kind, const void* owner);

    // Runs argv[0] (an absolute path) with stdin from /dev/null and stdout and
    // stderr appended to logFile (or /dev/null when it is empty). ownSession
    // puts the child in a session of its own, out of reach of group signals.
    // childUmask (when not -1) is the child's umask, for daemons whose
    // sockets and folders other users must reach whatever the test's umask.
    // Returns the child's pid, or -1 when fork fails.
    static pid_t spawn(const char* const* argv, const std::string& logFile, bool ownSession = false,
                       int childUmask = -1);
    // Polls ready() every pollMs until it holds, the child exits (pid becomes
    // -1) or seconds pass (the child is left running).
    static Wait waitUntil(pid_t& pid, const std::function<bool()>& ready, int seconds, int pollMs);
    // spawn() (ownSession as there) and waitUntil() (10 s) in one: on failure error says why, with
    // the output and errorLog files' text, and the child is stopped.
    static bool launch(pid_t& pid, const char* const* argv, const std::string& outputFile,
                       const std::function<bool()>& ready, std::string& error, const std::string& name = "server",
                       const std::string& errorLog = "", int pollMs = 10, bool ownSession = false);
    // SIGTERM, then SIGKILL if it has not gone within seconds; reaps it and
    // sets pid to -1.
    static void stop(pid_t& pid, int seconds = 10);
};

}  // namespace test
