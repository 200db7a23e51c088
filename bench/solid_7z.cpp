// Reads a 200-page solid 7z book in page order with the 7z reader (open,
// then every page as an image), and times it against the 7z tool doing the
// same work: `7z e -so` of the book into memory plus a decode of each
// page's bytes. The book is made here with 7z, in one solid block, of 200
// different pages drawn from the sample pages.
//
// glibc's mmap threshold is fixed at its default for the whole run (see
// main), so that page decodes cost the same on both sides.
//
//   build/bench/solid_7z [runs]
//
// Prints the median of each, then "ratio: X.XX" (ours over the tool's;
// below 1 means faster).

#include "bench/BenchSupport.h"
#include "engine/ImageLoader.h"
#include "engine/PageReader7z.h"
#include "platform/graphics/Canvas.h"
#include "platform/graphics/JpegEncoder.h"

#include <malloc.h>
#include <cstdio>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

namespace {

constexpr int kPages = 200;

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
    // Page images (about 1 MB each) come from mmap at glibc's default
    // threshold. Left dynamic, the threshold moves with whatever was freed
    // last, and the same decodes then cost up to twice as much on one side
    // or the other depending only on the heap's layout; fixed, both sides
    // decode alike.
    mallopt(M_MMAP_THRESHOLD, 128 * 1024);
    const int runs = bench::startEngineBench(argc, argv, 5);
    namespace fs = std::filesystem;

    const bench::WorkFolder dir("solid_7z");
    if (!dir.made()) return 1;
    bench::useHomeIn(dir);
    const fs::path pages = dir / "pages";
    fs::create_directories(pages);
    std::vector<size_t> sizes;
    for (int i = 0; i < kPages; ++i) {
        gfx::ImageRef image = ImageLoader::imageWithAnyData(bench::readBytes(bench::samplePage(i)));
        if (!image)
            return bench::fail("cannot read the sample pages from " + bench::samplePage(i).parent_path().string());
        // Every page its own: the sample with marks of its own, encoded
        // again, so that the archive holds 200 different JPEG files as a
        // scanned book does (LZMA cannot fold them into each other).
        gfx::Canvas canvas(image->width(), image->height());
        canvas.drawImage(*image, gfx::Rect{0, 0, double(image->width()), double(image->height())});
        uint32_t seed = uint32_t(i) * 2654435761u + 7;
        for (int k = 0; k < 24; ++k) {
            seed = seed * 1103515245u + 12345u;
            const double x = double(seed % uint32_t(image->width())), y = double((seed >> 12) % uint32_t(image->height()));
            canvas.fillRect({x, y, 18, 12}, gfx::Rgba{double(seed >> 24) / 255.0, 0.3, 0.6, 1});
        }
        std::vector<uint8_t> bytes = gfx::JpegEncoder::encode(*canvas.image(), 0.85);
        bench::writeBytes(pages / bench::pageName(i), bytes);
        sizes.push_back(bytes.size());
    }
    const std::string book = (dir / "book.cb7").string();
    if (!bench::shell("cd '" + pages.string() + "' && 7z a -t7z -ms=on '" + book + "' page*.jpg"))
        return bench::fail("could not make the book (7z is needed)");
    std::printf("%d pages, %.1f MB packed in one solid block, median of %d runs\n", kPages,
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
        if (!ok) return bench::fail("the reader failed");
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
        if (!ok) return bench::fail("7z e -so or a decode failed");
        theirs.push_back(t1 - t0);
    }
    bench::printRatio("7z reader, every page in order:", ours, "7z e -so and a decode of each:", theirs);
    return 0;
}
