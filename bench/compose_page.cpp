// Decodes and scales a 6-megapixel page to a 2.25-megapixel budget, the
// way the reading session composes a page, and times it against
// vipsthumbnail making the same size from the same file. The input pages
// are made here (ImageMagick, cwebp) in a temporary folder.
//
//   build/bench/compose_page [runs]
//
// Prints the median of each, per format, then "ratio: X.XX" (our total of
// medians over vipsthumbnail's; below 1 means faster).

#include "bench/BenchSupport.h"
#include "engine/ImageCommon.h"
#include "engine/ImageLoader.h"
#include "platform/graphics/ImageDecoder.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

constexpr double kBudget = 2250000.0;
constexpr int kWidth = 2000, kHeight = 3000;

// The load size of the reading session: the page shrunk by one factor so
// that it holds at most the budget.
void loadSize(int w, int h, int& tw, int& th) {
    float f = 1.0f / std::sqrt(float(double(w) * h / kBudget));
    tw = int(f * w);
    th = int(f * h);
}

// Read, decode (reduced where the decoder can), scale to the load size.
gfx::ImageRef compose(const std::string& path) {
    std::vector<uint8_t> bytes;
    if (!gfx::ImageDecoder::readFile(path, bytes)) return nullptr;
    gfx::ImageInfo info;
    gfx::ImageRef page;
    int tw = 0, th = 0;
    if (gfx::ImageDecoder::probe(bytes, info)) {
        loadSize(info.width, info.height, tw, th);
        page = gfx::ImageDecoder::decode(bytes, {tw, th});
    } else {
        page = ImageLoader::imageWithAnyData(bytes);
        if (page) loadSize(page->width(), page->height(), tw, th);
    }
    if (!page) return nullptr;
    if (page->width() == tw && page->height() == th) return page;
    return ImageCommon::newScaledImage(page, gfx::Size{double(tw), double(th)});
}

}  // namespace

int main(int argc, char** argv) {
    int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
    namespace fs = std::filesystem;
    const std::string work = bench::makeWorkFolder("compose_page");
    if (work.empty()) return 1;
    fs::path dir(work);
    std::string png = (dir / "page.png").string(), jpg = (dir / "page.jpg").string();
    std::string webp = (dir / "page.webp").string();
    std::string size = std::to_string(kWidth) + "x" + std::to_string(kHeight);
    std::printf("making a %s page in %s\n", size.c_str(), work.c_str());
    if (!bench::shell("convert-im6.q16 -size " + size + " -seed 7 plasma:fractal -blur 0x1 " + png) ||
        !bench::shell("convert-im6.q16 " + png + " -quality 90 " + jpg) ||
        !bench::shell("cwebp -q 90 " + png + " -o " + webp)) {
        std::fprintf(stderr, "could not make the pages (ImageMagick and cwebp are needed)\n");
        fs::remove_all(dir);
        return 1;
    }
    int tw, th;
    loadSize(kWidth, kHeight, tw, th);
    std::printf("budget %.0f pixels: %dx%d -> %dx%d, median of %d runs\n", kBudget, kWidth, kHeight, tw,
                th, runs);
    std::string vipsSize = std::to_string(tw) + "x" + std::to_string(th);
    std::string vipsOut = (dir / "thumb.v").string();

    double oursTotal = 0, vipsTotal = 0;
    for (const auto& [name, path] : {std::pair<std::string, std::string>{"JPEG", jpg}, {"WebP", webp}, {"PNG", png}}) {
        std::vector<double> ours, vips;
        for (int i = 0; i < runs; ++i) {
            double t0 = bench::now();
            gfx::ImageRef out = compose(path);
            double t1 = bench::now();
            if (!out || out->width() != tw || out->height() != th) {
                std::fprintf(stderr, "%s: composing failed\n", name.c_str());
                fs::remove_all(dir);
                return 1;
            }
            ours.push_back(t1 - t0);
            t0 = bench::now();
            bool ok = bench::spawn({"vipsthumbnail", path, "-s", vipsSize, "-o", vipsOut});
            t1 = bench::now();
            if (!ok) {
                std::fprintf(stderr, "vipsthumbnail failed (libvips-tools is needed)\n");
                fs::remove_all(dir);
                return 1;
            }
            vips.push_back(t1 - t0);
        }
        double mo = bench::median(ours), mv = bench::median(vips);
        oursTotal += mo;
        vipsTotal += mv;
        std::printf("%-5s ours %7.1f ms   vipsthumbnail %7.1f ms   ratio %.2f\n", name.c_str(), mo * 1000,
                    mv * 1000, mo / mv);
    }
    fs::remove_all(dir);
    std::printf("ratio: %.2f\n", oursTotal / vipsTotal);
    return 0;
}
