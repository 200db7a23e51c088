// A NetBIOS name service answer to the query for one name.
#include "fuzz/support/FuzzEnvironment.h"
#include "remote/protocols/QNNbns.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzEnvironment::setUp();
    QNNbns::EncodedName encoded{};
    QNNbns::encodeName("BOOKSHELF", 0x20, encoded.data());
    QNNbns::answerAddresses(data, size, encoded);
    return 0;
}
