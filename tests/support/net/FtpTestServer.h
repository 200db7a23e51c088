#pragma once

#include "tests/support/net/LoopbackDaemon.h"

#include <cstdint>
#include <string>

namespace test {

// A real FTP server on 127.0.0.1 serving a folder read-only, started by the
// test as a child process with its configuration and logs in a private
// folder, stopped when the object goes away:
//  - vsftpd with anonymous log-on ("anonymous" / "ftp" only);
//  - pyftpdlib with anonymous log-on and one user, greeting and welcoming
//    over several lines, optionally naming a foreign address in its PASV
//    replies.
class FtpTestServer : public LoopbackDaemon {
public:
    struct PyOptions {
        std::string user = "reader";
        std::string password = "secret";
        // Longer than one reply line: sent as a multi-line 230.
        std::string loginMessage;
        // A foreign address for the PASV replies ("" for the real one).
        std::string masqueradeAddress;
        // Above 0: the first RETR sends this many bytes, then the server
        // closes both connections without a final reply.
        int64_t dropFirstDownloadAfter = 0;
        // How many downloads, from the first, break off that way.
        int droppedDownloads = 1;
    };

    FtpTestServer() = default;

    static bool haveVsftpd();
    static bool havePyftpdlib();

    bool startVsftpd(const std::string& root);
    bool startPyftpdlib(const std::string& root, const PyOptions& options);
    // "ftp://127.0.0.1:PORT" + path.
    std::string url(const std::string& path) const;

private:
    bool launch(const char* const* argv, const std::string& logFile);
};

}  // namespace test
