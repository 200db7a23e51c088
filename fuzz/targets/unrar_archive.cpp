// UnRAR through our wrapper: list, then extract the first entries whole
// (under a small cap), without a password and with the seeds' one.
#include "engine/UnrarArchive.h"
#include "fuzz/support/FuzzEnvironment.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string path = FuzzEnvironment::writeFile("book.rar", std::span<const uint8_t>(data, size));
    for (const std::optional<std::string>& password : {std::optional<std::string>(), std::optional<std::string>("pw")}) {
        UnrarArchive archive(path, password);
        archive.probe();
        std::vector<UnrarArchive::Entry> entries;
        if (archive.unrarListFilesNoEncodingWithFileSizeArray(entries) != UnrarArchive::Status::Ok) continue;
        for (size_t i = 0; i < entries.size() && i < 6; ++i) {
            if (entries[i].isDirectory) continue;
            std::string out;
            archive.extractStreamWithPoint(i, entries[i], 1 << 20, out);
        }
        archive.unrarCloseFile();
    }
    return 0;
}
