#pragma once

#include <cstdint>
#include <string>
#include <system_error>
#include <vector>

// Packs a list of files into a stored (uncompressed) zip: the local file list
// turns a folder of page images into a book with it. Classic layout, 32-bit
// fields only, names in Shift-JIS (UTF-8 when a name has no Shift-JIS form,
// unmarked), a fixed time stamp of 2000-07-07 12:53:54.
//
// What the classic layout cannot hold is refused before anything is written:
// more than 65,535 entries, an archive reaching 4 GiB, a name longer than
// 1,023 bytes. Names must be relative and stay inside the base folder. An
// existing archive is never overwritten, and a failed write leaves no archive
// behind. A source file that cannot be read does not stop the archive: it is
// stored as one blank byte under its name.
class ZipCreate {
public:
    ZipCreate() = delete;

    static constexpr uint32_t kLocalHeaderSignature = 0x04034B50;
    static constexpr uint32_t kCentralHeaderSignature = 0x02014B50;
    static constexpr uint32_t kEndRecordSignature = 0x06054B50;
    static constexpr uint16_t kVersion = 10;
    static constexpr uint16_t kDosTime = 0x66BB;  // 12:53:54
    static constexpr uint16_t kDosDate = 0x28E7;  // 2000-07-07
    static constexpr size_t kMaxNameBytes = 1023;
    static constexpr size_t kMaxEntries = 65535;
    // Offsets and sizes must stay below the 0xFFFFFFFF that readers take as
    // "see the zip64 record".
    static constexpr uint64_t kMaxArchiveBytes = 0xFFFFFFFEull;

    // What the local and the central header of an entry both hold, written
    // in this order from the version needed to the extra field's length.
    struct EntryFields {
        uint16_t versionNeeded = kVersion;
        uint16_t flags = 0;
        uint16_t method = 0;
        uint16_t modTime = kDosTime;
        uint16_t modDate = kDosDate;
        uint32_t crc32 = 0;
        uint32_t compressedSize = 0;
        uint32_t uncompressedSize = 0;
        std::string name;   // stored bytes; its length is the name length field
        std::string extra;
    };

    struct ZipHeader : EntryFields {
        uint32_t signature = kLocalHeaderSignature;
    };

    struct CentralDirHeader : EntryFields {
        uint32_t signature = kCentralHeaderSignature;
        uint16_t versionMadeBy = kVersion;
        uint16_t diskNumberStart = 0;
        uint16_t internalAttributes = 0;
        uint32_t externalAttributes = 0;
        uint32_t localHeaderOffset = 0;
        std::string comment;
    };

    struct EndCentDirHeader {
        uint32_t signature = kEndRecordSignature;
        uint16_t thisDisk = 0;
        uint16_t directoryDisk = 0;
        uint16_t entriesOnDisk = 0;
        uint16_t entriesTotal = 0;
        uint32_t directorySize = 0;
        uint32_t directoryOffset = 0;
        std::string comment;
    };

    // Writes `zipPath` from the files `fileList` (names relative to
    // `basePath`), in list order. False, with the reason in `error`, when the
    // archive exists already (EEXIST), the list does not fit the format
    // (E2BIG, EFBIG, ENAMETOOLONG), a name is unsafe (EINVAL), or creating or
    // writing the archive fails; nothing is left at zipPath then.
    static bool createZip(const std::string& zipPath, const std::string& basePath,
                          const std::vector<std::string>& fileList, std::error_code* error = nullptr);

    // One record each, fixed part then name, extra and comment, in one write
    // at the descriptor's position. False when the write fails or falls short.
    static bool WriteZipHeader(int fd, const ZipHeader& header);
    static bool WriteCentralDirHeader(int fd, const CentralDirHeader& header);
    static bool WriteEndCentDirHeader(int fd, const EndCentDirHeader& header);

    // The name as stored: Shift-JIS bytes, or the UTF-8 bytes when it has no
    // Shift-JIS form.
    static std::string encodeName(const std::string& name);
};
