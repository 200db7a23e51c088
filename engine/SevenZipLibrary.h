#pragma once

#include "engine/SevenZipInterfaces.h"

#include <optional>
#include <string>

// 7-Zip's 7z.so, loaded with dlopen on first use. The library is checked
// before anything is called through it: the interface ids come from the
// library itself, the module must declare the IUnknown layout we were built
// for (three slots, no virtual destructor), and the archive formats are
// found by name in the library's own format table. When any of that fails,
// available() is false and failureReason() says why; nothing is retried.
//
// Strings and property values the library hands out are freed with the
// library's own functions (freeString, clear); strings we hand to it are
// made by makeString.
class SevenZipLibrary {
public:
    // The library of this build (the build's 7z.so path), loaded once.
    static SevenZipLibrary& shared();

    // A library at `path`, loaded now (the tests use other paths).
    explicit SevenZipLibrary(const std::string& path);
    ~SevenZipLibrary();
    SevenZipLibrary(const SevenZipLibrary&) = delete;
    SevenZipLibrary& operator=(const SevenZipLibrary&) = delete;

    bool available() const { return handle_ != nullptr && reason_.empty(); }
    const std::string& failureReason() const { return reason_; }
    const std::string& path() const { return path_; }

    // A new archive object for the format named as the library names it
    // ("7z", "zip", "xz"), with one reference; null when the library or
    // the format is missing.
    sz::IInArchive* createInArchive(const std::string& formatName) const;

    sz::BSTR makeString(const std::u32string& text) const;
    void freeString(sz::BSTR s) const;
    void clear(sz::PropVariant& value) const;

    struct Ids {
        sz::GUID unknown, inArchive, sequentialInStream, inStream, sequentialOutStream, progress,
            archiveOpenCallback, archiveExtractCallback, cryptoGetTextPassword, cryptoGetTextPassword2;
        // Handlers' settings; a library without it takes none.
        std::optional<sz::GUID> setProperties;
    };
    const Ids& ids() const { return ids_; }

    // A wide string of the library as UTF-8 (its wchar_t are UTF-32);
    // nothing when it holds a value that is no Unicode scalar.
    static std::optional<std::string> utf8FromWide(const wchar_t* s);
    static std::u32string utf32FromUtf8(const std::string& s);

private:
    using CreateObjectFn = sz::HRESULT (*)(const sz::GUID*, const sz::GUID*, void**);
    using GetNumberOfFormatsFn = sz::HRESULT (*)(uint32_t*);
    using GetHandlerProperty2Fn = sz::HRESULT (*)(uint32_t, sz::PROPID, sz::PropVariant*);
    using GetModulePropFn = sz::HRESULT (*)(sz::PROPID, sz::PropVariant*);
    using SysAllocStringFn = sz::BSTR (*)(const wchar_t*);
    using SysFreeStringFn = void (*)(sz::BSTR);
    using VariantClearFn = sz::HRESULT (*)(sz::PropVariant*);

    bool load();
    bool checkObjectLayout();
    std::optional<sz::GUID> classIdOf(const std::string& formatName) const;

    std::string path_;
    std::string reason_;
    void* handle_ = nullptr;
    Ids ids_{};
    CreateObjectFn createObject_ = nullptr;
    GetNumberOfFormatsFn getNumberOfFormats_ = nullptr;
    GetHandlerProperty2Fn getHandlerProperty2_ = nullptr;
    GetModulePropFn getModuleProp_ = nullptr;
    SysAllocStringFn sysAllocString_ = nullptr;
    SysFreeStringFn sysFreeString_ = nullptr;
    VariantClearFn variantClear_ = nullptr;
};
