#pragma once

// The binary interface of 7-Zip's 7z.so as this program uses it, declared
// here from the library's documented behaviour and checked when the library
// is loaded (SevenZipLibrary): COM-style objects whose first word is a
// table of plain functions. On Linux the library's IUnknown has exactly the
// three classic slots (no virtual destructor), the calling convention is
// the platform's ordinary one, HRESULT and ULONG are 32-bit, and wide
// strings are UTF-32 wchar_t. Never delete one of these objects: Release.

#include <cstdint>
#include <cwchar>

namespace sz {

using HRESULT = int32_t;
using ULONG = uint32_t;
using PROPID = uint32_t;
using VARTYPE = uint16_t;
using BSTR = wchar_t*;

constexpr HRESULT kOk = 0;
constexpr HRESULT kFalse = 1;
constexpr HRESULT kNotImpl = int32_t(0x80004001u);
constexpr HRESULT kNoInterface = int32_t(0x80004002u);
constexpr HRESULT kAbort = int32_t(0x80004004u);
constexpr HRESULT kFail = int32_t(0x80004005u);
constexpr HRESULT kOutOfMemory = int32_t(0x8007000Eu);
constexpr HRESULT kInvalidArg = int32_t(0x80070057u);

struct GUID {
    uint32_t data1;
    uint16_t data2;
    uint16_t data3;
    uint8_t data4[8];
};

inline bool sameGuid(const GUID& a, const GUID& b) {
    if (a.data1 != b.data1 || a.data2 != b.data2 || a.data3 != b.data3) return false;
    for (int i = 0; i < 8; ++i)
        if (a.data4[i] != b.data4[i]) return false;
    return true;
}

enum : VARTYPE {
    kVtEmpty = 0,
    kVtBstr = 8,
    kVtBool = 11,
    kVtUI4 = 19,
    kVtUI8 = 21,
    kVtFileTime = 64,
};

struct FileTime {
    uint32_t low;
    uint32_t high;
};

struct PropVariant {
    VARTYPE vt = kVtEmpty;
    uint16_t reserved1 = 0, reserved2 = 0, reserved3 = 0;
    union {
        int16_t boolVal;  // VARIANT_BOOL: -1 true, 0 false
        uint32_t ulVal;
        uint64_t uhVal;
        FileTime filetime;
        BSTR bstrVal;
    };
    PropVariant() : uhVal(0) {}
};
static_assert(sizeof(PropVariant) == 16);

// Item property ids.
enum : PROPID {
    kpidPath = 3,
    kpidIsDir = 6,
    kpidSize = 7,
    kpidCTime = 10,
    kpidATime = 11,
    kpidMTime = 12,
    kpidSolid = 13,
    kpidEncrypted = 15,
    kpidCRC = 19,
    kpidBlock = 27,
};

// Format (handler) property ids of GetHandlerProperty2.
enum : PROPID { kHandlerName = 0, kHandlerClassId = 1 };
// Module property ids of GetModuleProp.
enum : PROPID { kModuleInterfaceType = 0 };

// Extraction modes and results.
enum : int32_t { kAskExtract = 0, kAskTest = 1, kAskSkip = 2 };
enum : int32_t {
    kOpOk = 0,
    kOpUnsupportedMethod = 1,
    kOpDataError = 2,
    kOpCrcError = 3,
    kOpUnavailable = 4,
    kOpUnexpectedEnd = 5,
    kOpDataAfterEnd = 6,
    kOpIsNotArc = 7,
    kOpHeadersError = 8,
    kOpWrongPassword = 9,
};

enum : uint32_t { kSeekSet = 0, kSeekCur = 1, kSeekEnd = 2 };

struct IUnknown {
    virtual HRESULT QueryInterface(const GUID& iid, void** out) = 0;
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;
};

struct ISequentialInStream : IUnknown {
    virtual HRESULT Read(void* data, uint32_t size, uint32_t* processed) = 0;
};

struct IInStream : ISequentialInStream {
    virtual HRESULT Seek(int64_t offset, uint32_t origin, uint64_t* newPosition) = 0;
};

struct ISequentialOutStream : IUnknown {
    virtual HRESULT Write(const void* data, uint32_t size, uint32_t* processed) = 0;
};

struct IProgress : IUnknown {
    virtual HRESULT SetTotal(uint64_t total) = 0;
    virtual HRESULT SetCompleted(const uint64_t* completed) = 0;
};

struct IArchiveOpenCallback : IUnknown {
    virtual HRESULT SetTotal(const uint64_t* files, const uint64_t* bytes) = 0;
    virtual HRESULT SetCompleted(const uint64_t* files, const uint64_t* bytes) = 0;
};

struct IArchiveExtractCallback : IProgress {
    virtual HRESULT GetStream(uint32_t index, ISequentialOutStream** out, int32_t askExtractMode) = 0;
    virtual HRESULT PrepareOperation(int32_t askExtractMode) = 0;
    virtual HRESULT SetOperationResult(int32_t result) = 0;
};

struct ICryptoGetTextPassword : IUnknown {
    virtual HRESULT CryptoGetTextPassword(BSTR* password) = 0;
};

struct ICryptoGetTextPassword2 : IUnknown {
    virtual HRESULT CryptoGetTextPassword2(int32_t* isDefined, BSTR* password) = 0;
};

struct IInArchive : IUnknown {
    virtual HRESULT Open(IInStream* stream, const uint64_t* maxCheckStartPosition,
                         IArchiveOpenCallback* callback) = 0;
    virtual HRESULT Close() = 0;
    virtual HRESULT GetNumberOfItems(uint32_t* count) = 0;
    virtual HRESULT GetProperty(uint32_t index, PROPID propId, PropVariant* value) = 0;
    virtual HRESULT Extract(const uint32_t* indices, uint32_t count, int32_t testMode,
                            IArchiveExtractCallback* callback) = 0;
    virtual HRESULT GetArchiveProperty(PROPID propId, PropVariant* value) = 0;
};

struct ISetProperties : IUnknown {
    virtual HRESULT SetProperties(const wchar_t* const* names, const PropVariant* values, uint32_t count) = 0;
};

}  // namespace sz
