#pragma once

#include "engine/SevenZipItem.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

class SevenZipLibrary;
namespace sz {
struct IInArchive;
}

// An archive opened through 7-Zip's library from a source of ours, and the
// one place where this program talks to that library. Any reader that needs
// one of its decoders uses it: open from a Source (a file, or bytes that
// come from anywhere), list the items, extract items to a Sink or one item
// into memory. Calls on one archive are serialised; the library may call
// the Source and Sink from threads of its own, one call at a time. Items
// are decoded on one thread, so that each reaches the Sink as soon as it is
// decoded (the first page of a solid block does not wait for the block).
class SevenZipArchive {
public:
    // The archive's bytes. Read delivers up to `size` bytes at the current
    // position (0 at the end); false is an error.
    class Source {
    public:
        virtual ~Source() = default;
        virtual bool read(void* data, uint32_t size, uint32_t& got) = 0;
        // whence: SEEK_SET, SEEK_CUR or SEEK_END.
        virtual bool seek(int64_t offset, int whence, uint64_t& position) = 0;
    };
    // A local file, or nothing when it cannot be opened for reading.
    static std::unique_ptr<Source> fileSource(const std::string& path);

    // Where extracted items go. begin() is called before an item's bytes,
    // end() after them with its result (sz::kOpOk, sz::kOpDataError...):
    // also when the extraction stopped in the middle (result -1). A false
    // answer stops the extraction.
    class Sink {
    public:
        virtual ~Sink() = default;
        virtual bool begin(uint32_t index) = 0;
        virtual bool write(const void* data, size_t size) = 0;
        virtual bool end(uint32_t index, int32_t result) = 0;
        // Bytes done of the total the library announced.
        virtual void progress(uint64_t /*done*/, uint64_t /*total*/) {}
    };

    // What went wrong last: the code (-1 when none was given), where it was
    // found and what it means.
    struct Error {
        int64_t code = -1;
        int64_t line = -1;
        std::string file;
        std::string description;
        // The archive asked for a password that was missing or wrong.
        bool password = false;
        bool isSet() const { return !description.empty(); }
    };

    // The password the archive asks for, as text; nothing or "" refuses.
    using PasswordGetter = std::function<std::optional<std::string>()>;

    // Opens the source as `format` ("7z", "zip", "xz"). Nothing on failure,
    // with the reason in `error`: library missing, not an archive of the
    // format, encrypted directory without (or with a wrong) password.
    static std::unique_ptr<SevenZipArchive> open(std::unique_ptr<Source> source, const std::string& format,
                                                 PasswordGetter passwordGetter, Error* error);
    static std::unique_ptr<SevenZipArchive> open(std::unique_ptr<Source> source, const std::string& format,
                                                 PasswordGetter passwordGetter, Error* error,
                                                 const SevenZipLibrary& library);
    ~SevenZipArchive();
    SevenZipArchive(const SevenZipArchive&) = delete;
    SevenZipArchive& operator=(const SevenZipArchive&) = delete;

    uint32_t itemCount() const { return count_; }
    // The item's record; nothing when the index is out of range or its
    // record cannot be read.
    std::optional<SevenZipItem> item(uint32_t index) const;
    // The archive says it is solid.
    bool isSolid() const;

    // While set, reads of the archive deliver nothing and progress reports
    // stop the extraction, so a running extraction ends soon.
    void setCancelFlag(const std::atomic<bool>* cancel);

    // Extracts the items (indexes, any order) into the sink; a null sink
    // only tests them. True when every item succeeded.
    bool extract(const std::vector<uint32_t>& indices, Sink* sink, Error* error);

    enum class BufferResult { Ok, TooLarge, NeedPassword, Failed };
    // The item's bytes into `out`, refused when it is larger than maxBytes.
    // NeedPassword: the item is encrypted and no password was given.
    BufferResult extractToBuffer(uint32_t index, uint64_t maxBytes, std::string& out, Error* error);
    // The item's first `upTo` bytes (all of it when shorter) into `out`,
    // decoding little more than they need: the decoders hand their output
    // on in pieces of up to a megabyte, so they are given only about as
    // many of the archive's bytes as are wanted (more when that gives too
    // few). Meant for an item that starts its block: one further into a
    // solid block costs all that comes before it. The bytes are not checked
    // against the item's CRC (only a whole item can be). Never TooLarge.
    BufferResult extractHead(uint32_t index, size_t upTo, std::string& out, Error* error);

private:
    class InStream;
    // extract() with the archive's reads stopped after `readAllowance`
    // bytes (the decoders then see its end); `starved` tells whether a read
    // was cut short by it.
    bool extractWithin(const std::vector<uint32_t>& indices, Sink* sink, Error* error, uint64_t readAllowance,
                       bool* starved);
    SevenZipArchive(const SevenZipLibrary& library, sz::IInArchive* archive, InStream* stream,
                    PasswordGetter getter, uint32_t count);

    const SevenZipLibrary& library_;
    sz::IInArchive* archive_;
    InStream* stream_;  // one reference of ours
    PasswordGetter passwordGetter_;
    uint32_t count_ = 0;
    mutable std::mutex mutex_;  // the library's archive object is not for two threads at once
};
