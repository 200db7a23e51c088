// Lists an FTP folder of 10,000 books on vsftpd (loopback, anonymous) with
// FileDownload — log-on, LIST over a passive connection, every line parsed
// into an entry — and with lftp's "cls -l", which also fetches and parses
// the listing (curl --list-only, names only, where lftp is missing).
//
//   build/bench/ftp_listing [runs]
//
// Prints the median of each, then "ratio: X.XX" (ours over the peer's time;
// below 1 means faster).

#include "bench/BenchSupport.h"
#include "platform/core/RunLoop.h"
#include "remote/listing/FileDownload.h"
#include "tests/support/net/FtpTestServer.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;
constexpr int kEntries = 10000;

struct Listed : FileDownloadDelegate {
    void finishListDownload(std::optional<std::vector<std::string>> files,
                            std::optional<std::vector<sys::PlistDictionary>>, const std::optional<std::string>&,
                            const std::optional<std::string>&, const std::optional<std::string>& msg, bool) override {
        count = files ? int(files->size()) : -1;
        message = msg.value_or("");
        done = true;
    }
    void passwordRequested(const std::string&, bool) override { done = true; }
    void cancelListDownload() override { done = true; }
    bool done = false;
    int count = 0;
    std::string message;
};

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    const fs::path work = fs::temp_directory_path() / ("lb-bench-ftp-" + std::to_string(::getpid()));
    fs::create_directories(work / "www" / "big");
    fs::create_directories(work / "home");
    ::setenv("LEAFBRIGHT_HOME", (work / "home").c_str(), 1);
    sys::RunLoop::main().bindToCurrentThread();
    for (int i = 0; i < kEntries; ++i) {
        char name[64];
        std::snprintf(name, sizeof name, "Volume %05d.cbz", i);
        std::ofstream(work / "www" / "big" / name) << i;
    }
    test::FtpTestServer server;
    if (!server.startVsftpd((work / "www").string())) {
        std::fprintf(stderr, "vsftpd: %s\n", server.lastError().c_str());
        return 1;
    }
    const std::string url = server.url("/big/");
    const bool haveLftp = bench::shell("command -v lftp");
    const std::string peerName = haveLftp ? "lftp cls -l" : "curl --list-only";

    std::vector<double> ours, theirs;
    for (int r = 0; r < runs; ++r) {
        auto listed = std::make_shared<Listed>();
        auto fd = std::make_shared<FileDownload>();
        fd->setDelegate(listed);
        const double t0 = bench::now();
        fd->getFileListFromUrl(url, std::nullopt, std::nullopt, std::nullopt, true, nullptr);
        sys::RunLoop::main().runUntil([&] { return listed->done; }, 120);
        ours.push_back(bench::now() - t0);
        if (listed->count != kEntries) {
            std::fprintf(stderr, "listing gave %d entries %s\n", listed->count, listed->message.c_str());
            return 1;
        }

        const double t1 = bench::now();
        const bool ok =
            haveLftp ? bench::spawn({"lftp", "-c", "open -p " + std::to_string(server.port()) +
                                                      " 127.0.0.1; cls -l big/"},
                                    true)
                     : bench::spawn({"curl", "-s", "--list-only", url}, true);
        theirs.push_back(bench::now() - t1);
        if (!ok) {
            std::fprintf(stderr, "%s failed\n", peerName.c_str());
            return 1;
        }
    }
    server.stop();
    std::error_code ec;
    fs::remove_all(work, ec);
    const double a = bench::median(ours), b = bench::median(theirs);
    std::printf("FileDownload (FTP, %d entries): %.3f s\n", kEntries, a);
    std::printf("%s: %.3f s\n", peerName.c_str(), b);
    std::printf("ratio: %.2f\n", a / b);
    return 0;
}
