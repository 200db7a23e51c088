#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

// Turns a zip entry's compressed bytes (already deciphered) back into its
// data. Stored, deflate (zlib), bzip2 (libbz2) and LZMA (liblzma) entries
// are decoded as their bytes come; Deflate64 and PPMd only through 7-Zip's
// library, from the whole entry at once (decodeWhole).
class ZipEntryDecoder {
public:
    enum class Result {
        Ok,       // progress; call again
        End,      // the compressed stream ended here
        BadData,  // corrupt, or cut short
        Failed,   // the decoder could not be set up (memory)
    };

    static constexpr uint32_t kStored = 0;
    static constexpr uint32_t kDeflated = 8;
    static constexpr uint32_t kDeflate64 = 9;
    static constexpr uint32_t kBzip2 = 12;
    static constexpr uint32_t kLzma = 14;
    static constexpr uint32_t kPpmd = 98;

    // Methods read here at all; those needing decodeWhole among them.
    static bool isKnownMethod(uint32_t method);
    static bool isWholeEntryMethod(uint32_t method) { return method == kDeflate64 || method == kPpmd; }

    // A decoder for a method decoded as it comes; nothing for the others.
    // `flag` is the entry's general-purpose flag (LZMA's end marker bit),
    // `size` its announced uncompressed size.
    static std::unique_ptr<ZipEntryDecoder> make(uint32_t method, uint32_t flag, uint64_t size);

    virtual ~ZipEntryDecoder() = default;
    // Consumes from `in` (advancing it and shrinking `inLength`) and writes
    // up to `outLength` bytes to `out`, counted in `produced`. `inputEnded`:
    // no bytes will follow those given.
    virtual Result decode(const unsigned char*& in, size_t& inLength, bool inputEnded, char* out, size_t outLength,
                          size_t& produced) = 0;

    enum class WholeResult { Ok, BadData, TooLarge, NoLibrary };
    // A Deflate64 or PPMd entry's data through 7-Zip's library, handed the
    // bytes as a one-entry zip of its own. The library checks `crc` when
    // `crcKnown`; at most `size` bytes are accepted.
    static WholeResult decodeWhole(uint32_t method, const std::string& compressed, uint64_t size, uint32_t crc,
                                   bool crcKnown, std::string& out);
};
