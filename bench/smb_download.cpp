// Downloads a 200 MB file from smbd on loopback with SMBDownload (the
// transfer queue's SMB downloader: temporary file, move into the library
// folder) and with smbclient's `get`, the same file each time, as the same
// user, one after the other: over SMB2/3 with the stack's client, and over
// SMB1 with ours from a server limited to it. Beside them, the same from a
// share that requires encryption (SMB 3, both clients encrypting). Both
// write into memory (/dev/shm), where the disk's write-back cannot hold
// either of them up.
//
//   build/bench/smb_download [runs]
//
// Prints the median of each and the ratios, then "ratio: X.XX", the worse of
// the SMB2/3 and SMB1 ones (ours over smbclient's time; below 1 means
// faster); the encrypted share's ratio is shown, not counted.

#include "bench/BenchSupport.h"
#include "bench/DownloadDone.h"
#include "foundation/Settings.h"
#include "platform/core/PlistDictionary.h"
#include "platform/core/PlistValue.h"
#include "platform/core/RunLoop.h"
#include "remote/transfer/SMBDownload.h"
#include "smb/CIFSStackClient.h"
#include "tests/support/net/SmbPeer.h"

#include <algorithm>
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

using Done = bench::DownloadDone;

}  // namespace

int main(int argc, char** argv) {
    const int runs = bench::runsFrom(argc, argv, 5);
    const std::string skip = test::SmbPeer::skipReason();
    if (!skip.empty() || !bench::shell("command -v smbclient")) {
        std::fprintf(stderr, "cannot run: %s\n", skip.empty() ? "smbclient is not installed" : skip.c_str());
        return 1;
    }
    // Both downloads write to memory: the disk's write-back, throttled at
    // random by whatever else the machine writes, would decide the figure.
    const bench::WorkFolder work("lb-bench-smb", true);
    if (!work.made()) return 1;
    fs::create_directories(work / "out");
    bench::useHomeIn(work);
    sys::RunLoop::main().bindToCurrentThread();
    CIFSStackClient::registerWithRemote();

    // The same 200 MB in an SMB2/3 server and in one limited to SMB1.
    test::SmbPeer modern, old;
    for (test::SmbPeer* peer : {&modern, &old}) bench::writeNoiseFile(peer->booksDir() + "/big.cbz", kMegabytes);
    bench::writeNoiseFile(modern.booksDir() + "/../sealed/big.cbz", kMegabytes);
    if (!modern.start("") || !old.start("  server min protocol = NT1\n  server max protocol = NT1\n")) {
        std::fprintf(stderr, "smbd: %s%s\n", modern.error().c_str(), old.error().c_str());
        return 1;
    }
    Settings settings((work / "settings").string());
    settings.setValueForKey("overWriteMode", sys::PlistValue("overwrite"));
    const std::string credentials = std::string(test::SmbPeer::kUser) + "%" + test::SmbPeer::kPassword;

    // Median times of SMBDownload and of smbclient's get from `peer`.
    auto measure = [&](test::SmbPeer& peer, bool smb1, double& ours, double& theirs,
                       const std::string& share = "books") {
        std::vector<double> a, b;
        sys::PlistDictionary site;
        if (smb1) site.set("smblib", sys::PlistValue(int64_t(2)));
        const std::string url = "smb://" + peer.server() + "/" + share + "/big.cbz";
        for (int r = 0; r < runs; ++r) {
            auto done = std::make_shared<Done>();
            auto d = std::make_shared<SMBDownload>();
            d->setDelegate(done);
            d->setSettings(&settings);
            d->setOtherSettings(site);
            const double t0 = bench::now();
            d->downloadFile(url, (work / "out").string(), "big.cbz", test::SmbPeer::kUser, test::SmbPeer::kPassword);
            sys::RunLoop::main().runUntil([&] { return done->result >= 0; }, 600);
            a.push_back(bench::now() - t0);
            if (done->result != 0 || fs::file_size(work / "out" / "big.cbz") != kMegabytes << 20) {
                std::fprintf(stderr, "download failed: %d\n", done->result);
                return false;
            }
            fs::remove(work / "out" / "big.cbz");

            const std::string target = (work / "out" / "theirs.cbz").string();
            std::vector<std::string> args = {"smbclient", "//127.0.0.1/" + share, "-p", std::to_string(peer.port()),
                                             "-U", credentials, "-c", "get big.cbz " + target};
            if (smb1) args.insert(args.end(), {"-m", "NT1", "--option=client min protocol=NT1"});
            if (share == "sealed") args.push_back("--client-protection=encrypt");
            const double t1 = bench::now();
            std::error_code ec;
            if (!bench::spawn(args, true) || fs::file_size(target, ec) != kMegabytes << 20) {
                std::fprintf(stderr, "smbclient failed\n");
                return false;
            }
            b.push_back(bench::now() - t1);
            fs::remove(target);
        }
        ours = bench::median(a);
        theirs = bench::median(b);
        return true;
    };
    double a2 = 0, b2 = 0, a1 = 0, b1 = 0, a3 = 0, b3 = 0;
    if (!measure(modern, false, a2, b2) || !measure(old, true, a1, b1) || !measure(modern, false, a3, b3, "sealed")) {
        return 1;
    }
    modern.stop();
    old.stop();
    std::printf("SMB2/3 SMBDownload:   %.3f s (%.0f MB/s)\n", a2, kMegabytes / a2);
    std::printf("SMB2/3 smbclient get: %.3f s (%.0f MB/s)\n", b2, kMegabytes / b2);
    std::printf("SMB2/3 ratio %.2f\n", a2 / b2);
    std::printf("SMB1 SMBDownload:     %.3f s (%.0f MB/s)\n", a1, kMegabytes / a1);
    std::printf("SMB1 smbclient get:   %.3f s (%.0f MB/s)\n", b1, kMegabytes / b1);
    std::printf("SMB1 ratio %.2f\n", a1 / b1);
    std::printf("SMB3 encrypted SMBDownload:   %.3f s (%.0f MB/s)\n", a3, kMegabytes / a3);
    std::printf("SMB3 encrypted smbclient get: %.3f s (%.0f MB/s)\n", b3, kMegabytes / b3);
    std::printf("SMB3 encrypted ratio %.2f\n", a3 / b3);
    // The headline is the worse of the two.
    std::printf("ratio: %.2f\n", std::max(a2 / b2, a1 / b1));
    return 0;
}
