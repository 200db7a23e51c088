#include "tests/engine/BookTestPages.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace test {

namespace {
void put16(std::vector<uint8_t>& b, uint32_t v) {
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
}
void put32(std::vector<uint8_t>& b, uint32_t v) {
    put16(b, v & 0xFFFF);
    put16(b, v >> 16);
}
}  // namespace

bool writeBmp(const std::string& path, int width, int height, const std::function<uint32_t(int, int)>& colour) {
    const uint32_t rowBytes = (uint32_t(width) * 3 + 3) & ~3u;
    const uint32_t dataBytes = rowBytes * uint32_t(height);
    std::vector<uint8_t> b;
    b.reserve(54 + dataBytes);
    b.push_back('B');
    b.push_back('M');
    put32(b, 54 + dataBytes);
    put32(b, 0);
    put32(b, 54);
    put32(b, 40);
    put32(b, uint32_t(width));
    put32(b, uint32_t(height));  // positive: rows stored bottom-up
    put16(b, 1);
    put16(b, 24);
    put32(b, 0);
    put32(b, dataBytes);
    put32(b, 2835);
    put32(b, 2835);
    put32(b, 0);
    put32(b, 0);
    for (int row = height - 1; row >= 0; --row) {
        size_t start = b.size();
        for (int x = 0; x < width; ++x) {
            uint32_t c = colour(x, row);
            b.push_back(uint8_t(c));
            b.push_back(uint8_t(c >> 8));
            b.push_back(uint8_t(c >> 16));
        }
        while (b.size() - start < rowBytes) b.push_back(0);
    }
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = std::fwrite(b.data(), 1, b.size(), f) == b.size();
    return std::fclose(f) == 0 && ok;
}

bool writeHalvesPage(const std::string& path, int width, int height, uint32_t left, uint32_t right) {
    return writeBmp(path, width, height, [&](int x, int) { return x < width / 2 ? left : right; });
}

uint32_t pageColour(int page, bool rightHalf) {
    static const uint32_t palette[32] = {
        0xFFDC1E1E, 0xFF1EC81E, 0xFF1E1EDC, 0xFFDCDC1E, 0xFFDC1EDC, 0xFF1EDCDC, 0xFFF08C14, 0xFF7828A0,
        0xFF148CF0, 0xFF8CF014, 0xFFF0148C, 0xFF14F08C, 0xFF8C1414, 0xFF148C14, 0xFF14148C, 0xFF8C8C14,
        0xFFB45A5A, 0xFF5AB45A, 0xFF5A5AB4, 0xFFB4B45A, 0xFFB45AB4, 0xFF5AB4B4, 0xFFC8641E, 0xFF1E64C8,
        0xFF64C81E, 0xFFC81E64, 0xFF1EC864, 0xFF641EC8, 0xFF3C3C3C, 0xFFA0A0A0, 0xFF503214, 0xFF145032,
    };
    return palette[(page * 2 + (rightHalf ? 1 : 0)) & 31];
}

::testing::AssertionResult colourNear(uint32_t actual, uint32_t expected, int tolerance) {
    for (int shift = 0; shift < 32; shift += 8) {
        int a = int((actual >> shift) & 0xFF), e = int((expected >> shift) & 0xFF);
        if (std::abs(a - e) > tolerance) {
            char buf[64];
            std::snprintf(buf, sizeof buf, "0x%08X, expected about 0x%08X", actual, expected);
            return ::testing::AssertionFailure() << buf;
        }
    }
    return ::testing::AssertionSuccess();
}

}  // namespace test
