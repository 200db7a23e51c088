#pragma once

#include "engine/ZipArchive.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

// Reads the current entry of an open ZipArchive, checked from end to end:
// its size against a cap before anything is read (a small archive can claim
// gigabytes), its length and CRC when it ends.
//
// Plain entries go through the library. The library we build with cannot
// decrypt, so an encrypted entry is read raw, deciphered here (the
// traditional PKWARE cipher: the 12-byte header, whose last byte checks the
// password) and then inflated with zlib or copied. Only stored and deflated
// entries are read; other methods (deflate64, bzip2, LZMA...) and AES or
// other strong encryption are refused as unsupported rather than handed
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
        Unsupported,    // a compression method or encryption that is not read here
        TooLarge,       // bigger than the caller allows
        BadData,        // corrupt: the compressed data, the length or the CRC
        ReadError,      // the archive could not be read or the entry not opened
        Cancelled,      // the stream is shutting down
    };

    // The size of the pieces in which whole entries are read.
    static constexpr size_t kPieceBytes = 10'250;

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
    Status fail(Status s);
    Status readPlain(char* out, size_t size, size_t& got);
    Status readDeciphered(char* out, size_t size, size_t& got);
    Status fill();
    Status finish();

    ZipArchive& archive_;
    ZipArchive::Entry entry_;
    bool opened_ = false;
    bool done_ = false;
    uint64_t remaining_ = 0;

    // Encrypted entries.
    std::unique_ptr<Cipher> cipher_;
    std::unique_ptr<unsigned char[]> in_;
    size_t inPos_ = 0, inLen_ = 0;
    bool rawEnded_ = false;
    struct Inflater;
    std::unique_ptr<Inflater> inflater_;
    uint32_t crc_ = 0;
};
