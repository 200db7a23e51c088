// 7-Zip's library through our archive object: open as 7z (and as zip, the
// other format the program hands it), list, and extract the first items
// whole under a small cap.
#include "engine/SevenZipArchive.h"
#include "fuzz/support/FuzzEnvironment.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string path = FuzzEnvironment::writeFile("book.7z", std::span<const uint8_t>(data, size));
    for (const char* format : {"7z", "zip"}) {
        for (const char* password : {"", "pw"}) {
            auto source = SevenZipArchive::fileSource(path);
            if (!source) return 0;
            SevenZipArchive::Error error;
            auto archive = SevenZipArchive::open(
                std::move(source), format, [password]() -> std::optional<std::string> { return password; },
                &error);
            if (!archive) continue;
            archive->isSolid();
            for (uint32_t i = 0; i < archive->itemCount() && i < 64; ++i) archive->item(i);
            for (uint32_t i = 0; i < archive->itemCount() && i < 4; ++i) {
                std::string out;
                archive->extractToBuffer(i, 1 << 20, out, &error);
            }
        }
    }
    return 0;
}
