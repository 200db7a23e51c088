// 7-Zip's library through our archive object: open as 7z (and as zip, the
// other format the program hands it), list, and extract the first items
// whole under a small cap. The password the seeds were made with is tried
// only where an archive asked for one.
#include "engine/SevenZipArchive.h"
#include "fuzz/support/FuzzEnvironment.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>

// 7-Zip reserves the dictionary an archive names (up to 4 GiB) before it
// decodes a byte. Untouched, that costs a device nothing, but under
// AddressSanitizer every such reservation takes seconds of shadow memory.
// Here reservations over 1 GiB fail, as they may on a device with less
// address space, and the archive's way out of a failed allocation runs.
extern "C" const char* __asan_default_options() { return "max_allocation_size_mb=1024:allocator_may_return_null=1"; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string path = FuzzEnvironment::writeFile("book.7z", std::span<const uint8_t>(data, size));
    for (const char* format : {"7z", "zip"}) {
        bool asked = false;
        for (const char* password : {"", "pw"}) {
            if (*password && !asked) break;
            auto source = SevenZipArchive::fileSource(path);
            if (!source) return 0;
            SevenZipArchive::Error error;
            auto archive = SevenZipArchive::open(
                std::move(source), format,
                [password, &asked]() -> std::optional<std::string> {
                    asked = true;
                    return password;
                },
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
