// A server's SPNEGO answer to a session set-up (the NTLM challenge inside).
#include "fuzz/support/FuzzEnvironment.h"
#include "smb/Spnego.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzEnvironment::setUp();
    Spnego::parseReply(Spnego::Bytes(data, data + size));
    return 0;
}
