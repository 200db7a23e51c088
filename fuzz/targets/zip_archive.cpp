// The zip reader's own layer: open, walk the directory, and read every
// entry (at most a few) whole, without a password and with the one the
// seeds were made with, each under a small cap.
#include "engine/ZipArchive.h"
#include "engine/ZipEntryReader.h"
#include "fuzz/support/FuzzEnvironment.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace {

void readEntries(ZipArchive& archive, const std::optional<std::string>& password) {
    std::vector<ZipArchive::Position> positions;
    if (archive.goToFirst() != ZipArchive::Step::Ok) return;
    do {
        ZipArchive::Entry entry;
        if (!archive.current(entry)) break;
        ZipArchive::nameText(entry);
        if (auto p = archive.currentPosition()) positions.push_back(*p);
        archive.currentDataOffset();
    } while (positions.size() < 64 && archive.goToNext() == ZipArchive::Step::Ok);

    for (size_t i = 0; i < positions.size() && i < 6; ++i) {
        if (!archive.goTo(positions[i])) continue;
        ZipEntryReader reader(archive);
        if (reader.open(password, 1 << 20) != ZipEntryReader::Status::Ok) continue;
        std::string out;
        reader.readAll(out);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string path = FuzzEnvironment::writeFile("book.zip", std::span<const uint8_t>(data, size));
    auto archive = ZipArchive::openFile(path);
    if (!archive) return 0;
    readEntries(*archive, std::nullopt);
    readEntries(*archive, std::string("pw"));
    return 0;
}
