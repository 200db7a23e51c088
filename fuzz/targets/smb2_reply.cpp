// An SMB2/3 server's replies as our connection reads them: negotiate (with
// the contexts of 3.1.1), session set-up, tree connect, create, folder
// listing, reads several at a time, the srvsvc pipe, close and errors. The
// replies come from a scripted peer on loopback (ScriptedPeer's format).
#include "fuzz/support/FuzzEnvironment.h"
#include "fuzz/support/ScriptedPeer.h"
#include "smb/Smb2Connection.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzEnvironment::setUp();
    auto& peer = ScriptedPeer::shared();
    peer.play({data, size}, ScriptedPeer::Ids::Smb2);
    {
        using C = Smb2Connection;
        C c;
        // A named user; seeds answer as a guest, so nothing is signed.
        if (c.open("127.0.0.1", peer.port(), "", "reader", "secret")) {
            if (const uint32_t tree = c.treeConnect("books")) {
                if (auto d = c.create(tree, "comics", C::kAccessListFolder, C::kOptionDirectory)) {
                    c.queryDirectory(tree, d->id, "*");
                    c.close(tree, d->id);
                }
                if (auto f = c.create(tree, "comics\\a.cbz", C::kAccessReadFile,
                                      C::kOptionNonDirectory | C::kOptionSequential)) {
                    c.read(tree, f->id, 0, 200000);
                    c.close(tree, f->id);
                }
                if (auto p = c.create(tree, "srvsvc", C::kAccessPipe, 0)) {
                    if (c.transceive(tree, p->id, {5, 0, 11, 3})) c.readPipe(tree, p->id, 4096);
                    c.close(tree, p->id);
                }
                c.treeDisconnect(tree);
            }
        }
    }
    peer.finish();
    return 0;
}
