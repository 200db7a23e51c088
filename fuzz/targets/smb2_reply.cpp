// An SMB2/3 server's replies as our connection reads them: negotiate (with
// the contexts of 3.1.1), session set-up, tree connect, create, folder
// listing, reads several at a time, the srvsvc pipe, close and errors. The
// replies come from a scripted peer on loopback (ScriptedPeer's format).
//
// The client's random numbers are fixed here, so a 3.0.x log-on as a named
// user ends with a session key the peer knows: replies flagged kSign go out
// signed with it, replies flagged kSeal in a transform header sealed with
// it, and the client's sealed requests are opened to read their ids.
#include "fuzz/support/FuzzEnvironment.h"
#include "fuzz/support/ScriptedPeer.h"
#include "remote/protocols/NtlmV2.h"
#include "smb/Smb2Connection.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

Bytes label(const char* s) { return Bytes(s, s + std::strlen(s) + 1); }

// The keys of a 3.0.x session whose exported key is the fixed random one.
struct SessionKeys {
    std::array<uint8_t, 16> signing{};
    Bytes clientToServer, serverToClient;
    SessionKeys() {
        std::array<uint8_t, 16> session{};
        for (size_t i = 0; i < session.size(); ++i) session[i] = uint8_t(0xA0 + i);
        const Bytes s = Smb2Connection::kdf(session, label("SMB2AESCMAC"), label("SmbSign"));
        std::copy_n(s.begin(), 16, signing.begin());
        clientToServer = Smb2Connection::kdf(session, label("SMB2AESCCM"), label("ServerIn "));
        serverToClient = Smb2Connection::kdf(session, label("SMB2AESCCM"), label("ServerOut"));
    }
};

void installFilters(ScriptedPeer& peer) {
    static const SessionKeys keys;
    NtlmV2::setFixedRandomForTesting(true);
    peer.setFilters(
        [](Bytes request) {
            if (request.size() < 52 || request[0] != 0xFD) return request;
            auto plain = Smb2Connection::unseal(Smb2Connection::kAes128Ccm, keys.clientToServer, request);
            return plain ? std::move(*plain) : request;
        },
        [](Bytes reply, uint8_t flags) {
            if (reply.size() < 64) return reply;
            if (flags & ScriptedPeer::kSign) {
                reply[16] |= 0x08;
                std::fill(reply.begin() + 48, reply.begin() + 64, 0);
                const auto sig = Smb2Connection::cmacSignature(keys.signing, reply);
                std::copy(sig.begin(), sig.end(), reply.begin() + 48);
            }
            if (flags & ScriptedPeer::kSeal) {
                uint64_t session = 0;
                for (int i = 7; i >= 0; --i) session = session << 8 | reply[40 + size_t(i)];
                std::array<uint8_t, 16> nonce{};
                for (size_t i = 0; i < nonce.size(); ++i) nonce[i] = uint8_t(0x50 + i);
                return Smb2Connection::seal(Smb2Connection::kAes128Ccm, keys.serverToClient, nonce, session, reply);
            }
            return reply;
        });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzEnvironment::setUp();
    auto& peer = ScriptedPeer::shared();
    static const bool filtered = (installFilters(peer), true);
    (void)filtered;
    peer.play({data, size}, ScriptedPeer::Ids::Smb2);
    {
        using C = Smb2Connection;
        C c;
        // A named user: seeds answer as a guest, or sign and seal with the
        // fixed session key.
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
