// An SMB1 server's replies as our client reads them: the NetBIOS session
// answer, negotiate (with and without extended security), session set-up
// (NTLMSSP or the plain challenge), the RAP share list, tree connect, folder
// searches over TRANSACTION2, NT_CREATE_ANDX, READ_ANDX, close and errors.
// The first byte picks the client's options; the rest is ScriptedPeer's
// script.
#include "fuzz/support/FuzzEnvironment.h"
#include "fuzz/support/ScriptedPeer.h"
#include "remote/protocols/QNSmb.h"

#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzEnvironment::setUp();
    if (size < 1) return 0;
    auto& peer = ScriptedPeer::shared();
    const uint8_t options = data[0];
    peer.play({data + 1, size - 1}, ScriptedPeer::Ids::Smb1);
    {
        QNSmb s;
        s.setUseExtendedSecurity(!(options & 1));
        if (options & 2) s.setNetbiosSessionPort(peer.port());
        if (s.connect("127.0.0.1:" + std::to_string(peer.port()), "SERVER", "GROUP\\reader", "secret")) {
            s.getTreeList();
            if (const uint16_t tree = s.connectTree("books")) {
                s.getFileList(tree, "\\comics\\*");
                uint64_t length = 0;
                if (const uint16_t file = s.openFile(tree, "\\comics\\a.cbz", &length)) {
                    s.readFile(file, tree, 0, 200000);
                    s.closeFile(file, tree);
                }
                s.disconnectTree(tree);
            }
            s.disconnect();
        }
    }
    peer.finish();
    return 0;
}
