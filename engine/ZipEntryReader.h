#pragma once

#include "engine/ZipArchive.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

class ZipAesDecryptor;
class ZipEntryDecoder;

// Reads the current entry of an open ZipArchive, checked from end to end:
// its size against a cap before anything is read (a small archive can claim
// gigabytes), its length and CRC when it ends.
//
// Plain stored and deflated entries go through the library. The library we
// build with neither decrypts nor knows the other methods, so every other
// entry is read raw from behind its local header, deciphered here (the
// traditional PKWARE cipher, whose 12-byte header's last byte checks the
// password, or WinZip's AES, ZipAesDecryptor) and decoded by
// ZipEntryDecoder: stored, deflate, bzip2 and LZMA as the bytes come,
// Deflate64 and PPMd whole through 7-Zip's library. An AES entry's
// authentication code is checked as soon as its last byte is read, before
// the entry ends and before a whole-entry method decodes anything; it
// stands in for the CRC that version 2 of that format leaves out. Other
// methods and other strong encryption are refused rather than handed
// through undecoded.
//
// One entry at a time; the archive must not move to another entry while one
// is open.
class ZipEntryReader {
public:
    enum class Status {
        Ok,             // bytes were delivered
        End,            // the whole entry was delivered, with the right length and CRC
        NeedPassword,   // encrypted, and no password was given
        WrongPassword,  // the password does not open the entry (or garbles it)
        UnknownMethod,  // compressed with a method that is not read here
        Unsupported,    // an encryption that is not read here
        TooLarge,       // bigger than the caller allows
        BadData,        // corrupt: the compressed data, the length or the CRC
        AuthenticationFailed,  // an AES entry whose bytes are not those its code vouches for
        ReadError,      // the archive could not be read or the entry not opened
        Cancelled,      // the stream is shutting down
    };

    // The size of the pieces in which whole entries are read.
    static constexpr size_t kPieceBytes = 10'250;
    // Deflate64 and PPMd entries are decoded in memory from all their
    // compressed bytes, so they are refused above this size whatever the
    // caller allows.
    static constexpr uint64_t kMaxWholeEntryBytes = 512ull << 20;

    explicit ZipEntryReader(ZipArchive& archive);
    ~ZipEntryReader();
    ZipEntryReader(const ZipEntryReader&) = delete;
    ZipEntryReader& operator=(const ZipEntryReader&) = delete;

    // Opens the archive's current entry. `password` is given in the bytes
    // the archive was made with; it is used only when the entry is encrypted.
    Status open(const std::optional<std::string>& password, uint64_t maxBytes);
    // The entry's directory record (after open).
    const ZipArchive::Entry& entry() const { return entry_; }

    // Up to `size` bytes into `buffer`; `got` receives the count. Ok with
    // bytes, End once everything was delivered and checked, else an error
    // (after which the entry is closed).
    Status read(void* buffer, size_t size, size_t& got);
    // The whole entry.
    Status readAll(std::string& out);
    void close();

private:
    struct Cipher;
    Status openRaw(const std::optional<std::string>& password, uint32_t method);
    Status fail(Status s);
    Status readPlain(char* out, size_t size, size_t& got);
    Status readDecoded(char* out, size_t size, size_t& got);
    Status readRawBytes(unsigned char* out, size_t size);
    Status fill();
    Status finish();

    ZipArchive& archive_;
    ZipArchive::Entry entry_;
    bool opened_ = false;
    bool libraryOpen_ = false;
    bool done_ = false;
    uint64_t remaining_ = 0;
    uint32_t crc_ = 0;
    bool checkCrc_ = true;
    bool isPkware_ = false;

    // Entries read raw: where their next byte lies and how many data bytes
    // are left (the AES code behind them not counted).
    uint64_t rawOffset_ = 0;
    uint64_t rawLeft_ = 0;
    std::unique_ptr<Cipher> cipher_;
    std::unique_ptr<ZipAesDecryptor> aes_;
    std::unique_ptr<ZipEntryDecoder> decoder_;
    std::unique_ptr<unsigned char[]> in_;
    size_t inPos_ = 0, inLen_ = 0;
    bool rawEnded_ = false;
    bool decoderEnded_ = false;
    // Whole-entry methods: the decoded entry, handed out from here.
    std::optional<std::string> whole_;
    size_t wholePos_ = 0;
};
