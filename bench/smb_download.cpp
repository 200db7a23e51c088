// Downloads a 200 MB file from smbd on loopback with SMBDownload (the
// transfer queue's SMB downloader: the stack's SMB2/3 client, temporary
// file, move into the library folder) and with smbclient's `get`, the same
// file each time, as the same user.
//
//   build/bench/smb_download [runs]
//
// Prints the median of each, then "ratio: X.XX" (ours over smbclient's
// time; below 1 means faster).

#include "bench/BenchSupport.h"
#include "foundation/Settings.h"
#include "platform/core/PlistValue.h"
#include "platform/core/RunLoop.h"
#include "remote/transfer/SMBDownload.h"
#include "smb/CIFSStackClient.h"
#include "tests/support/net/SmbPeer.h"

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
constexpr size_t kMegabytes = 200;

struct Done : HttpDownloadDelegate {
    void onFinishConnection(int r) override { result = r; }
    int result = -1;
};

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    const std::string skip = test::SmbPeer::skipReason();
    if (!skip.empty() || !bench::shell("command -v smbclient")) {
        std::fprintf(stderr, "cannot run: %s\n", skip.empty() ? "smbclient is not installed" : skip.c_str());
        return 1;
    }
    const fs::path work = fs::temp_directory_path() / ("lb-bench-smb-" + std::to_string(::getpid()));
    fs::create_directories(work / "out");
    fs::create_directories(work / "home");
    ::setenv("LEAFBRIGHT_HOME", (work / "home").c_str(), 1);
    sys::RunLoop::main().bindToCurrentThread();
    CIFSStackClient::registerWithRemote();

    test::SmbPeer peer;
    {
        std::ofstream out(peer.booksDir() + "/big.cbz", std::ios::binary);
        std::vector<char> block(1 << 20);
        for (size_t i = 0; i < block.size(); ++i) block[i] = char((i * 2654435761u) >> 13);
        for (size_t m = 0; m < kMegabytes; ++m) {
            block[0] = char(m);
            out.write(block.data(), std::streamsize(block.size()));
        }
    }
    if (!peer.start("")) {
        std::fprintf(stderr, "smbd: %s\n", peer.error().c_str());
        return 1;
    }
    const std::string url = "smb://" + peer.server() + "/books/big.cbz";
    Settings settings((work / "settings").string());
    settings.setValueForKey("overWriteMode", sys::PlistValue("overwrite"));
    const std::string credentials = std::string(test::SmbPeer::kUser) + "%" + test::SmbPeer::kPassword;

    std::vector<double> ours, theirs;
    for (int r = 0; r < runs; ++r) {
        auto done = std::make_shared<Done>();
        auto d = std::make_shared<SMBDownload>();
        d->setDelegate(done);
        d->setSettings(&settings);
        const double t0 = bench::now();
        d->downloadFile(url, (work / "out").string(), "big.cbz", test::SmbPeer::kUser, test::SmbPeer::kPassword);
        sys::RunLoop::main().runUntil([&] { return done->result >= 0; }, 600);
        ours.push_back(bench::now() - t0);
        if (done->result != 0 || fs::file_size(work / "out" / "big.cbz") != kMegabytes << 20) {
            std::fprintf(stderr, "download failed: %d\n", done->result);
            return 1;
        }
        fs::remove(work / "out" / "big.cbz");

        const std::string target = (work / "out" / "theirs.cbz").string();
        const double t1 = bench::now();
        if (!bench::spawn({"smbclient", "//127.0.0.1/books", "-p", std::to_string(peer.port()), "-U", credentials,
                           "-c", "get big.cbz " + target},
                          true) ||
            fs::file_size(target) != kMegabytes << 20) {
            std::fprintf(stderr, "smbclient failed\n");
            return 1;
        }
        theirs.push_back(bench::now() - t1);
        fs::remove(target);
    }
    peer.stop();
    std::error_code ec;
    fs::remove_all(work, ec);
    const double a = bench::median(ours), b = bench::median(theirs);
    std::printf("SMBDownload:   %.3f s (%.0f MB/s)\n", a, kMegabytes / a);
    std::printf("smbclient get: %.3f s (%.0f MB/s)\n", b, kMegabytes / b);
    std::printf("ratio: %.2f\n", a / b);
    return 0;
}
