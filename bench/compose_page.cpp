// Composes a 6-megapixel page to a 2.25-megapixel view the way the reader
// shows it (a reading session opened on the page, its view loaded: the file
// read, decoded no larger than the view needs, scaled once) and times it
// against vipsthumbnail making the same size from the same file. The pages
// are made here (ImageMagick, cwebp) in a temporary folder.
//
//   build/bench/compose_page [runs]
//
// Prints the median of each, per format, then "ratio: X.XX" (our total of
// medians over vipsthumbnail's; below 1 means faster).

#include "bench/BenchSupport.h"
#include "engine/BookReaderEx.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
constexpr double kBudget = 2250000.0;
constexpr int kWidth = 2000, kHeight = 3000;

// The page shrunk by one factor so that it holds at most the budget.
void loadSize(int w, int h, int& tw, int& th) {
    float f = 1.0f / std::sqrt(float(double(w) * h / kBudget));
    tw = int(f * w);
    th = int(f * h);
}

// Opens the one-page book `path` and loads its view fitted into tw x th.
gfx::ImageRef compose(const std::string& path, int tw, int th) {
    auto session = std::make_shared<BookReaderEx>();
    if (!session->openBookWithName(path, {}, std::nullopt, std::nullopt, std::nullopt, false, false)) return nullptr;
    PageLoadRequest r{};
    r.operation = PageLoadRequest::kCompose;
    r.targetSize = ImageSizeLoad{ImageSizeLoad::kModeFitPage, double(tw), double(th), 1.0};
    r.targetSizePreload = r.targetSize;
    if (session->loadPage(r) != BookReaderEx::kLoadDone) return nullptr;
    auto page = session->loadedPage();
    return page ? page->image : nullptr;
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = bench::startEngineBench(argc, argv, 7);
    bench::WorkFolder work("compose_page");
    if (!work.made()) return 1;
    bench::useHomeIn(work);
    const fs::path src = work / "src.png";
    const std::string size = std::to_string(kWidth) + "x" + std::to_string(kHeight);
    std::printf("making a %s page in %s\n", size.c_str(), work.path().c_str());
    for (const char* f : {"png", "jpg", "webp"}) fs::create_directories(work / f);
    const std::string png = (work / "png" / "page.png").string(), jpg = (work / "jpg" / "page.jpg").string();
    const std::string webp = (work / "webp" / "page.webp").string();
    if (!bench::shell("convert-im6.q16 -size " + size + " -seed 7 plasma:fractal -blur 0x1 " + png) ||
        !bench::shell("convert-im6.q16 " + png + " -quality 90 " + jpg) ||
        !bench::shell("cwebp -q 90 " + png + " -o " + webp))
        return bench::fail("could not make the pages (ImageMagick and cwebp are needed)");
    int tw, th;
    loadSize(kWidth, kHeight, tw, th);
    std::printf("budget %.0f pixels: %dx%d -> %dx%d, median of %d runs\n", kBudget, kWidth, kHeight, tw, th, runs);
    const std::string vipsSize = std::to_string(tw) + "x" + std::to_string(th);
    const std::string vipsOut = (work / "thumb.v").string();

    double oursTotal = 0, vipsTotal = 0;
    for (const auto& [name, path] : {std::pair<std::string, std::string>{"JPEG", jpg}, {"WebP", webp}, {"PNG", png}}) {
        std::vector<double> ours, vips;
        for (int i = 0; i < runs; ++i) {
            double t0 = bench::now();
            gfx::ImageRef out = compose(path, tw, th);
            double t1 = bench::now();
            if (!out || std::abs(out->width() - tw) > 1 || std::abs(out->height() - th) > 1)
                return bench::fail(name + ": composing failed");
            ours.push_back(t1 - t0);
            t0 = bench::now();
            const bool ok = bench::spawn({"vipsthumbnail", path, "-s", vipsSize, "-o", vipsOut});
            t1 = bench::now();
            if (!ok) return bench::fail("vipsthumbnail failed (libvips-tools is needed)");
            vips.push_back(t1 - t0);
        }
        const double mo = bench::median(ours), mv = bench::median(vips);
        oursTotal += mo;
        vipsTotal += mv;
        std::printf("%-5s ours %7.1f ms   vipsthumbnail %7.1f ms   ratio %.2f\n", name.c_str(), mo * 1000, mv * 1000,
                    mo / mv);
    }
    std::printf("ratio: %.2f\n", oursTotal / vipsTotal);
    return 0;
}
