#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

// A look at the first block of a RAR 5 archive before UnRAR is given it.
//
// UnRAR trusts the sizes inside the main archive header: an extra record
// that claims less than its fields need, or an extra area that reaches
// outside the header, makes it read memory it never filled, and it crashes
// while opening. We check the block ourselves: its checksum, its size, and
// that every number, the extra area, each extra record and the locator's
// fields lie within what encloses them. Anything else in the archive is
// left to UnRAR.
class Rar5HeaderCheck {
public:
    enum class Verdict {
        NotRar5,    // no RAR 5 signature at the start: nothing to say
        Sound,      // the first block is well formed
        Malformed,  // refuse the archive before UnRAR reads it
        NeedMore,   // `head` ends inside the first block and more of the file follows
    };

    // RAR 5 limits a header to 2 MB.
    static constexpr size_t kMaxHeaderSize = 2 * 1024 * 1024;
    // The most bytes check() asks for: signature, checksum, size field, header.
    static constexpr size_t kMaxBlockBytes = 8 + 4 + 10 + kMaxHeaderSize;

    // `head` holds the file's first bytes; `atEnd` says it is the whole file.
    static Verdict check(std::string_view head, bool atEnd);

    // UnRAR also finds an archive behind a self-extracting program, at a RAR
    // signature (of any version) within this many bytes of the start.
    static constexpr size_t kSfxSearch = 0x200000;
    // Where the archives UnRAR may take as this file's begin in `head`: 0
    // when a signature starts the file, else every signature up to the first
    // at kSfxSkip or later (UnRAR's search may begin a few bytes in). Empty
    // when `head` holds none; more of the file may.
    static constexpr size_t kSfxSkip = 7;
    static std::vector<size_t> archiveStarts(std::string_view head);

    // Bytes of the first block `head` announces (a guess of 64 while even
    // the size field is cut off), capped at kMaxBlockBytes.
    static size_t bytesWanted(std::string_view head);
};
