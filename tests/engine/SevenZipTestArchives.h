#pragma once

// Hostile 7z archives for tests: entry names in an archive made by the 7z
// tool with an uncompressed directory (-mhc=off) are rewritten in place to
// names the tool would never store, and the directory's checksums are made
// right again, so that the library reads them as they stand.

#include <gtest/gtest.h>
#include <zlib.h>

#include <map>
#include <string>

namespace test {

inline ::testing::AssertionResult renameSevenZipEntries(std::string& archive,
                                                        const std::map<std::string, std::string>& renames) {
    auto le32 = [&](size_t at) {
        uint32_t v = 0;
        for (int i = 3; i >= 0; --i) v = v << 8 | uint8_t(archive[at + size_t(i)]);
        return v;
    };
    auto le64 = [&](size_t at) { return uint64_t(le32(at + 4)) << 32 | le32(at); };
    auto put32 = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) archive[at + size_t(i)] = char(v >> (8 * i));
    };
    if (archive.size() < 32) return ::testing::AssertionFailure() << "no start header";
    const uint64_t headerAt = 32 + le64(12), headerSize = le64(20);
    if (headerAt + headerSize > archive.size()) return ::testing::AssertionFailure() << "no directory";
    for (const auto& [from, to] : renames) {
        if (from.size() != to.size()) return ::testing::AssertionFailure() << from << " and " << to << " differ in length";
        std::string wideFrom, wideTo;  // the names are stored as UTF-16LE
        for (char c : from) wideFrom += std::string{c, '\0'};
        for (char c : to) wideTo += std::string{c, '\0'};
        // Every occurrence: a folder's name is also the start of its files' names.
        size_t at = archive.find(wideFrom, headerAt);
        if (at == std::string::npos || at + wideFrom.size() > headerAt + headerSize)
            return ::testing::AssertionFailure() << from << " is not in the directory";
        for (; at != std::string::npos && at + wideFrom.size() <= headerAt + headerSize;
             at = archive.find(wideFrom, at + wideTo.size()))
            archive.replace(at, wideTo.size(), wideTo);
    }
    put32(28, uint32_t(crc32(0, reinterpret_cast<const Bytef*>(archive.data() + headerAt), uInt(headerSize))));
    put32(8, uint32_t(crc32(0, reinterpret_cast<const Bytef*>(archive.data() + 12), 20)));
    return ::testing::AssertionSuccess();
}

}  // namespace test
