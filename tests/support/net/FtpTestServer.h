#pragma once

#include "tests/support/net/LoopbackDaemon.h"

#include <cstdint>
#include <map>
#include <string>

namespace test {

// A real FTP server on 127.0.0.1 serving a folder read-only, started by the
// test as a child process with its configuration and logs in a private
// folder, stopped when the object goes away:
//  - vsftpd with anonymous log-on ("anonymous" / "ftp" only), optionally
//    pausing after each log-on or taking few sessions at once;
//  - pyftpdlib with anonymous log-on and one user, greeting and welcoming
//    over several lines, and the misbehaviours of PyOptions: a foreign
//    address in its PASV replies, broken-off downloads and listings, canned
//    answers to commands, anonymous log-on at USER, a pause after log-on,
//    downloads held part-way until the test lets them go on, listings that
//    never come or come a byte at a time, listings of the test's own bytes.
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
        // Above 0: the first listing (LIST or MLSD) sends this many bytes of
        // its text, then ends with cutListingReply instead of 226.
        int cutListingAfter = 0;
        std::string cutListingReply = "426 Connection closed; transfer aborted.";
        // Above 0: the first download sends this many bytes (at most 64 KiB)
        // and ends with cutListingReply.
        int cutDownloadAfter = 0;
        // "anonymous" is logged on at USER (230, no PASS asked).
        bool anonymousAtUser = false;
        // Seconds between a good PASS and its 230 (other sessions go on).
        double loginDelaySeconds = 0;
        // Above 0: more sessions from one address are greeted with 421.
        int maxSessionsPerIp = 0;
        // Commands answered with a fixed reply and not carried out ("EPSV"
        // -> "500 ..."); after a 421 reply the server hangs up.
        std::map<std::string, std::string> cannedReplies;
        // Names travel in Latin-1 (listings and commands) until the client
        // sends OPTS UTF8 ON, as on servers of the older kind.
        bool legacyNames = false;
        // Above 0: every download sends this many bytes of the file, then
        // waits until releaseDownloads lets it go on.
        int64_t holdDownloadsAfter = 0;
        // A file the server keeps its counts in (readStats).
        std::string statsFile;
        // Listings (LIST, MLSD) are answered 150 and then held: nothing
        // comes on the data connection (stallListings), or one byte of the
        // listing every dripListingMs milliseconds (dripListingBytes bytes
        // each time).
        bool stallListings = false;
        int dripListingMs = 0;
        int dripListingBytes = 1;
        // Not empty: listings (LIST, MLSD) send these bytes, whatever they
        // are, instead of the folder's.
        std::string listing;
    };
    struct VsOptions {
        // delay_successful_login: seconds before each 230.
        int loginDelaySeconds = 0;
        // max_per_ip: more sessions from one address are greeted with 421.
        int maxSessionsPerIp = 0;
    };
    // What a pyftpdlib server with a statsFile counted: log-ons, refused
    // log-ons, and the bytes of files it sent (put on the wire by the kernel:
    // bytes still in the send buffer when the client broke a transfer off do
    // not count).
    struct Stats {
        int logOns = 0;
        int refusedLogOns = 0;
        int64_t bytesSent = 0;
    };
    static Stats readStats(const std::string& statsFile);

    FtpTestServer() = default;

    static bool haveVsftpd();
    static bool havePyftpdlib();

    bool startVsftpd(const std::string& root, const VsOptions& options);
    bool startVsftpd(const std::string& root) { return startVsftpd(root, VsOptions()); }
    bool startPyftpdlib(const std::string& root, const PyOptions& options);
    // With holdDownloadsAfter: the first `count` downloads (from the first
    // the server began) go on to their end; later ones are held as ever.
    void releaseDownloads(int count);
    // "ftp://127.0.0.1:PORT" + path.
    std::string url(const std::string& path) const;

private:
    bool launch(const char* const* argv, const std::string& logFile);
};

}  // namespace test
