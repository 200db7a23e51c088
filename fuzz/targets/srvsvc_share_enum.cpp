// The srvsvc pipe's DCE/RPC answers: the PDUs in the bytes, a bind
// acknowledgement, and a share list from a response's stub.
#include "fuzz/support/FuzzEnvironment.h"
#include "remote/protocols/SrvsvcShareEnum.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzEnvironment::setUp();
    SrvsvcShareEnum::Bytes bytes(data, data + size);
    bool malformed = false;
    auto pdu = SrvsvcShareEnum::parsePdu(bytes, &malformed);
    if (pdu) {
        SrvsvcShareEnum::bindAccepted(*pdu);
        if (auto stub = SrvsvcShareEnum::responseStub(*pdu)) {
            uint32_t werror = 0;
            SrvsvcShareEnum::parseShareEnum(*stub, &werror);
        }
    }
    // The stub alone, as the share list reader sees it.
    uint32_t werror = 0;
    SrvsvcShareEnum::parseShareEnum(bytes, &werror);
    return 0;
}
