// Opens a 40 MB cbz of stored pages in place on an FTP server (pyftpdlib on
// loopback, pausing 1 s after each good password, as many servers do),
// shows page 1, then lets the loader fetch the rest of the book. Counts the
// server's log-ons and the bytes of the book it sent (put on the wire: what
// sat in its send buffer when a transfer was broken off does not count).
//
//   build/bench/ftp_stream
//
// Prints the time to page 1 and to the whole book, the log-ons, the
// transfers, then "ratio: X.XX" = bytes sent / book size (1 would be
// perfect: each byte once).

#include "bench/BenchSupport.h"
#include "engine/ImageLoader.h"
#include "engine/ZipArchive.h"
#include "platform/core/RunLoop.h"
#include "remote/stream/FtpStreamRead.h"
#include "tests/support/net/FtpTestServer.h"

#include <minizip/unzip.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
constexpr int kPages = 80;
constexpr size_t kPageBytes = 500'000;

}  // namespace

int main(int argc, char** argv) {
    bench::startEngineBench(argc, argv, 1);
    bench::WorkFolder work("lb-bench-ftp-stream");
    if (!work.made()) return 1;
    bench::useHomeIn(work);
    fs::create_directories(work / "pages");
    fs::create_directories(work / "www");
    if (!test::FtpTestServer::havePyftpdlib()) return bench::fail("python3-pyftpdlib is not installed");

    // Page 1 is a real picture; the others are noise of a page's size.
    fs::copy_file(bench::samplePage(0), work / "pages" / bench::pageName(0));
    std::mt19937 rng(11);
    std::string bytes(kPageBytes, '\0');
    for (int i = 1; i < kPages; ++i) {
        for (auto& c : bytes) c = char(rng());
        std::ofstream(work / "pages" / bench::pageName(i), std::ios::binary) << bytes;
    }
    const fs::path book = work / "www" / "book.cbz";
    if (!bench::shell("cd '" + (work / "pages").string() + "' && zip -q -0 '" + book.string() + "' *.jpg"))
        return bench::fail("zip failed");
    const uint64_t bookSize = fs::file_size(book);

    test::FtpTestServer server;
    test::FtpTestServer::PyOptions options;
    options.loginDelaySeconds = 1;
    options.statsFile = (work / "stats").string();
    if (!server.startPyftpdlib((work / "www").string(), options)) return bench::fail(server.lastError());
    const std::string url = server.url("/book.cbz");

    FtpStreamRead::registerWithEngine();
    RemoteStreamRead::removeCache();
    auto stream = std::dynamic_pointer_cast<FtpStreamRead>(
        RemoteStreamRead::newStreamWithProtocol(RemoteStreamRead::getProtocolWithURL(url)));
    const double t0 = bench::now();
    bool ok = stream && stream->openURL(url);
    std::unique_ptr<ZipArchive> zip = ok ? ZipArchive::openStream(stream) : nullptr;
    ok = zip && zip->goToFirst() == ZipArchive::Step::Ok && unzOpenCurrentFile(zip->handle()) == UNZ_OK;
    std::vector<uint8_t> page;
    std::vector<uint8_t> buf(1 << 16);
    while (ok) {
        const int n = unzReadCurrentFile(zip->handle(), buf.data(), unsigned(buf.size()));
        if (n <= 0) break;
        page.insert(page.end(), buf.begin(), buf.begin() + n);
    }
    gfx::ImageRef picture = ok ? ImageLoader::imageWithAnyData(page) : nullptr;
    const double firstPage = bench::now() - t0;
    if (ok) unzCloseCurrentFile(zip->handle());
    if (!picture) return bench::fail("page 1 could not be read and shown");

    stream->joinLoader();
    const double whole = bench::now() - t0;
    const bool complete = stream->isCacheComplete() && !stream->isError();
    const int transfers = stream->blockRequests();
    zip.reset();
    stream->closeURL();
    stream.reset();
    // The server counts a transfer before it answers its end, which the
    // stream has read by now.
    server.stop();
    const auto stats = test::FtpTestServer::readStats((work / "stats").string());
    RemoteStreamRead::removeCache();
    if (!complete) return bench::fail("the loader did not fetch the whole book");

    std::printf("book: %llu bytes, %d pages (stored)\n", (unsigned long long)bookSize, kPages);
    std::printf("page 1 shown after %.2f s (log-on pause 1 s); whole book after %.2f s\n", firstPage, whole);
    std::printf("log-ons: %d\n", stats.logOns);
    std::printf("transfers (RETR): %d\n", transfers);
    std::printf("bytes sent by the server: %lld (%.3f x the book)\n", (long long)stats.bytesSent,
                double(stats.bytesSent) / double(bookSize));
    std::printf("ratio: %.2f\n", double(stats.bytesSent) / double(bookSize));
    return 0;
}
