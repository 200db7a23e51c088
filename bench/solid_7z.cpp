// Reads a 200-page solid 7z book in page order with the 7z reader (open,
// then every page as an image), and times it against the 7z tool doing the
// same work: `7z e -so` of the book into memory plus a decode of each
// page's bytes. The book is made here with 7z from the sample pages, in one
// solid block.
//
//   build/bench/solid_7z [runs]
//
// Prints the median of each, then "ratio: X.XX" (ours over the tool's;
// below 1 means faster).

#include "bench/BenchSupport.h"
#include "engine/ImageLoader.h"
#include "engine/PageReader7z.h"
#include "platform/core/DeviceProfile.h"
#include "platform/core/RunLoop.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <span>
#include <string>
#include <vector>

namespace {

constexpr int kPages = 200;

std::vector<uint8_t> readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The whole standard output of `7z e -so book`.
bool extractAll(const std::string& book, std::vector<uint8_t>& out) {
    out.clear();
    std::FILE* p = ::popen(("7z e -so -bd '" + book + "' 2>/dev/null").c_str(), "r");
    if (!p) return false;
    uint8_t buffer[1 << 16];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, p)) > 0) out.insert(out.end(), buffer, buffer + n);
    return ::pclose(p) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    namespace fs = std::filesystem;
    sys::RunLoop::main().bindToCurrentThread();
    sys::DeviceProfile::setCurrent(*sys::DeviceProfile::named("desktop"));

    char tmpl[] = "/tmp/solid_7z.XXXXXX";
    if (!mkdtemp(tmpl)) {
        std::perror("mkdtemp");
        return 1;
    }
    const fs::path dir(tmpl);
    ::setenv("LEAFBRIGHT_HOME", (dir / "home").c_str(), 1);
    const fs::path pages = dir / "pages";
    fs::create_directories(pages);
    const fs::path samples = fs::path(LEAFBRIGHT_SOURCE_DIR) / "tests" / "data" / "pages";
    const std::vector<std::string> sampleNames{"01.jpg", "02.jpg", "03.jpg", "04.jpg", "05.jpg", "07.jpg", "08.jpg"};
    std::vector<size_t> sizes;
    for (int i = 0; i < kPages; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "page%04d.jpg", i + 1);
        std::vector<uint8_t> bytes = readBytes((samples / sampleNames[size_t(i) % sampleNames.size()]).string());
        if (bytes.empty()) {
            std::fprintf(stderr, "cannot read the sample pages from %s\n", samples.c_str());
            fs::remove_all(dir);
            return 1;
        }
        // A few bytes after the image's end make every page a file of its own.
        for (int k = 0; k < 64; ++k) bytes.push_back(uint8_t((i * 131 + k * 17) & 0xFF));
        std::ofstream(pages / name, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                            std::streamsize(bytes.size()));
        sizes.push_back(bytes.size());
    }
    const std::string book = (dir / "book.cb7").string();
    if (!bench::shell("cd '" + pages.string() + "' && 7z a -t7z -ms=on '" + book + "' page*.jpg")) {
        std::fprintf(stderr, "could not make the book (7z is needed)\n");
        fs::remove_all(dir);
        return 1;
    }
    std::printf("%d pages, %.1f MB packed, one solid block, median of %d runs\n", kPages,
                double(fs::file_size(book)) / 1e6, runs);

    std::vector<double> ours, theirs;
    for (int run = 0; run < runs; ++run) {
        double t0 = bench::now();
        auto reader = std::make_shared<PageReader7z>();
        bool ok = reader->openFile(book, std::nullopt, std::nullopt, false, false) &&
                  reader->getPageNameList().size() == size_t(kPages);
        for (int i = 0; ok && i < kPages; ++i) {
            int result = -1;
            ok = reader->newLoadAndCreateImage(i, result) && result == PageReader::kResultImage;
        }
        reader.reset();
        double t1 = bench::now();
        if (!ok) {
            std::fprintf(stderr, "the reader failed\n");
            fs::remove_all(dir);
            return 1;
        }
        ours.push_back(t1 - t0);

        t0 = bench::now();
        std::vector<uint8_t> all;
        ok = extractAll(book, all);
        size_t at = 0;
        for (int i = 0; ok && i < kPages; ++i) {
            if (at + sizes[size_t(i)] > all.size()) {
                ok = false;
                break;
            }
            ok = bool(ImageLoader::imageWithAnyData(std::span<const uint8_t>(all.data() + at, sizes[size_t(i)])));
            at += sizes[size_t(i)];
        }
        t1 = bench::now();
        if (!ok) {
            std::fprintf(stderr, "7z e -so or a decode failed\n");
            fs::remove_all(dir);
            return 1;
        }
        theirs.push_back(t1 - t0);
    }
    fs::remove_all(dir);
    const double mo = bench::median(ours), mt = bench::median(theirs);
    std::printf("7z reader, every page in order:   %8.2f ms\n", mo * 1000);
    std::printf("7z e -so and a decode of each:    %8.2f ms\n", mt * 1000);
    std::printf("ratio: %.2f\n", mo / mt);
    return 0;
}
