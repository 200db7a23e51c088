// Downloads a 200 MB file from nginx on loopback with HttpDownload (the
// transfer queue's HTTP downloader: temporary file, side file, move into the
// library folder) and with `curl -o`, the same file each time.
//
//   build/bench/http_download [runs]
//
// Prints the median of each, then "ratio: X.XX" (ours over curl's time;
// below 1 means faster).

#include "bench/BenchSupport.h"
#include "bench/DownloadDone.h"
#include "foundation/Settings.h"
#include "platform/core/RunLoop.h"
#include "remote/transfer/HttpDownload.h"
#include "tests/support/net/NginxServer.h"

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
    const int runs = bench::runsFrom(argc, argv, 3);
    const bench::WorkFolder work("lb-bench-http");
    if (!work.made()) return 1;
    fs::create_directories(work / "www");
    fs::create_directories(work / "out");
    bench::useHomeIn(work);
    sys::RunLoop::main().bindToCurrentThread();

    bench::writeNoiseFile(work / "www" / "big.cbz", kMegabytes);
    test::NginxServer nginx;
    if (!nginx.start((work / "www").string())) {
        std::fprintf(stderr, "nginx: %s\n", nginx.lastError().c_str());
        return 1;
    }
    const std::string url = nginx.url("/big.cbz");
    Settings settings((work / "settings").string());
    settings.setValueForKey("overWriteMode", sys::PlistValue("overwrite"));

    std::vector<double> ours, theirs;
    for (int r = 0; r < runs; ++r) {
        auto done = std::make_shared<Done>();
        auto d = std::make_shared<HttpDownload>();
        d->setDelegate(done);
        d->setSettings_(&settings);
        const double t0 = bench::now();
        d->downloadFile(url, (work / "out").string(), "big.cbz", "", "", "", {});
        sys::RunLoop::main().runUntil([&] { return done->result >= 0; }, 600);
        ours.push_back(bench::now() - t0);
        if (done->result != 0 || fs::file_size(work / "out" / "big.cbz") != kMegabytes << 20) {
            std::fprintf(stderr, "download failed: %d\n", done->result);
            return 1;
        }
        fs::remove(work / "out" / "big.cbz");

        const double t1 = bench::now();
        if (!bench::spawn({"curl", "-s", "-o", (work / "out" / "curl.cbz").string(), url})) {
            std::fprintf(stderr, "curl failed\n");
            return 1;
        }
        theirs.push_back(bench::now() - t1);
        fs::remove(work / "out" / "curl.cbz");
    }
    nginx.stop();
    const double a = bench::median(ours), b = bench::median(theirs);
    std::printf("HttpDownload: %.3f s (%.0f MB/s)\n", a, kMegabytes / a);
    std::printf("curl -o:      %.3f s (%.0f MB/s)\n", b, kMegabytes / b);
    std::printf("ratio: %.2f\n", a / b);
    return 0;
}
