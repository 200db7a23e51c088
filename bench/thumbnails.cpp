// Covers of 200 cbz books (two JPEG pages of 4 to 6 megapixels each, the
// first one different in every book) made by the thumbnail maker, the way the
// file list asks for them, against vipsthumbnail making thumbnails of the same
// first pages at the same size and quality in one run.
//
//   build/bench/thumbnails [runs]
//
// The books are generated once and kept beside the program
// (build/bench/thumbnails-data). Prints the median of each, then
// "ratio: X.XX" (ours over vipsthumbnail's; below 1 means faster).

#include "bench/BenchSupport.h"
#include "engine/ThumbsCreate.h"
#include "foundation/BookCommon.h"
#include "platform/core/AppPaths.h"
#include "platform/core/DeviceProfile.h"
#include "platform/core/FileManager.h"
#include "platform/core/RunLoop.h"
#include "platform/graphics/JpegEncoder.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

constexpr int kBooks = 200;
constexpr const char* kStamp = "complete-v1";

// A page with smooth areas, edges and fine texture, so that it compresses
// like a scanned page rather than a flat colour.
bool writePage(const fs::path& path, int w, int h, uint32_t seed) {
    std::vector<uint32_t> px(size_t(w) * size_t(h));
    uint32_t state = seed * 2654435761u + 1;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            state = state * 1664525u + 1013904223u;
            const int noise = int(state >> 28) - 8;
            const bool ink = ((x / 37 + y / 53 + int(seed)) % 7 == 0) || ((x + y * 3 + int(seed)) % 211 < 3);
            int r = ink ? 30 : 200 + int(40 * std::sin((x + seed) * 0.004));
            int g = ink ? 30 : 190 + int(40 * std::cos(y * 0.003));
            int b = ink ? 40 : 170 + int(50 * std::sin((x + y) * 0.002 + seed));
            auto clamp = [](int v) { return uint32_t(v < 0 ? 0 : v > 255 ? 255 : v); };
            px[size_t(y) * size_t(w) + size_t(x)] =
                0xFF000000u | clamp(r + noise) << 16 | clamp(g + noise) << 8 | clamp(b + noise);
        }
    }
    auto image = gfx::Image::make(w, h, std::move(px), 1.0);
    if (!image) return false;
    auto bytes = gfx::JpegEncoder::encode(*image, 0.85);
    if (bytes.empty()) return false;
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return true;
}

// Sizes between 4 and 6 megapixels, portrait.
void pageSize(int i, int& w, int& h) {
    static const int kSizes[][2] = {{1700, 2400}, {1800, 2600}, {2000, 2800}, {1900, 2500}, {2100, 2700}};
    w = kSizes[i % 5][0];
    h = kSizes[i % 5][1];
}

bool generate(const fs::path& data, const fs::path& books, const fs::path& firsts) {
    std::error_code ec;
    fs::remove_all(data, ec);
    fs::create_directories(books);
    fs::create_directories(firsts);
    const fs::path shared = data / "p2.jpg";
    if (!writePage(shared, 2000, 2600, 999)) return false;
    std::fprintf(stderr, "generating %d books in %s...\n", kBooks, data.c_str());
    for (int i = 0; i < kBooks; ++i) {
        int w, h;
        pageSize(i, w, h);
        char name[32];
        std::snprintf(name, sizeof name, "book%03d", i);
        const fs::path dir = data / "tmp";
        fs::create_directories(dir);
        if (!writePage(dir / "p1.jpg", w, h, uint32_t(i))) return false;
        fs::copy_file(shared, dir / "p2.jpg", fs::copy_options::overwrite_existing);
        const std::string cbz = (books / (std::string(name) + ".cbz")).string();
        if (!bench::shell("cd '" + dir.string() + "' && zip -q -0 '" + cbz + "' p1.jpg p2.jpg")) return false;
        fs::rename(dir / "p1.jpg", firsts / (std::string(name) + ".jpg"));
        fs::remove_all(dir);
    }
    std::ofstream(data / kStamp) << "ok\n";
    return true;
}

std::vector<std::shared_ptr<FilelistItem>> items() {
    std::vector<std::shared_ptr<FilelistItem>> out;
    for (int i = 0; i < kBooks; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "book%03d.cbz", i);
        auto item = std::make_shared<FilelistItem>();
        item->setType(1);
        item->setFilename(std::string(name));
        item->setPathFromBooks(std::string(name));
        out.push_back(item);
    }
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    sys::RunLoop::main().bindToCurrentThread();
    sys::DeviceProfile::setCurrent(*sys::DeviceProfile::named("desktop"));
    if (!bench::shell("command -v vipsthumbnail") || !bench::shell("command -v zip")) {
        std::fprintf(stderr, "vipsthumbnail (libvips-tools) and zip are needed\n");
        return 1;
    }

    const fs::path data = fs::absolute(fs::path(argv[0])).parent_path() / "thumbnails-data";
    const fs::path home = data / "home";
    sys::AppPaths::setHome(home.string());
    const fs::path books = BookCommon::getBooksDocumentsFolder();
    const fs::path firsts = data / "firsts";
    if (!fs::exists(data / kStamp)) {
        if (!generate(data, books, firsts)) {
            std::fprintf(stderr, "could not generate the books\n");
            return 1;
        }
    }

    // The same box and quality as ours on this device.
    const gfx::Size box = ThumbsCreate::bookThumbnailSize();
    const int quality = gfx::JpegEncoder::libjpegQuality(ThumbsCreate::jpegQuality());
    char size[32];
    std::snprintf(size, sizeof size, "%dx%d", int(box.width), int(box.height));
    const fs::path out = data / "vips-out";
    std::vector<std::string> peer{"vipsthumbnail", "--size", size, "-o",
                                  (out / "%s.jpg").string() + "[Q=" + std::to_string(quality) + "]"};
    for (int i = 0; i < kBooks; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "book%03d.jpg", i);
        peer.push_back((firsts / name).string());
    }

    std::printf("%d books, covers of %s points, quality %d, median of %d runs\n", kBooks, size, quality, runs);
    std::vector<double> ours, theirs;
    for (int run = 0; run < runs; ++run) {
        auto list = items();
        for (const auto& item : list) {
            sys::FileManager::removeItem(ThumbsCreate::thumbnailPathForItem(*item, false));
            sys::FileManager::removeItem(ThumbsCreate::markerPathForItem(*item, false));
        }
        auto maker = std::make_shared<ThumbsCreate>();
        double t0 = bench::now();
        for (const auto& item : list) maker->addQue(item);
        const bool done = maker->waitUntilIdle(600);
        double t1 = bench::now();
        maker.reset();
        int made = 0;
        for (const auto& item : list) made += fs::exists(ThumbsCreate::thumbnailPathForItem(*item, false)) ? 1 : 0;
        if (!done || made != kBooks) {
            std::fprintf(stderr, "only %d of %d covers were made\n", made, kBooks);
            return 1;
        }
        ours.push_back(t1 - t0);

        std::error_code ec;
        fs::remove_all(out, ec);
        fs::create_directories(out);
        double t2 = bench::now();
        const bool ok = bench::spawn(peer, true);
        double t3 = bench::now();
        if (!ok) {
            std::fprintf(stderr, "vipsthumbnail failed\n");
            return 1;
        }
        theirs.push_back(t3 - t2);
        std::printf("run %d: ours %.3f s, vipsthumbnail %.3f s\n", run + 1, ours.back(), theirs.back());
    }
    const double a = bench::median(ours), b = bench::median(theirs);
    std::printf("thumbnail maker: %.3f s (%.1f ms a book)\n", a, 1000 * a / kBooks);
    std::printf("vipsthumbnail:   %.3f s (%.1f ms a page)\n", b, 1000 * b / kBooks);
    std::printf("ratio: %.2f\n", a / b);
    return 0;
}
