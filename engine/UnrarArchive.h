#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

// A RAR archive (RAR 1.5 to 5, volume sets, solid, encrypted data or
// headers) read through the UnRAR library. The path is a local file or a
// stream path of RarStreamShim.
//
// Entries are numbered in archive order (parts of a file continued from a
// previous volume are not entries of their own). One extraction handle is
// kept open between reads: a solid archive read in order costs each entry
// once, and in any other archive an entry is reached by seeking to the
// position the listing found for it. Where that seek cannot be trusted (a
// volume set, a library whose handle does not look as expected, a header
// found there that is not the one listed) the archive is walked from its
// start instead.
//
// UnRAR keeps process-wide state, so every call into it is made under one
// lock (libraryMutex); one object is used by one thread at a time. A thread
// that waits for a remote block inside the library runs the main loop; a
// call made from there fails (Unreadable) rather than waiting on itself.
class UnrarArchive {
public:
    enum class Status {
        Ok,
        Password,     // a password is needed, or the one given is wrong
        Damaged,      // bad data, a checksum error, a truncated or broken archive
        NotRar,       // not a RAR archive
        Unreadable,   // the file cannot be opened or read (a stream that stopped)
        TooLarge,     // larger than the caller's cap
        NotFound,     // no such entry
        NoMemory,     // the library could not allocate what the entry needs (its dictionary)
    };

    struct Entry {
        // The stored name bytes (Shift-JIS of old archives kept as they are,
        // UTF-8 otherwise), "/" appended for a folder; no NUL.
        std::string name;
        uint64_t size = 0;      // unpacked
        int64_t position = -1;  // where its header starts; -1 unknown
        bool isDirectory = false;
        bool isEncrypted = false;
    };

    // More entries than any book has: such a listing is refused (TooLarge)
    // rather than held in memory.
    static constexpr size_t kMaxEntries = 1'000'000;

    UnrarArchive(std::string path, std::optional<std::string> password);
    ~UnrarArchive();
    UnrarArchive(const UnrarArchive&) = delete;
    UnrarArchive& operator=(const UnrarArchive&) = delete;

    const std::string& path() const { return path_; }

    // Every entry in archive order, with positions. Also learns the
    // archive's solid and volume flags.
    Status unrarListFilesNoEncodingWithFileSizeArray(std::vector<Entry>& entries);
    // Opens the archive only to read its flags.
    Status probe();
    bool isSolidArchive() const { return solid_; }
    bool isVolume() const { return volume_; }

    // The entry `index` of the listing, whole, into `out`; TooLarge (and
    // nothing read) when it is larger than `maxBytes`. `expected` is the
    // entry as listed (position and name are checked against the archive).
    Status extractStreamWithPoint(size_t index, const Entry& expected, uint64_t maxBytes, std::string& out);
    // The same, handed piece by piece to `sink`; a sink that returns false
    // stops the extraction (Unreadable).
    using Sink = std::function<bool(const char* data, size_t size)>;
    Status extractStreamWithPointTarget(size_t index, const Entry& expected, const Sink& sink);

    // Closes the kept handle (the next extraction reopens).
    void unrarCloseFile();
    // While `*cancel` is set, extractions end at their next read of the
    // archive (Unreadable), the kept handle dropped with them. The flag
    // outlives this object; null: none.
    void setCancelFlag(const std::atomic<bool>* cancel) { cancel_ = cancel; }

    // The UnRAR result code as a status.
    static Status statusOfCode(int code);
    static std::mutex& libraryMutex();
    // False once a handle of this library was found not to have the layout
    // the seek relies on (every extraction then walks the archive).
    static bool handleLayoutUsable();

private:
    struct Handle;
    Status openHandle(int mode, std::unique_ptr<Handle>& out);
    Status reachEntry(size_t index, const Entry& expected);
    Status walkTo(size_t index);
    Status readHeader(Entry* entry, unsigned* flags);
    Status readEntryHeader(Entry* entry);
    Status failure(int code) const;
    Status process(const Entry& expected, const Sink& sink);
    // extractStreamWithPointTarget under the library lock.
    Status extractLocked(size_t index, const Entry& expected, const Sink& sink);

    std::string path_;
    bool headerChecked_ = false;  // the first block passed Rar5HeaderCheck
    std::optional<std::string> password_;
    bool solid_ = false;
    bool volume_ = false;
    std::unique_ptr<Handle> handle_;
    // The entry whose header the kept handle reads next.
    size_t nextIndex_ = 0;
    // The last reachEntry got there by a seek.
    bool seeked_ = false;
    const std::atomic<bool>* cancel_ = nullptr;
};
