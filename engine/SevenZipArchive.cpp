#include "engine/SevenZipArchive.h"

#include "engine/MemoryItemSink.h"
#include "engine/SevenZipInterfaces.h"
#include "engine/SevenZipLibrary.h"
#include "platform/core/FileManager.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

void record(SevenZipArchive::Error* error, int64_t code, int line, std::string description) {
    if (!error) return;
    error->code = code;
    error->line = line;
    error->file = __FILE_NAME__;
    error->description = std::move(description);
}

#define RECORD(error, code, text) record((error), (code), __LINE__, (text))

const char* operationResultName(int32_t result) {
    switch (result) {
    case sz::kOpUnsupportedMethod: return "kUnsupportedMethod";
    case sz::kOpDataError: return "kDataError";
    case sz::kOpCrcError: return "kCRCError";
    case sz::kOpUnavailable: return "kUnavailable";
    case sz::kOpUnexpectedEnd: return "kUnexpectedEnd";
    case sz::kOpDataAfterEnd: return "kDataAfterEnd";
    case sz::kOpIsNotArc: return "kIsNotArc";
    case sz::kOpHeadersError: return "kHeadersError";
    case sz::kOpWrongPassword: return "kWrongPassword";
    default: return nullptr;
    }
}

// Reference counting shared by our objects handed to the library. The
// library may release them from its own threads.
class RefCounted {
public:
    virtual ~RefCounted() = default;
    sz::ULONG addRef() { return refs_.fetch_add(1) + 1; }
    sz::ULONG release() {
        const sz::ULONG left = refs_.fetch_sub(1) - 1;
        if (left == 0) delete this;
        return left;
    }

private:
    std::atomic<sz::ULONG> refs_{1};
};

#define LB_SZ_REFCOUNT                                           \
    sz::ULONG AddRef() override { return addRef(); }             \
    sz::ULONG Release() override { return release(); }

class FileSource : public SevenZipArchive::Source {
public:
    explicit FileSource(std::FILE* f) : file_(f) {}
    ~FileSource() override { std::fclose(file_); }
    bool read(void* data, uint32_t size, uint32_t& got) override {
        got = uint32_t(std::fread(data, 1, size, file_));
        return got == size || !std::ferror(file_);
    }
    bool seek(int64_t offset, int whence, uint64_t& position) override {
        if (::fseeko(file_, off_t(offset), whence) != 0) return false;
        const off_t at = ::ftello(file_);
        if (at < 0) return false;
        position = uint64_t(at);
        return true;
    }

private:
    std::FILE* file_;
};

// Answers the library's password question from the getter. The password
// is given as the library's own string, which the library frees.
sz::HRESULT answerPassword(const SevenZipLibrary& library, const SevenZipArchive::PasswordGetter& getter,
                           sz::BSTR* out, SevenZipArchive::Error* error, bool* asked) {
    if (!out) return sz::kInvalidArg;
    *out = nullptr;
    if (asked) *asked = true;
    std::optional<std::string> password = getter ? getter() : std::nullopt;
    if (!password || password->empty()) {
        RECORD(error, sz::kAbort, "Password is required, but there is no coder or password is empty");
        return sz::kAbort;
    }
    *out = library.makeString(SevenZipLibrary::utf32FromUtf8(*password));
    return *out ? sz::kOk : sz::kOutOfMemory;
}

class OpenCallback : public sz::IArchiveOpenCallback,
                     public sz::ICryptoGetTextPassword,
                     public sz::ICryptoGetTextPassword2,
                     public RefCounted {
public:
    OpenCallback(const SevenZipLibrary& library, const SevenZipArchive::PasswordGetter& getter,
                 SevenZipArchive::Error* error)
        : library_(library), getter_(getter), error_(error) {}

    sz::HRESULT QueryInterface(const sz::GUID& iid, void** out) override {
        const auto& ids = library_.ids();
        if (sz::sameGuid(iid, ids.unknown) || sz::sameGuid(iid, ids.archiveOpenCallback))
            *out = static_cast<sz::IArchiveOpenCallback*>(this);
        else if (sz::sameGuid(iid, ids.cryptoGetTextPassword))
            *out = static_cast<sz::ICryptoGetTextPassword*>(this);
        else if (sz::sameGuid(iid, ids.cryptoGetTextPassword2))
            *out = static_cast<sz::ICryptoGetTextPassword2*>(this);
        else {
            *out = nullptr;
            return sz::kNoInterface;
        }
        addRef();
        return sz::kOk;
    }
    LB_SZ_REFCOUNT
    sz::HRESULT SetTotal(const uint64_t*, const uint64_t*) override { return sz::kOk; }
    sz::HRESULT SetCompleted(const uint64_t*, const uint64_t*) override { return sz::kOk; }
    sz::HRESULT CryptoGetTextPassword(sz::BSTR* password) override {
        return answerPassword(library_, getter_, password, error_, &passwordAsked);
    }
    sz::HRESULT CryptoGetTextPassword2(int32_t* isDefined, sz::BSTR* password) override {
        const sz::HRESULT r = answerPassword(library_, getter_, password, error_, &passwordAsked);
        if (isDefined) *isDefined = r == sz::kOk ? 1 : 0;
        return r;
    }

    bool passwordAsked = false;

private:
    const SevenZipLibrary& library_;
    const SevenZipArchive::PasswordGetter& getter_;
    SevenZipArchive::Error* error_;
};

class OutStream : public sz::ISequentialOutStream, public RefCounted {
public:
    OutStream(const SevenZipLibrary& library, SevenZipArchive::Sink* sink) : library_(library), sink_(sink) {}
    sz::HRESULT QueryInterface(const sz::GUID& iid, void** out) override {
        if (sz::sameGuid(iid, library_.ids().unknown) || sz::sameGuid(iid, library_.ids().sequentialOutStream)) {
            *out = static_cast<sz::ISequentialOutStream*>(this);
            addRef();
            return sz::kOk;
        }
        *out = nullptr;
        return sz::kNoInterface;
    }
    LB_SZ_REFCOUNT
    sz::HRESULT Write(const void* data, uint32_t size, uint32_t* processed) override {
        if (processed) *processed = 0;
        if (size > 0 && !sink_->write(data, size)) return sz::kFail;
        if (processed) *processed = size;
        return sz::kOk;
    }

private:
    const SevenZipLibrary& library_;
    SevenZipArchive::Sink* sink_;
};

class ExtractCallback : public sz::IArchiveExtractCallback, public sz::ICryptoGetTextPassword, public RefCounted {
public:
    ExtractCallback(const SevenZipLibrary& library, const SevenZipArchive::PasswordGetter& getter,
                    SevenZipArchive::Sink* sink, const std::atomic<bool>* cancel, SevenZipArchive::Error* error)
        : library_(library), getter_(getter), sink_(sink), cancel_(cancel), error_(error) {}

    sz::HRESULT QueryInterface(const sz::GUID& iid, void** out) override {
        const auto& ids = library_.ids();
        if (sz::sameGuid(iid, ids.unknown) || sz::sameGuid(iid, ids.archiveExtractCallback) ||
            sz::sameGuid(iid, ids.progress))
            *out = static_cast<sz::IArchiveExtractCallback*>(this);
        else if (sz::sameGuid(iid, ids.cryptoGetTextPassword))
            *out = static_cast<sz::ICryptoGetTextPassword*>(this);
        else {
            *out = nullptr;
            return sz::kNoInterface;
        }
        addRef();
        return sz::kOk;
    }
    LB_SZ_REFCOUNT
    sz::HRESULT SetTotal(uint64_t total) override {
        total_ = total;
        return sz::kOk;
    }
    sz::HRESULT SetCompleted(const uint64_t* completed) override {
        if (cancelled()) return sz::kAbort;
        if (completed && sink_) sink_->progress(*completed, total_);
        return sz::kOk;
    }
    sz::HRESULT GetStream(uint32_t index, sz::ISequentialOutStream** out, int32_t askExtractMode) override {
        if (!out) return sz::kInvalidArg;
        *out = nullptr;
        if (cancelled()) return sz::kAbort;
        current_ = index;
        if (askExtractMode != sz::kAskExtract || !sink_) return sz::kOk;
        if (!sink_->begin(index)) {
            if (!error_ || !error_->isSet())
                RECORD(error_, -1, "Can't open destination for write: item " + std::to_string(index));
            return sz::kFail;
        }
        open_ = true;
        *out = new OutStream(library_, sink_);
        return sz::kOk;
    }
    sz::HRESULT PrepareOperation(int32_t) override { return sz::kOk; }
    sz::HRESULT SetOperationResult(int32_t result) override {
        if (result != sz::kOpOk) {
            const char* name = operationResultName(result);
            RECORD(error_, result, name ? name : "Unknown operation result: " + std::to_string(result));
        }
        bool kept = true;
        if (open_) {
            open_ = false;
            kept = sink_->end(current_, result);
        }
        if (result != sz::kOpOk || !kept) {
            failed = true;
            return sz::kFail;
        }
        return sz::kOk;
    }
    sz::HRESULT CryptoGetTextPassword(sz::BSTR* password) override {
        return answerPassword(library_, getter_, password, error_, &passwordAsked);
    }

    // An item left open by an extraction that stopped in its middle.
    void finish() {
        if (open_) {
            open_ = false;
            sink_->end(current_, -1);
            failed = true;
        }
    }

    bool failed = false;
    bool passwordAsked = false;

private:
    bool cancelled() const { return cancel_ && cancel_->load(); }

    const SevenZipLibrary& library_;
    const SevenZipArchive::PasswordGetter& getter_;
    SevenZipArchive::Sink* sink_;
    const std::atomic<bool>* cancel_;
    SevenZipArchive::Error* error_;
    uint64_t total_ = 0;
    uint32_t current_ = 0;
    bool open_ = false;
};

// Keeps an item's first bytes, and stops the extraction once it has them.
class HeadSink : public SevenZipArchive::Sink {
public:
    HeadSink(std::string& out, size_t upTo) : out_(out), upTo_(upTo) {}
    bool begin(uint32_t) override {
        out_.clear();
        return true;
    }
    bool write(const void* data, size_t size) override {
        out_.append(static_cast<const char*>(data), std::min(size, upTo_ - out_.size()));
        return out_.size() < upTo_;
    }
    bool end(uint32_t, int32_t r) override {
        result = r;
        return true;
    }

    int32_t result = -1;  // the library's verdict on the item; -1 until it ends

private:
    std::string& out_;
    size_t upTo_;
};

constexpr uint64_t kUnlimited = UINT64_MAX;

// Items are decoded on one thread: a solid block decoded by several
// threads comes out only once all of it is decoded, and its first page
// would wait for the whole block. One thread hands each item over as soon
// as it is decoded, in about the same time for the whole block. A handler
// that takes no such setting decodes as it does.
void decodeOnOneThread(const SevenZipLibrary& library, sz::IInArchive* archive) {
    const auto& id = library.ids().setProperties;
    void* object = nullptr;
    if (!id || archive->QueryInterface(*id, &object) != sz::kOk || !object) return;
    auto* settings = static_cast<sz::ISetProperties*>(object);
    const wchar_t* const names[] = {L"mt"};
    sz::PropVariant threads;
    threads.vt = sz::kVtUI4;
    threads.ulVal = 1;
    settings->SetProperties(names, &threads, 1);
    settings->Release();
}

}  // namespace

// The archive's input: reads deliver nothing once the cancel flag is set,
// which makes the decoder stop at its next read, nor past the allowance of
// an extraction that wants only an item's first bytes (the decoder then
// sees the end of its data).
class SevenZipArchive::InStream : public sz::IInStream, public RefCounted {
public:
    InStream(const SevenZipLibrary& library, std::unique_ptr<Source> source)
        : library_(library), source_(std::move(source)) {}
    sz::HRESULT QueryInterface(const sz::GUID& iid, void** out) override {
        const auto& ids = library_.ids();
        if (sz::sameGuid(iid, ids.unknown) || sz::sameGuid(iid, ids.inStream) ||
            sz::sameGuid(iid, ids.sequentialInStream)) {
            *out = static_cast<sz::IInStream*>(this);
            addRef();
            return sz::kOk;
        }
        *out = nullptr;
        return sz::kNoInterface;
    }
    LB_SZ_REFCOUNT
    sz::HRESULT Read(void* data, uint32_t size, uint32_t* processed) override {
        if (processed) *processed = 0;
        const std::atomic<bool>* cancel = cancel_.load();
        if (cancel && cancel->load()) return sz::kFalse;
        // The library reads one call at a time.
        const uint64_t left = allowance_.load();
        const bool cut = left != kUnlimited && left < size;
        if (cut) size = uint32_t(left);
        uint32_t got = 0;
        if (size > 0 && !source_->read(data, size, got)) return sz::kFail;
        if (left != kUnlimited) allowance_.store(left - std::min<uint64_t>(got, left));
        // Cut short by the allowance, not by the source's end.
        if (cut && got == size) starved_.store(true);
        if (processed) *processed = got;
        return sz::kOk;
    }
    sz::HRESULT Seek(int64_t offset, uint32_t origin, uint64_t* newPosition) override {
        const int whence = origin == sz::kSeekSet ? SEEK_SET : origin == sz::kSeekCur ? SEEK_CUR : SEEK_END;
        if (origin > sz::kSeekEnd) return sz::kInvalidArg;
        uint64_t at = 0;
        if (!source_->seek(offset, whence, at)) return sz::kFail;
        if (newPosition) *newPosition = at;
        return sz::kOk;
    }
    std::atomic<const std::atomic<bool>*> cancel_{nullptr};
    // Bytes the reads may still deliver, and whether one was cut short by
    // that; set by the extraction holding the archive.
    std::atomic<uint64_t> allowance_{kUnlimited};
    std::atomic<bool> starved_{false};

private:
    const SevenZipLibrary& library_;
    std::unique_ptr<Source> source_;
};

std::unique_ptr<SevenZipArchive::Source> SevenZipArchive::fileSource(const std::string& path) {
    std::FILE* f = sys::FileManager::openRegularFileStream(path);
    if (!f) return nullptr;
    return std::make_unique<FileSource>(f);
}

std::unique_ptr<SevenZipArchive> SevenZipArchive::open(std::unique_ptr<Source> source, const std::string& format,
                                                       PasswordGetter passwordGetter, Error* error) {
    return open(std::move(source), format, std::move(passwordGetter), error, SevenZipLibrary::shared());
}

std::unique_ptr<SevenZipArchive> SevenZipArchive::open(std::unique_ptr<Source> source, const std::string& format,
                                                       PasswordGetter passwordGetter, Error* error,
                                                       const SevenZipLibrary& library) {
    if (error) *error = Error{};
    if (!library.available()) {
        RECORD(error, -1, library.failureReason());
        return nullptr;
    }
    if (!source) {
        RECORD(error, -1, "Can't open file for reading");
        return nullptr;
    }
    sz::IInArchive* archive = library.createInArchive(format);
    if (!archive) {
        RECORD(error, -1, "Can't find codec for unsupported file type: " + format);
        return nullptr;
    }
    decodeOnOneThread(library, archive);
    auto* stream = new InStream(library, std::move(source));
    auto* callback = new OpenCallback(library, passwordGetter, error);
    const uint64_t maxCheckStart = 1 << 20;
    const sz::HRESULT r = archive->Open(stream, &maxCheckStart, callback);
    const bool asked = callback->passwordAsked;
    callback->Release();
    uint32_t count = 0;
    if (r != sz::kOk) {
        if (!error || !error->isSet() || error->code != sz::kAbort)
            RECORD(error, r, asked ? "Can't open archive file: wrong password" : "Can't open archive file");
        if (error) error->password = asked;
        archive->Close();
        archive->Release();
        stream->Release();
        return nullptr;
    }
    if (archive->GetNumberOfItems(&count) != sz::kOk) {
        RECORD(error, -1, "Can't receive number of archive items");
        archive->Close();
        archive->Release();
        stream->Release();
        return nullptr;
    }
    return std::unique_ptr<SevenZipArchive>(
        new SevenZipArchive(library, archive, stream, std::move(passwordGetter), count));
}

SevenZipArchive::SevenZipArchive(const SevenZipLibrary& library, sz::IInArchive* archive, InStream* stream,
                                 PasswordGetter getter, uint32_t count)
    : library_(library), archive_(archive), stream_(stream), passwordGetter_(std::move(getter)), count_(count) {}

SevenZipArchive::~SevenZipArchive() {
    std::lock_guard lock(mutex_);
    archive_->Close();
    archive_->Release();
    stream_->Release();
}

void SevenZipArchive::setCancelFlag(const std::atomic<bool>* cancel) { stream_->cancel_.store(cancel); }

std::optional<SevenZipItem> SevenZipArchive::item(uint32_t index) const {
    if (index >= count_) return std::nullopt;
    std::lock_guard lock(mutex_);
    SevenZipItem item;
    item.index = index;
    auto property = [&](sz::PROPID id, auto&& use) {
        sz::PropVariant v;
        if (archive_->GetProperty(index, id, &v) == sz::kOk) use(v);
        library_.clear(v);
    };
    bool known = false;
    property(sz::kpidSize, [&](const sz::PropVariant& v) {
        if (v.vt == sz::kVtUI8) item.orgSize = v.uhVal, known = true;
        else if (v.vt == sz::kVtUI4) item.orgSize = v.ulVal, known = true;
    });
    bool pathOk = true;
    property(sz::kpidPath, [&](const sz::PropVariant& v) {
        if (v.vt != sz::kVtBstr || !v.bstrVal) return;
        known = true;
        if (auto text = SevenZipLibrary::utf8FromWide(v.bstrVal)) item.path = std::move(*text);
        else pathOk = false;
    });
    if (!known) return std::nullopt;
    if (!pathOk) item.path.clear();
    property(sz::kpidBlock, [&](const sz::PropVariant& v) {
        if (v.vt == sz::kVtUI8) item.block = v.uhVal;
        else if (v.vt == sz::kVtUI4) item.block = v.ulVal;
    });
    auto time = [&](sz::PROPID id, int64_t& target) {
        property(id, [&](const sz::PropVariant& v) {
            if (v.vt == sz::kVtFileTime)
                target = SevenZipItem::unixSecondsFromFileTime(uint64_t(v.filetime.high) << 32 | v.filetime.low);
        });
    };
    time(sz::kpidCTime, item.cDate);
    time(sz::kpidATime, item.aDate);
    time(sz::kpidMTime, item.mDate);
    property(sz::kpidEncrypted, [&](const sz::PropVariant& v) {
        if (v.vt == sz::kVtBool && v.boolVal != 0) item.flags |= SevenZipItem::kEncrypted;
    });
    property(sz::kpidCRC, [&](const sz::PropVariant& v) {
        if (v.vt == sz::kVtUI4) item.crc = v.ulVal;
    });
    property(sz::kpidIsDir, [&](const sz::PropVariant& v) {
        if (v.vt == sz::kVtBool && v.boolVal != 0) item.flags |= SevenZipItem::kDirectory;
    });
    return item;
}

bool SevenZipArchive::isSolid() const {
    std::lock_guard lock(mutex_);
    sz::PropVariant v;
    bool solid = archive_->GetArchiveProperty(sz::kpidSolid, &v) == sz::kOk && v.vt == sz::kVtBool && v.boolVal != 0;
    library_.clear(v);
    return solid;
}

bool SevenZipArchive::extract(const std::vector<uint32_t>& indices, Sink* sink, Error* error) {
    if (error) *error = Error{};
    if (indices.empty()) return true;
    for (uint32_t i : indices)
        if (i >= count_) {
            RECORD(error, -1, "Item index out of range: " + std::to_string(i));
            return false;
        }
    return extractWithin(indices, sink, error, kUnlimited, nullptr);
}

bool SevenZipArchive::extractWithin(const std::vector<uint32_t>& indices, Sink* sink, Error* error,
                                    uint64_t readAllowance, bool* starved) {
    if (error) *error = Error{};
    // The library wants the indexes in archive order.
    std::vector<uint32_t> sorted = indices;
    std::sort(sorted.begin(), sorted.end());
    sorted.erase(std::unique(sorted.begin(), sorted.end()), sorted.end());

    std::lock_guard lock(mutex_);
    stream_->allowance_.store(readAllowance);
    stream_->starved_.store(false);
    auto* callback = new ExtractCallback(library_, passwordGetter_, sink, stream_->cancel_.load(), error);
    const sz::HRESULT r =
        archive_->Extract(sorted.data(), uint32_t(sorted.size()), sink ? 0 : 1, callback);
    callback->finish();
    const bool failed = callback->failed;
    callback->Release();
    if (starved) *starved = stream_->starved_.load();
    stream_->allowance_.store(kUnlimited);
    if (r != sz::kOk) {
        if (!error || !error->isSet()) RECORD(error, r, "Archive extract error");
        return false;
    }
    return !failed;
}

SevenZipArchive::BufferResult SevenZipArchive::extractToBuffer(uint32_t index, uint64_t maxBytes, std::string& out,
                                                               Error* error) {
    out.clear();
    auto it = item(index);
    if (!it || it->isDirectory()) {
        RECORD(error, -1, "No file item at index " + std::to_string(index));
        return BufferResult::Failed;
    }
    if (it->orgSize > maxBytes) {
        RECORD(error, -1, "Item " + std::to_string(index) + " is larger than " + std::to_string(maxBytes) + " bytes");
        return BufferResult::TooLarge;
    }
    MemoryItemSink sink(out, maxBytes);
    Error local;
    Error* e = error ? error : &local;
    const bool ok = extract({index}, &sink, e);
    if (ok && sink.result == sz::kOpOk) return BufferResult::Ok;
    out.clear();
    if (sink.tooLarge) return BufferResult::TooLarge;
    if (e->code == sz::kAbort && it->isEncrypted()) {
        e->password = true;
        return BufferResult::NeedPassword;
    }
    return BufferResult::Failed;
}

SevenZipArchive::BufferResult SevenZipArchive::extractHead(uint32_t index, size_t upTo, std::string& out,
                                                           Error* error) {
    out.clear();
    if (error) *error = Error{};
    auto it = item(index);
    if (!it || it->isDirectory()) {
        RECORD(error, -1, "No file item at index " + std::to_string(index));
        return BufferResult::Failed;
    }
    const size_t want = size_t(std::min<uint64_t>(upTo, it->orgSize));
    if (want == 0) return BufferResult::Ok;
    // Pictures hardly compress, so their first bytes come from about as
    // many of the archive's, with some room for the coders' own; a coder
    // that writes only whole blocks of its own gets more, in steps.
    uint64_t allowance = want < (kUnlimited >> 2) ? want + want / 8 + 512 : kUnlimited;
    Error local;
    Error* e = error ? error : &local;
    for (;;) {
        HeadSink sink(out, want);
        bool starved = false;
        const bool ok = extractWithin({index}, &sink, e, allowance, &starved);
        // Stopped by the sink once it had the bytes: no failure.
        if (out.size() >= want || (ok && sink.result == sz::kOpOk)) {
            *e = Error{};
            return BufferResult::Ok;
        }
        out.clear();
        if (e->code == sz::kAbort && it->isEncrypted()) {
            e->password = true;
            return BufferResult::NeedPassword;
        }
        // Decoding ended before the bytes it was given did: a damaged
        // item (or a cancel), which more of them would not mend.
        if (!starved) return BufferResult::Failed;
        allowance = allowance < (kUnlimited >> 2) ? allowance * 4 : kUnlimited;
    }
}
