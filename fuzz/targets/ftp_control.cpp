// An FTP server's control replies as our client reads them: the greeting,
// single and multi-line replies to the log-on, FEAT's list of extensions,
// and the replies to changing folder and asking a size; and the input
// itself as a passive-mode reply (227 and 229). The replies come from a
// scripted peer on loopback (ScriptedPeer's format, one reply a command).
#include "fuzz/support/FuzzEnvironment.h"
#include "fuzz/support/ScriptedPeer.h"
#include "remote/protocols/QNFtpRequest.h"
#include "remote/protocols/QNFtpRequestSync.h"

#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzEnvironment::setUp();
    const std::string text(reinterpret_cast<const char*>(data), size);
    int port = 0;
    QNFtpRequest::getAddressAndPortWithPassiveResponse(text, &port);
    QNFtpRequest::getPortWithExtendedPassiveResponse(text);
    QNFtpRequestSync::ftpStatusCodeWithBuffer(text);

    auto& peer = ScriptedPeer::shared();
    peer.play({data, size}, ScriptedPeer::Ids::Ftp);
    {
        QNFtpRequestSync c;
        c.setTimeouts(2, 2);
        if (c.connectToFtp("127.0.0.1", peer.port(), "reader", "secret") == QNFtpRequestSync::kLoggedOn) {
            c.changeDir("/books");
            c.getFilesize("a.cbz");
            c.hasFeature("MLST");
        }
        c.disconnect();
    }
    peer.finish(true);
    return 0;
}
