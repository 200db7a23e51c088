// Name bytes from archives and servers through the character-set detection
// chain, and through the named decoders the settings offer.
#include "foundation/QNTextEncoding.h"
#include "fuzz/support/FuzzEnvironment.h"

#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzEnvironment::setUp();
    // The decoders read up to a NUL, as names come to them.
    std::string bytes(reinterpret_cast<const char*>(data), size);
    std::string detected;
    if (auto text = QNTextEncoding::stringWithCString(bytes.c_str(), &detected)) {
        QNTextEncoding::isASCIIOnlyString(*text);
        if (!detected.empty()) QNTextEncoding::dataWithString(*text, detected);
    }
    for (const char* charset : {QNTextEncoding::kShiftJIS, "euc-kr", "gb18030", "big5", "windows-1252"}) {
        QNTextEncoding::stringWithCString(bytes.c_str(), std::string(charset));
    }
    return 0;
}
