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

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace {

constexpr int kPages = 1000;

}  // namespace

int main(int argc, char** argv) {
    const int runs = bench::startEngineBench(argc, argv, 15);
    namespace fs = std::filesystem;

    const bench::WorkFolder dir("open_cbz");
    if (!dir.made()) return 1;
    const fs::path pages = dir / "pages";
    fs::create_directories(pages);
    for (int i = 0; i < kPages; ++i) {
        std::error_code ec;
        fs::copy_file(bench::samplePage(i), pages / bench::pageName(i), ec);
        if (ec) return bench::fail("cannot copy the sample pages from " + bench::samplePage(i).parent_path().string());
    }
    const std::string cbz = (dir / "book.cbz").string();
    if (!bench::shell("cd '" + pages.string() + "' && zip -q -0 '" + cbz + "' page*.jpg"))
        return bench::fail("could not make the cbz (zip is needed)");
    const std::vector<uint8_t> firstPage = bench::readBytes(pages / bench::pageName(0));
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
        if (!opened || session->getPageNum() != kPages || result != BookReaderEx::kLoadDone)
            return bench::fail("opening or composing failed (open " + std::to_string(int(opened)) + ", pages " +
                               std::to_string(session->getPageNum()) + ", result " + std::to_string(result) + ")");
        session->closeBook();
        ours.push_back(t1 - t0);

        t0 = bench::now();
        bool listed = bench::spawn({"unzip", "-l", cbz}, true);
        gfx::ImageRef decoded = ImageLoader::imageWithAnyData(firstPage);
        t1 = bench::now();
        if (!listed || !decoded) return bench::fail("unzip -l or the decode failed (unzip is needed)");
        theirs.push_back(t1 - t0);
    }
    bench::printRatio("open and compose page 1:", ours, "unzip -l and one decode:", theirs);
    return 0;
}
