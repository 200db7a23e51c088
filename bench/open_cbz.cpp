// Opens a 1,000-page cbz with the reading session and composes its first
// page, and times it against `unzip -l` of the same file (a process that
// reads the whole directory) plus one decode of that page's bytes. The cbz is
// made here with zip from the sample pages, stored, as cbz files usually are.
//
//   build/bench/open_cbz [runs]
//
// Prints the median of each, then "ratio: X.XX" (ours over the other; below
// 1 means faster).

#include "bench/BenchSupport.h"
#include "engine/BookReaderEx.h"
#include "engine/ImageLoader.h"
#include "platform/core/DeviceProfile.h"
#include "platform/core/RunLoop.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

constexpr int kPages = 1000;

std::vector<uint8_t> readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 15;
    namespace fs = std::filesystem;
    sys::RunLoop::main().bindToCurrentThread();
    sys::DeviceProfile::setCurrent(*sys::DeviceProfile::named("desktop"));

    const std::string work = bench::makeWorkFolder("open_cbz");
    if (work.empty()) return 1;
    const fs::path dir(work);
    const fs::path pages = dir / "pages";
    fs::create_directories(pages);
    const fs::path samples = fs::path(LEAFBRIGHT_SOURCE_DIR) / "tests" / "data" / "pages";
    const std::vector<std::string> sampleNames{"01.jpg", "02.jpg", "03.jpg", "04.jpg", "05.jpg", "07.jpg", "08.jpg"};
    for (int i = 0; i < kPages; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "page%04d.jpg", i + 1);
        std::error_code ec;
        fs::copy_file(samples / sampleNames[size_t(i) % sampleNames.size()], pages / name, ec);
        if (ec) {
            std::fprintf(stderr, "cannot copy the sample pages from %s\n", samples.c_str());
            fs::remove_all(dir);
            return 1;
        }
    }
    const std::string cbz = (dir / "book.cbz").string();
    if (!bench::shell("cd '" + pages.string() + "' && zip -q -0 '" + cbz + "' page*.jpg")) {
        std::fprintf(stderr, "could not make the cbz (zip is needed)\n");
        fs::remove_all(dir);
        return 1;
    }
    const std::vector<uint8_t> firstPage = readBytes((pages / "page0001.jpg").string());
    std::printf("%d pages, %.1f MB, median of %d runs\n", kPages, double(fs::file_size(cbz)) / 1e6, runs);

    std::vector<double> ours, theirs;
    for (int i = 0; i < runs; ++i) {
        double t0 = bench::now();
        auto session = std::make_shared<BookReaderEx>();
        bool opened = session->openBookWithName(cbz, {}, std::nullopt, std::nullopt, std::nullopt, false, false);
        PageLoadRequest r{};
        r.operation = PageLoadRequest::kCompose;
        r.minimumImageSize = {400, 600};
        BookReaderEx::setLoadSizeLoadStructWithMode(4, r.targetSize, {400, 600}, 1.0);
        r.targetSizePreload = r.targetSize;
        int result = opened ? session->loadPage(r) : -1;
        double t1 = bench::now();
        if (!opened || session->getPageNum() != kPages || result != BookReaderEx::kLoadDone) {
            std::fprintf(stderr, "opening or composing failed (open %d, pages %d, result %d)\n", int(opened),
                         session->getPageNum(), result);
            fs::remove_all(dir);
            return 1;
        }
        session->closeBook();
        ours.push_back(t1 - t0);

        t0 = bench::now();
        bool listed = bench::spawn({"unzip", "-l", cbz}, true);
        gfx::ImageRef decoded = ImageLoader::imageWithAnyData(firstPage);
        t1 = bench::now();
        if (!listed || !decoded) {
            std::fprintf(stderr, "unzip -l or the decode failed (unzip is needed)\n");
            fs::remove_all(dir);
            return 1;
        }
        theirs.push_back(t1 - t0);
    }
    fs::remove_all(dir);
    const double mo = bench::median(ours), mt = bench::median(theirs);
    std::printf("open and compose page 1: %7.2f ms\n", mo * 1000);
    std::printf("unzip -l and one decode: %7.2f ms\n", mt * 1000);
    std::printf("ratio: %.2f\n", mo / mt);
    return 0;
}
