// Draws the pages of the sample book and stores them as a comic archive
// (an uncompressed zip): make-sample-book OUTPUT.cbz
#include "platform/graphics/Canvas.h"

#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

constexpr int kWidth = 800;
constexpr int kHeight = 1200;
constexpr int kPages = 8;

gfx::Rgba hue(int i) {
    static const gfx::Rgba colours[] = {{0.95, 0.55, 0.25, 1}, {0.30, 0.60, 0.90, 1}, {0.45, 0.75, 0.40, 1},
                                        {0.85, 0.35, 0.55, 1}, {0.55, 0.45, 0.85, 1}, {0.95, 0.75, 0.25, 1},
                                        {0.30, 0.75, 0.75, 1}, {0.65, 0.65, 0.65, 1}};
    return colours[i % 8];
}

void drawPage(gfx::Canvas& c, int n) {
    const gfx::Rgba paper{0.98, 0.97, 0.94, 1};
    const gfx::Rgba ink{0.12, 0.12, 0.14, 1};
    c.fillRect({0, 0, kWidth, kHeight}, paper);
    gfx::TextOptions centred;
    centred.alignment = gfx::TextAlignment::Center;
    if (n == 1) {
        c.fillRect({40, 40, kWidth - 80, kHeight - 80}, hue(0));
        c.fillRect({70, 300, kWidth - 140, 420}, paper);
        c.drawText("Leafbright", gfx::Font::boldSystem(96), {70, 360, kWidth - 140, 130}, ink, centred);
        c.drawText("Sample Book", gfx::Font::system(64), {70, 500, kWidth - 140, 90}, ink, centred);
        c.drawText("A few pages to try the reader on", gfx::Font::system(30), {40, 1000, kWidth - 80, 60},
                   paper, centred);
        return;
    }
    // Three panels with a big page number, as a comic page has.
    const double m = 40, gap = 24;
    const double panel = (kHeight - 2 * m - 2 * gap - 80) / 3;
    for (int p = 0; p < 3; ++p) {
        const double y = m + p * (panel + gap);
        const double split = p == 1 ? (kWidth - 2 * m - gap) * 0.55 : kWidth - 2 * m;
        c.fillRect({m, y, split, panel}, hue(n + p));
        c.strokeRect({m, y, split, panel}, ink, 6);
        if (p == 1) {
            c.fillRect({m + split + gap, y, kWidth - 2 * m - split - gap, panel}, hue(n + 4));
            c.strokeRect({m + split + gap, y, kWidth - 2 * m - split - gap, panel}, ink, 6);
        }
    }
    c.fillEllipse({kWidth / 2.0 - 150, m + panel + gap + panel / 2 - 150, 300, 300}, paper);
    c.drawText(std::to_string(n), gfx::Font::boldSystem(200), {kWidth / 2.0 - 150, m + panel + gap + panel / 2 - 125, 300, 250},
               ink, centred);
    c.drawText("Page " + std::to_string(n) + " of " + std::to_string(kPages), gfx::Font::system(32),
               {0, kHeight - 90, kWidth, 50}, ink, centred);
}

void put16(std::string& out, uint16_t v) {
    out.push_back(char(v & 0xFF));
    out.push_back(char(v >> 8));
}
void put32(std::string& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(char((v >> (8 * i)) & 0xFF));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make-sample-book OUTPUT.cbz\n");
        return 2;
    }
    namespace fs = std::filesystem;
    const fs::path out = argv[1];
    const fs::path work = out.parent_path() / "sample-pages";
    fs::create_directories(work);
    std::string zip, central;
    for (int n = 1; n <= kPages; ++n) {
        gfx::Canvas canvas(kWidth, kHeight, 1.0);
        drawPage(canvas, n);
        char name[32];
        std::snprintf(name, sizeof name, "page%02d.png", n);
        const fs::path png = work / name;
        if (!canvas.writePNG(png.string())) {
            std::fprintf(stderr, "make-sample-book: cannot write %s\n", png.c_str());
            return 1;
        }
        std::ifstream in(png, std::ios::binary);
        std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const uint32_t crc = uint32_t(crc32(0, reinterpret_cast<const Bytef*>(data.data()), uInt(data.size())));
        const uint32_t offset = uint32_t(zip.size());
        const std::string entry = name;
        // Local header: stored, no flags, a fixed date (1 Jan 2024).
        put32(zip, 0x04034b50);
        put16(zip, 20), put16(zip, 0), put16(zip, 0), put16(zip, 0), put16(zip, (44 << 9) | (1 << 5) | 1);
        put32(zip, crc), put32(zip, uint32_t(data.size())), put32(zip, uint32_t(data.size()));
        put16(zip, uint16_t(entry.size())), put16(zip, 0);
        zip += entry;
        zip += data;
        put32(central, 0x02014b50);
        put16(central, 20), put16(central, 20), put16(central, 0), put16(central, 0), put16(central, 0);
        put16(central, (44 << 9) | (1 << 5) | 1);
        put32(central, crc), put32(central, uint32_t(data.size())), put32(central, uint32_t(data.size()));
        put16(central, uint16_t(entry.size())), put16(central, 0), put16(central, 0), put16(central, 0),
            put16(central, 0);
        put32(central, 0), put32(central, offset);
        central += entry;
    }
    const uint32_t centralOffset = uint32_t(zip.size());
    zip += central;
    put32(zip, 0x06054b50);
    put16(zip, 0), put16(zip, 0), put16(zip, kPages), put16(zip, kPages);
    put32(zip, uint32_t(central.size())), put32(zip, centralOffset), put16(zip, 0);
    const fs::path tmp = out.string() + ".tmp";
    {
        std::ofstream o(tmp, std::ios::binary | std::ios::trunc);
        o.write(zip.data(), std::streamsize(zip.size()));
        if (!o) return 1;
    }
    fs::rename(tmp, out);
    fs::remove_all(work);
    return 0;
}
