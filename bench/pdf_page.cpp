// Draws one page of a 300-page PDF at the size a viewer of 1280 x 800
// pixels shows it, the way a page turn does (open, measure, draw), and
// times it against `mutool draw` making the same size from the same file.
// The book (150 vector pages from Ghostscript, 150 scanned-looking image
// pages from img2pdf, joined by mutool) is made here in a temporary folder.
//
//   build/bench/pdf_page [runs]
//
// Prints the median of each, per kind of page, then "ratio: X.XX" (our total
// of medians over mutool's; below 1 means faster).

#include "bench/BenchSupport.h"
#include "engine/BookReaderEx.h"
#include "engine/PageReaderPDF.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int kPages = 300;
constexpr double kViewerWidth = 1280, kViewerHeight = 800;

// 150 pages of curves, fills and text.
const char* kVectorProgram = R"(%!PS
<< /PageSize [595 842] >> setpagedevice
/Times-Roman findfont 9 scalefont setfont
1 1 150 { /p exch def
  0 1 119 { /i exch def
    i 37 mul p add 360 mod 360 div 0.7 0.9 sethsbcolor
    newpath 20 i 6.8 mul add 60 moveto
    300 i 3 mul p add sin 200 mul add 400 i 2 mul cos 300 mul add
    100 i 5 mul sin 150 mul add 700 i cos 100 mul add
    575 i 0.3 mul sub 780 curveto 0.8 setlinewidth stroke
  } for
  0 1 39 { /i exch def
    0 0 0 setrgbcolor 40 800 i 18 mul sub moveto
    (The quick brown fox jumps over the lazy dog, page ) show p 4 string cvs show
  } for
  showpage
} for
)";

// The load size of the session for a page of `page` points fitted into the viewer.
gfx::Size fitted(gfx::Size page) {
    const double s = std::min(kViewerWidth / page.width, kViewerHeight / page.height);
    return {std::trunc(page.width * s), std::trunc(page.height * s)};
}

// Open, measure and draw one page as a page turn does.
gfx::ImageRef turnTo(const std::string& path, int page) {
    auto reader = std::make_shared<PageReaderPDF>();
    if (!reader->openFile(path, std::nullopt, std::nullopt, false, false)) return nullptr;
    int result = 0;
    reader->newLoadAndCreateImage(page, result);
    if (result != PageReader::kResultPending) return nullptr;
    return reader->newCreatePendingImage(page, fitted(reader->getPendingImageSize()), gfx::Rect::null(),
                                         gfx::Rect::null(), true);
}

// Runs the peer with its warnings (colour profiles it cannot use) thrown away.
bool spawnQuietly(const std::vector<std::string>& args) {
    const int saved = dup(2);
    const int null = open("/dev/null", O_WRONLY);
    if (null >= 0) dup2(null, 2);
    const bool ok = bench::spawn(args, true);
    if (saved >= 0) dup2(saved, 2);
    if (null >= 0) close(null);
    if (saved >= 0) close(saved);
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 9;
    namespace fs = std::filesystem;
    const std::string work = bench::makeWorkFolder("pdf_page");
    if (work.empty()) return 1;
    const fs::path dir(work);
    auto at = [&](const char* name) { return (dir / name).string(); };
    std::ofstream(at("vector.ps")) << kVectorProgram;
    std::printf("making a %d-page PDF in %s\n", kPages, work.c_str());
    std::string images = "img2pdf";
    for (int i = 0; i < kPages / 2; ++i) images += " " + at("scan.jpg");
    if (!bench::shell("gs -q -dNOPAUSE -dBATCH -sDEVICE=pdfwrite -o " + at("vector.pdf") + " " + at("vector.ps")) ||
        !bench::shell("convert-im6.q16 -size 1240x1754 -seed 3 plasma:fractal -blur 0x2 -quality 80 " +
                      at("scan.jpg")) ||
        !bench::shell(images + " -o " + at("images.pdf")) ||
        !bench::shell("mutool merge -o " + at("book.pdf") + " " + at("vector.pdf") + " " + at("images.pdf"))) {
        std::fprintf(stderr, "could not make the book (ghostscript, ImageMagick, img2pdf and mupdf-tools are needed)\n");
        fs::remove_all(dir);
        return 1;
    }
    const std::string book = at("book.pdf");

    double oursTotal = 0, peerTotal = 0;
    for (const auto& [name, page] : {std::pair<std::string, int>{"vector", 99}, {"image", 249}}) {
        gfx::ImageRef first = turnTo(book, page);
        if (!first) {
            std::fprintf(stderr, "%s page %d: drawing failed\n", name.c_str(), page + 1);
            fs::remove_all(dir);
            return 1;
        }
        const std::string w = std::to_string(first->width()), h = std::to_string(first->height());
        std::vector<double> ours, peer;
        for (int i = 0; i < runs; ++i) {
            double t0 = bench::now();
            gfx::ImageRef out = turnTo(book, page);
            double t1 = bench::now();
            if (!out) return 1;
            ours.push_back(t1 - t0);
            t0 = bench::now();
            const bool ok =
                spawnQuietly({"mutool", "draw", "-q", "-c", "rgba", "-w", w, "-h", h, book, std::to_string(page + 1)});
            t1 = bench::now();
            if (!ok) {
                std::fprintf(stderr, "mutool draw failed\n");
                fs::remove_all(dir);
                return 1;
            }
            peer.push_back(t1 - t0);
        }
        const double mo = bench::median(ours), mp = bench::median(peer);
        oursTotal += mo;
        peerTotal += mp;
        std::printf("%-6s page %3d at %sx%s  ours %7.1f ms   mutool draw %7.1f ms   ratio %.2f\n", name.c_str(),
                    page + 1, w.c_str(), h.c_str(), mo * 1000, mp * 1000, mo / mp);
    }
    fs::remove_all(dir);
    std::printf("ratio: %.2f\n", oursTotal / peerTotal);
    return 0;
}
