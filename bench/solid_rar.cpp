// Reads a 200-page solid RAR book in page order with the RAR reader and
// times it against `unrar p` printing the same entries. A solid archive
// decodes only in order, so turning to the next page must cost the same
// whatever the page: the times of pages 1, 100 and 200 (read in order) are
// printed for that. The headline compares the whole book read in order
// (the reader's open and every page's bytes) with `unrar p` of every page.
// The book is made here with rar from the sample pages.
//
//   build/bench/solid_rar [runs]
//
// Prints the medians, then "ratio: X.XX" (ours over unrar's; below 1 means faster).

#include "bench/BenchSupport.h"
#include "engine/PageReaderRar.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

constexpr int kPages = 200;

}  // namespace

int main(int argc, char** argv) {
    const int runs = bench::startEngineBench(argc, argv, 5);
    namespace fs = std::filesystem;

    const bench::WorkFolder dir("solid_rar");
    if (!dir.made()) return 1;
    bench::useHomeIn(dir);
    const fs::path pages = dir / "pages";
    fs::create_directories(pages);
    for (int i = 0; i < kPages; ++i) {
        std::vector<uint8_t> bytes = bench::readBytes(bench::samplePage(i));
        if (bytes.empty())
            return bench::fail("cannot read the sample pages from " + bench::samplePage(i).parent_path().string());
        // Noise after the image's end makes every page a file of its own that
        // the solid dictionary cannot take from the pages before it, as a
        // real book's pages are.
        uint32_t x = 2463534242u + uint32_t(i) * 7919u;
        for (int k = 0; k < 48 * 1024; ++k) {
            x ^= x << 13, x ^= x >> 17, x ^= x << 5;
            bytes.push_back(uint8_t(x & 0xFF));
        }
        bench::writeBytes(pages / bench::pageName(i), bytes);
    }
    const std::string book = (dir / "book.cbr").string();
    if (!bench::shell("cd '" + pages.string() + "' && rar a -idq -s '" + book + "' page*.jpg"))
        return bench::fail("could not make the book (rar is needed)");
    std::printf("%d pages, %.1f MB packed, solid, median of %d runs\n", kPages, double(fs::file_size(book)) / 1e6,
                runs);

    std::vector<double> ours, theirs, page1, page100, page200;
    for (int run = 0; run < runs; ++run) {
        double t0 = bench::now();
        auto reader = std::make_shared<PageReaderRar>();
        bool ok = reader->openFile(book, std::nullopt, std::nullopt, false, false) && reader->isSolidArhive() &&
                  reader->getPageNameList().size() == size_t(kPages);
        std::string data;
        for (int i = 0; ok && i < kPages; ++i) {
            const double p0 = bench::now();
            ok = reader->readPage(i, data) == UnrarArchive::Status::Ok && !data.empty();
            const double p1 = bench::now();
            if (i == 0) page1.push_back(p1 - p0);
            if (i == 99) page100.push_back(p1 - p0);
            if (i == kPages - 1) page200.push_back(p1 - p0);
        }
        reader.reset();
        double t1 = bench::now();
        if (!ok) return bench::fail("the reader failed");
        ours.push_back(t1 - t0);

        t0 = bench::now();
        ok = bench::spawn({"unrar", "p", "-inul", book}, true);
        t1 = bench::now();
        if (!ok) return bench::fail("unrar p failed (unrar is needed)");
        theirs.push_back(t1 - t0);
    }
    std::printf("page 1, turning in order:         %8.3f ms\n", bench::median(page1) * 1000);
    std::printf("page 100, turning in order:       %8.3f ms\n", bench::median(page100) * 1000);
    std::printf("page 200, turning in order:       %8.3f ms\n", bench::median(page200) * 1000);
    bench::printRatio("RAR reader, every page in order:", ours, "unrar p of every page:", theirs);
    return 0;
}
