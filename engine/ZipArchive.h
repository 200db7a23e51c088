#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class RemoteStreamRead;

// An open zip archive: minizip's handle over file functions of our own,
// reading either a local file (64-bit positions, buffered, so that the
// library's many one-byte header reads stay cheap) or a RemoteStreamRead
// (only the blocks the reads touch are fetched).
//
// The library has no way to be told that a stream is shutting down, so the
// stream's read function returns nothing and its error test reports failure
// as soon as the stream is closing, cancelled or failed: a long read gives
// up at the next library call.
//
// Entries are walked in directory order and can be revisited by position,
// which costs no directory scan and works for names of any length (the
// library's own lookup by name cannot find names of 256 bytes or more).
//
// One thread at a time; isExitStream may be asked from any thread.
class ZipArchive {
public:
    // Names are read into a buffer of this size; longer names are cut to
    // one byte less and flagged.
    static constexpr size_t kNameBufferBytes = 5120;

    // General-purpose flag bit 11: the name and comment are UTF-8.
    static constexpr uint32_t kUtf8NameFlag = 1u << 11;
    // Info-ZIP's Unicode Path extra field.
    static constexpr uint16_t kUnicodePathField = 0x7075;
    // WinZip's AES extra field.
    static constexpr uint16_t kAesField = 0x9901;

    struct Entry {
        std::string name;  // the stored bytes, at most kNameBufferBytes - 1
        bool isNameTruncated = false;
        // The name as the archive itself declares it in UTF-8: the stored
        // bytes under the UTF-8 flag, or a Unicode Path field written for
        // exactly these bytes. Nothing when the archive says nothing (or
        // says something that is not UTF-8).
        std::optional<std::string> declaredUtf8Name;
        uint32_t flag = 0;
        uint32_t method = 0;
        uint32_t crc = 0;
        uint32_t dosDate = 0;  // DOS date in the high 16 bits, time in the low 16
        uint64_t compressedSize = 0;
        uint64_t uncompressedSize = 0;
        // WinZip's AES record (method 99): its version (1 or 2), key
        // strength (1, 2, 3 for 128, 192, 256 bits) and the compression
        // method under the encryption. Zero when the entry has none.
        uint16_t aesVersion = 0;
        uint8_t aesStrength = 0;
        uint16_t aesMethod = 0;
        bool isEncrypted() const { return (flag & 1) != 0; }
    };

    // Where an entry's directory record lies; valid for the archive it came from.
    struct Position {
        uint64_t directoryOffset = 0;
        uint64_t fileNumber = 0;
    };

    // Results of the walk.
    enum class Step { Ok, End, Error };

    // Nothing when the file cannot be opened or is not a zip this library
    // reads (multi-disk archives among them).
    static std::unique_ptr<ZipArchive> openFile(const std::string& path);
    // The stream must already be open (openURL); it stays owned by the caller
    // too, and is not closed here.
    static std::unique_ptr<ZipArchive> openStream(std::shared_ptr<RemoteStreamRead> stream);

    ~ZipArchive();
    ZipArchive(const ZipArchive&) = delete;
    ZipArchive& operator=(const ZipArchive&) = delete;

    // Ends the archive's use of its local file and hands its descriptor to
    // the caller, who closes it (-1 for a stream, or when already let go).
    // Nothing more can be read afterwards.
    int releaseFile();

    // The library's unzFile.
    void* handle() const { return unz_; }
    const std::shared_ptr<RemoteStreamRead>& stream() const { return stream_; }
    // The stream is closing, cancelled or failed (never for a local file).
    bool isExitStream() const;
    // An entry name as text, in this order: the UTF-8 name the archive
    // declares; the stored bytes when they are valid UTF-8 with at least one
    // multi-byte character; the user's character set and the rest of the
    // detection chain (QNTextEncoding). Nothing when nothing decodes.
    static std::optional<std::string> nameText(const Entry& entry);
    // The same for a name known only by its stored bytes.
    static std::optional<std::string> nameText(const std::string& storedName);
    // Those steps short of the detection chain: the name as UTF-8 when the
    // archive declares it or its bytes leave no doubt, else nothing.
    static std::optional<std::string> utf8NameText(const Entry& entry);
    static std::optional<std::string> utf8NameText(const std::string& storedName);

    // The number of entries the end record announces.
    uint64_t entryCount() const { return entryCount_; }

    Step goToFirst();
    Step goToNext();
    // The current entry's directory record.
    bool current(Entry& out);
    std::optional<Position> currentPosition();
    bool goTo(const Position& position);
    // Makes the first entry whose stored name is exactly `name` current.
    bool locate(const std::string& name);

    // Where the current entry's stored bytes start (behind its local
    // header), for the entries the library will not open itself. Nothing
    // when the records cannot be read or do not agree.
    std::optional<uint64_t> currentDataOffset();
    // Up to `size` bytes from `offset` of the archive file; fewer at its end,
    // on an error, or once the stream is closing.
    size_t readAt(uint64_t offset, void* out, size_t size);

    // The file the library reads (defined where the file functions are).
    struct Source;

private:
    ZipArchive(std::unique_ptr<Source> source, std::shared_ptr<RemoteStreamRead> stream);
    bool open();
    // Bytes in front of the zip in its file (none for most archives).
    uint64_t leadingBytes();
    // A stream's archive: asks for the end records and the directory in as
    // few requests as it can, before the library reads them.
    void requestStreamTail();
    // The end of the file that holds the end record: its 22 bytes and a
    // comment of up to 65,535.
    static constexpr uint64_t kEndSearchBytes = 0xFFFF + 22;

    std::unique_ptr<Source> source_;
    std::shared_ptr<RemoteStreamRead> stream_;
    std::vector<char> extra_;
    void* unz_ = nullptr;
    uint64_t entryCount_ = 0;
    std::optional<uint64_t> leadingBytes_;
    // Where the directory starts in the file (classic archives), found with leadingBytes_.
    std::optional<uint64_t> directoryStart_;
};
