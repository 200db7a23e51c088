// An SSDP answer datagram, and a device description as fetched from the
// LOCATION it names.
#include "fuzz/support/FuzzEnvironment.h"
#include "remote/protocols/QNSsdp.h"

#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzEnvironment::setUp();
    const char* bytes = reinterpret_cast<const char*>(data);
    QNSsdp::Answer answer = QNSsdp::parseAnswer(bytes, size, "127.0.0.1");
    if (auto it = answer.find("LOCATION"); it != answer.end()) QNSsdp::locationAllowed(it->second, "127.0.0.1");
    QNSsdp::friendlyName(std::string(bytes, size));
    return 0;
}
