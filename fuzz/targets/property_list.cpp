// Property lists, XML and binary, as every stored file of the program is
// read; what parses is written back in both forms and read again.
#include "fuzz/support/FuzzEnvironment.h"
#include "platform/core/PropertyList.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzEnvironment::setUp();
    auto value = sys::PropertyList::parse(std::string_view(reinterpret_cast<const char*>(data), size));
    if (!value) return 0;
    for (auto format : {sys::PropertyList::Format::Xml, sys::PropertyList::Format::Binary}) {
        auto bytes = sys::PropertyList::serialize(*value, format);
        // What was written must read again.
        if (bytes && !sys::PropertyList::parse(*bytes)) std::abort();
    }
    return 0;
}
