#include "engine/SevenZipLibrary.h"

#include "platform/core/Unicode.h"

#include <cstring>
#include <dlfcn.h>

#ifndef LEAFBRIGHT_7Z_LIBRARY
#define LEAFBRIGHT_7Z_LIBRARY "/usr/lib/p7zip/7z.so"
#endif

namespace {

// The module's answer to "which IUnknown layout" that matches the
// declarations in SevenZipInterfaces.h: no virtual destructor.
constexpr uint32_t kInterfaceWithoutVirtualDestructor = 0;

template <class Fn>
Fn symbol(void* handle, const char* name) {
    return reinterpret_cast<Fn>(::dlsym(handle, name));
}

}  // namespace

SevenZipLibrary& SevenZipLibrary::shared() {
    // Never unloaded: archive objects may outlive any owner we could name.
    static SevenZipLibrary* library = new SevenZipLibrary(LEAFBRIGHT_7Z_LIBRARY);
    return *library;
}

SevenZipLibrary::SevenZipLibrary(const std::string& path) : path_(path) {
    if (!load() && reason_.empty()) reason_ = "7-Zip library unusable: " + path_;
}

SevenZipLibrary::~SevenZipLibrary() {
    if (handle_) ::dlclose(handle_);
}

bool SevenZipLibrary::load() {
    handle_ = ::dlopen(path_.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle_) {
        const char* why = ::dlerror();
        reason_ = "7-Zip library not found at " + path_ + (why ? std::string(" (") + why + ")" : std::string());
        return false;
    }
    createObject_ = symbol<CreateObjectFn>(handle_, "CreateObject");
    getNumberOfFormats_ = symbol<GetNumberOfFormatsFn>(handle_, "GetNumberOfFormats");
    getHandlerProperty2_ = symbol<GetHandlerProperty2Fn>(handle_, "GetHandlerProperty2");
    getModuleProp_ = symbol<GetModulePropFn>(handle_, "GetModuleProp");
    sysAllocString_ = symbol<SysAllocStringFn>(handle_, "SysAllocString");
    sysFreeString_ = symbol<SysFreeStringFn>(handle_, "SysFreeString");
    variantClear_ = symbol<VariantClearFn>(handle_, "VariantClear");
    if (!createObject_ || !getNumberOfFormats_ || !getHandlerProperty2_ || !sysAllocString_ || !sysFreeString_ ||
        !variantClear_) {
        reason_ = "7-Zip library at " + path_ + " lacks the archive functions";
        return false;
    }
    // Older builds (p7zip 16) give IUnknown a virtual destructor and do not
    // say so; only a module that declares its layout is used.
    if (!getModuleProp_) {
        reason_ = "7-Zip library at " + path_ + " is too old (no module properties)";
        return false;
    }
    sz::PropVariant layout;
    if (getModuleProp_(sz::kModuleInterfaceType, &layout) != sz::kOk || layout.vt != sz::kVtUI4 ||
        layout.ulVal != kInterfaceWithoutVirtualDestructor) {
        variantClear_(&layout);
        reason_ = "7-Zip library at " + path_ + " has an interface layout this program does not know";
        return false;
    }

    struct Wanted {
        const char* name;
        sz::GUID* target;
    } wanted[] = {
        {"IID_IUnknown", &ids_.unknown},
        {"IID_IInArchive", &ids_.inArchive},
        {"IID_ISequentialInStream", &ids_.sequentialInStream},
        {"IID_IInStream", &ids_.inStream},
        {"IID_ISequentialOutStream", &ids_.sequentialOutStream},
        {"IID_IProgress", &ids_.progress},
        {"IID_IArchiveOpenCallback", &ids_.archiveOpenCallback},
        {"IID_IArchiveExtractCallback", &ids_.archiveExtractCallback},
        {"IID_ICryptoGetTextPassword", &ids_.cryptoGetTextPassword},
        {"IID_ICryptoGetTextPassword2", &ids_.cryptoGetTextPassword2},
    };
    for (const Wanted& w : wanted) {
        auto* id = static_cast<const sz::GUID*>(::dlsym(handle_, w.name));
        if (!id) {
            reason_ = std::string("7-Zip library at ") + path_ + " lacks " + w.name;
            return false;
        }
        *w.target = *id;
    }
    if (auto* id = static_cast<const sz::GUID*>(::dlsym(handle_, "IID_ISetProperties"))) ids_.setProperties = *id;
    return checkObjectLayout();
}

// One object made and asked the questions whose answers a wrong table
// layout could not give: its identity through IUnknown, a reference count
// that goes up and down by one, and an empty item count before any open.
bool SevenZipLibrary::checkObjectLayout() {
    auto classId = classIdOf("7z");
    if (!classId) {
        reason_ = "7-Zip library at " + path_ + " has no 7z format";
        return false;
    }
    void* object = nullptr;
    if (createObject_(&*classId, &ids_.inArchive, &object) != sz::kOk || !object) {
        reason_ = "7-Zip library at " + path_ + " cannot make a 7z archive object";
        return false;
    }
    auto* archive = static_cast<sz::IInArchive*>(object);
    void* same = nullptr;
    bool ok = archive->QueryInterface(ids_.unknown, &same) == sz::kOk && same != nullptr;
    ok = ok && archive->Release() == 1;  // the reference QueryInterface added
    ok = ok && archive->AddRef() == 2 && archive->Release() == 1;
    uint32_t count = 99;
    ok = ok && archive->GetNumberOfItems(&count) == sz::kOk && count == 0;
    archive->Release();
    if (!ok) reason_ = "7-Zip library at " + path_ + " answers in a layout this program does not know";
    return ok;
}

std::optional<sz::GUID> SevenZipLibrary::classIdOf(const std::string& formatName) const {
    if (!handle_ || !getNumberOfFormats_) return std::nullopt;
    uint32_t formats = 0;
    if (getNumberOfFormats_(&formats) != sz::kOk) return std::nullopt;
    for (uint32_t i = 0; i < formats && i < 10'000; ++i) {
        sz::PropVariant name;
        if (getHandlerProperty2_(i, sz::kHandlerName, &name) != sz::kOk) continue;
        const bool match = name.vt == sz::kVtBstr && name.bstrVal && utf8FromWide(name.bstrVal) == formatName;
        variantClear_(&name);
        if (!match) continue;
        sz::PropVariant id;
        if (getHandlerProperty2_(i, sz::kHandlerClassId, &id) != sz::kOk) return std::nullopt;
        std::optional<sz::GUID> result;
        // The id comes as a string of 16 bytes, the length kept before it.
        if (id.vt == sz::kVtBstr && id.bstrVal &&
            reinterpret_cast<const uint32_t*>(id.bstrVal)[-1] == sizeof(sz::GUID)) {
            sz::GUID g;
            std::memcpy(&g, id.bstrVal, sizeof g);
            result = g;
        }
        variantClear_(&id);
        return result;
    }
    return std::nullopt;
}

sz::IInArchive* SevenZipLibrary::createInArchive(const std::string& formatName) const {
    if (!available()) return nullptr;
    auto classId = classIdOf(formatName);
    if (!classId) return nullptr;
    void* object = nullptr;
    if (createObject_(&*classId, &ids_.inArchive, &object) != sz::kOk) return nullptr;
    return static_cast<sz::IInArchive*>(object);
}

sz::BSTR SevenZipLibrary::makeString(const std::u32string& text) const {
    if (!sysAllocString_) return nullptr;
    std::wstring wide(text.begin(), text.end());
    return sysAllocString_(wide.c_str());
}

void SevenZipLibrary::freeString(sz::BSTR s) const {
    if (s && sysFreeString_) sysFreeString_(s);
}

void SevenZipLibrary::clear(sz::PropVariant& value) const {
    if (variantClear_) variantClear_(&value);
    value.vt = sz::kVtEmpty;
}

std::optional<std::string> SevenZipLibrary::utf8FromWide(const wchar_t* s) {
    std::string out;
    if (!s) return out;
    for (; *s; ++s) {
        const uint32_t c = static_cast<uint32_t>(*s);
        if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return std::nullopt;
        sys::Unicode::appendUtf8(out, c);
    }
    return out;
}

std::u32string SevenZipLibrary::utf32FromUtf8(const std::string& s) {
    std::u32string out;
    for (size_t i = 0; i < s.size();) {
        const unsigned char b = static_cast<unsigned char>(s[i]);
        int extra = b < 0x80 ? 0 : (b >> 5) == 6 ? 1 : (b >> 4) == 14 ? 2 : (b >> 3) == 30 ? 3 : -1;
        if (extra < 0 || i + size_t(extra) >= s.size()) {
            out += U'\uFFFD';
            ++i;
            continue;
        }
        char32_t c = extra == 0 ? b : extra == 1 ? (b & 0x1F) : extra == 2 ? (b & 0x0F) : (b & 0x07);
        bool bad = false;
        for (int k = 1; k <= extra; ++k) {
            const unsigned char cont = static_cast<unsigned char>(s[i + size_t(k)]);
            if ((cont & 0xC0) != 0x80) {
                bad = true;
                break;
            }
            c = (c << 6) | (cont & 0x3F);
        }
        if (bad) {
            out += U'\uFFFD';
            ++i;
            continue;
        }
        out += c;
        i += size_t(extra) + 1;
    }
    return out;
}
