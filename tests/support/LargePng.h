#pragma once

// Writes large PNG pictures quickly for the memory tests: blocks of four
// colours, rows stored against the row above (PNG's "up" filter), so that a
// gigabyte of pixels deflates to about a megabyte in a second or so.

#include <zlib.h>

#include <array>
#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

namespace test {

// The colour (r, g, b) of the block of `block` x `block` pixels at (x, y).
inline std::array<uint8_t, 3> largePngColour(int x, int y, int block) {
    static const uint8_t kColours[4][3] = {{230, 40, 40}, {40, 200, 60}, {30, 60, 220}, {250, 250, 250}};
    const uint8_t* c = kColours[(x / block + 2 * (y / block)) % 4];
    return {c[0], c[1], c[2]};
}

// An 8-bit RGB PNG of width x height in blocks of `block` pixels; false when
// it could not be written.
inline bool writeLargePng(const std::string& path, int width, int height, int block) {
    std::ofstream out(path, std::ios::binary);
    auto u32 = [](std::vector<uint8_t>& v, uint32_t x) {
        for (int s = 24; s >= 0; s -= 8) v.push_back(uint8_t(x >> s));
    };
    auto chunk = [&](const char* type, const std::vector<uint8_t>& data) {
        std::vector<uint8_t> c;
        u32(c, uint32_t(data.size()));
        c.insert(c.end(), type, type + 4);
        c.insert(c.end(), data.begin(), data.end());
        u32(c, uint32_t(crc32(0, c.data() + 4, uInt(c.size() - 4))));
        out.write(reinterpret_cast<const char*>(c.data()), std::streamsize(c.size()));
    };
    out.write("\x89PNG\r\n\x1a\n", 8);
    std::vector<uint8_t> ihdr;
    u32(ihdr, uint32_t(width));
    u32(ihdr, uint32_t(height));
    ihdr.insert(ihdr.end(), {8, 2, 0, 0, 0});
    chunk("IHDR", ihdr);

    z_stream z{};
    if (deflateInit(&z, 1) != Z_OK) return false;
    std::vector<uint8_t> row(size_t(width) * 3 + 1), zeros(row.size(), 0), buf(1 << 20), idat;
    for (int y = 0; y < height; ++y) {
        const bool first = y % block == 0;
        if (first) {
            row[0] = 0;
            for (int x = 0; x < width; ++x) {
                const auto c = largePngColour(x, y, block);
                std::copy(c.begin(), c.end(), row.begin() + 1 + size_t(x) * 3);
            }
        }
        zeros[0] = 2;  // "up": the same as the row above
        const std::vector<uint8_t>& in = first ? row : zeros;
        z.next_in = const_cast<Bytef*>(in.data());
        z.avail_in = uInt(in.size());
        const int flush = y + 1 == height ? Z_FINISH : Z_NO_FLUSH;
        do {
            z.next_out = buf.data();
            z.avail_out = uInt(buf.size());
            if (deflate(&z, flush) == Z_STREAM_ERROR) {
                deflateEnd(&z);
                return false;
            }
            idat.insert(idat.end(), buf.data(), buf.data() + (buf.size() - z.avail_out));
        } while (z.avail_out == 0 || (flush == Z_FINISH && z.avail_in > 0));
    }
    deflateEnd(&z);
    chunk("IDAT", idat);
    chunk("IEND", {});
    return bool(out);
}

}  // namespace test
