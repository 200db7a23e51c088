// A server's NTLM challenge (type 2) answered with an authenticate message,
// for a user and anonymously.
#include "fuzz/support/FuzzEnvironment.h"
#include "remote/protocols/NtlmMessages.h"

#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzEnvironment::setUp();
    // The builder reads exactly `length` bytes: a copy of its own size lets
    // the sanitizer see any read past them.
    std::vector<uint8_t> copy(data, data + size);
    NtlmBuffer challenge;
    challenge.length = uint32_t(copy.size());
    challenge.data = copy.data();
    const uint64_t timestamp = 132000000000000000ull;
    for (const char16_t* user : {u"reader", u""}) {
        NtlmBuffer reply = NtlmBuildAuthenticateMessage(&challenge, u"WORKGROUP", user, u"LEAFBRIGHT", u"secret",
                                                        &timestamp);
        if (reply.length) NtlmBufferFree(&reply);
    }
    return 0;
}
