// Opens a 200 MB cbz on a web server in place and reads its first page,
// through the block cache and HTTPURLStreamRead, from our fault server with
// 50 ms added to every answer (a distant server). Counts the round trips and
// the bytes fetched until the page is read, against what a reader truly
// needs: the zip directory and the page.
//
//   build/bench/remote_open
//
// Prints the counts, then "ratio: X.XX" (bytes fetched over directory +
// page; 1 would be perfect).

#include "bench/BenchSupport.h"
#include "engine/ZipArchive.h"
#include "platform/core/RunLoop.h"
#include "remote/stream/HTTPURLStreamRead.h"
#include "tests/support/net/FaultHttpServer.h"

#include <minizip/unzip.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;
constexpr int kPages = 400;
constexpr size_t kPageBytes = 500'000;

uint64_t le(const std::string& b, size_t at, int bytes) {
    uint64_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = v << 8 | uint8_t(b[at + size_t(i)]);
    return v;
}

}  // namespace

int main() {
    const fs::path work = fs::temp_directory_path() / ("lb-bench-open-" + std::to_string(::getpid()));
    fs::create_directories(work / "pages");
    fs::create_directories(work / "www");
    fs::create_directories(work / "home");
    ::setenv("LEAFBRIGHT_HOME", (work / "home").c_str(), 1);
    sys::RunLoop::main().bindToCurrentThread();

    std::mt19937 rng(7);
    std::string bytes(kPageBytes, '\0');
    for (int i = 0; i < kPages; ++i) {
        for (auto& c : bytes) c = char(rng());
        char name[32];
        std::snprintf(name, sizeof name, "%04d.jpg", i + 1);
        std::ofstream(work / "pages" / name, std::ios::binary) << bytes;
    }
    const fs::path book = work / "www" / "book.cbz";
    if (!bench::shell("cd '" + (work / "pages").string() + "' && zip -q -0 '" + book.string() + "' *.jpg")) {
        std::fprintf(stderr, "zip failed\n");
        return 1;
    }
    fs::remove_all(work / "pages");

    // What a reader needs: the directory (with its end record) and page 1.
    uint64_t directory = 0, page = 0;
    {
        std::ifstream in(book, std::ios::binary);
        in.seekg(-65536, std::ios::end);
        std::string tail((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const size_t eocd = tail.rfind("PK\x05\x06");
        directory = le(tail, eocd + 12, 4) + 22;
        in.clear();
        in.seekg(0);
        std::string head(64, '\0');
        in.read(head.data(), 64);
        page = 30 + le(head, 26, 2) + le(head, 28, 2) + le(head, 18, 4);
    }

    test::FaultHttpServer server((work / "www").string());
    if (!server.start()) return 1;
    const std::string url = server.url("/book.cbz?delay_ms=50");
    HTTPURLStreamRead::registerWithEngine();
    RemoteStreamRead::removeCache();
    auto stream = RemoteStreamRead::newStreamWithProtocol(RemoteStreamRead::getProtocolWithURL(url));

    const double t0 = bench::now();
    bool ok = stream && stream->openURL(url);
    std::unique_ptr<ZipArchive> zip = ok ? ZipArchive::openStream(stream) : nullptr;
    ok = zip && zip->goToFirst() == ZipArchive::Step::Ok && unzOpenCurrentFile(zip->handle()) == UNZ_OK;
    uint64_t read = 0;
    std::vector<char> buf(1 << 16);
    while (ok) {
        int n = unzReadCurrentFile(zip->handle(), buf.data(), unsigned(buf.size()));
        if (n <= 0) break;
        read += uint64_t(n);
    }
    const double elapsed = bench::now() - t0;
    // What it took to show the page: the answers complete by now (the loader
    // goes on with the rest of the book in the background). The log line of
    // an answer follows its last byte by a moment.
    usleep(10000);
    const auto requests = server.requests();
    if (ok) unzCloseCurrentFile(zip->handle());
    zip.reset();
    stream->closeURL();
    server.waitForAnswered(5);
    if (!ok || read != kPageBytes) {
        std::fprintf(stderr, "reading the first page failed\n");
        return 1;
    }
    uint64_t fetched = 0;
    for (const auto& r : requests) fetched += r.bodyBytes;
    server.stop();
    RemoteStreamRead::removeCache();
    std::error_code ec;
    fs::remove_all(work, ec);

    std::printf("first page in %.3f s\n", elapsed);
    size_t answered = 0;
    for (const auto& r : requests) answered += r.status != 0;
    std::printf("round trips: %zu (probe included)\n", requests.size());
    // A request still unanswered is the loader's next block, past the page.
    std::printf("answered by then: %zu\n", answered);
    std::printf("bytes fetched: %llu; directory + page: %llu\n", (unsigned long long)fetched,
                (unsigned long long)(directory + page));
    std::printf("ratio: %.2f\n", double(fetched) / double(directory + page));
    return 0;
}
