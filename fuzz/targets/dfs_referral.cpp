// A DFS server's referral answer: its entries of every version, the places
// they name split into server, share and path, and what is left of the path
// asked about after the part the answer says it covers.
#include "fuzz/support/FuzzEnvironment.h"
#include "smb/DfsReferral.h"

#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzEnvironment::setUp();
    const DfsReferral::Bytes bytes(data, data + size);
    if (auto r = DfsReferral::parse(bytes)) {
        for (const char* asked : {"\\server\\books\\far\\a.cbz", "\\srv\\本棚\\リンク\\b.cbz", ""})
            DfsReferral::remainder(asked, r->pathConsumed);
    }
    DfsReferral::splitTarget(std::string(reinterpret_cast<const char*>(data), size));
    return 0;
}
