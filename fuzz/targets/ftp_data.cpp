// An FTP server's data transfers as our client runs them: the passive-mode
// replies (229 and 227) that name the data connection, REST before a read
// from an offset, the 150/125 that opens a transfer and the 226 (or an
// error) that ends it, a transfer the client breaks off (its length read),
// and a listing that arrives on the data connection and is read into the
// folder's entries.
//
// The input is [length, 16-bit LE][what the data connection sends] and then
// the control replies in ScriptedPeer's format, one a command. In the
// replies "DATAPORT" stands for the data listener's port and "DATAHOST" for
// its "127,0,0,1,p1,p2", so that inputs reach the transfers. Every data
// connection gets the same bytes and is closed after them.
#include "fuzz/support/FuzzEnvironment.h"
#include "fuzz/support/ScriptedPeer.h"
#include "fuzz/support/ServingPeer.h"
#include "remote/listing/FtpListing.h"
#include "remote/protocols/QNFtpRequestSync.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace {

// Answers every connection with `bytes` and closes it, until stopped.
class DataPeer {
public:
    int port() const { return peer_.port(); }

    void start(std::vector<uint8_t> bytes) {
        bytes_ = std::move(bytes);
        peer_.start([this](int fd) { FuzzEnvironment::sendAndShutDown(fd, bytes_); });
    }
    void stop() { peer_.stop(); }

private:
    ServingPeer peer_{"DataPeer", 8, 5000, 20};
    std::vector<uint8_t> bytes_;
};

void replaceAll(std::string& s, const std::string& from, const std::string& to) {
    for (size_t at = s.find(from); at != std::string::npos; at = s.find(from, at + to.size())) s.replace(at, from.size(), to);
}

// The control script with the placeholders filled in (each reply's length
// field follows its new length).
std::vector<uint8_t> filledScript(const uint8_t* data, size_t size, int port) {
    const std::string hostPort = "127,0,0,1," + std::to_string(port / 256) + "," + std::to_string(port % 256);
    std::vector<uint8_t> out;
    size_t at = 0;
    while (size - at >= 3) {
        const uint8_t flags = data[at];
        const size_t length = std::min<size_t>(data[at + 1] | data[at + 2] << 8, size - at - 3);
        std::string reply(reinterpret_cast<const char*>(data + at + 3), length);
        at += 3 + length;
        replaceAll(reply, "DATAPORT", std::to_string(port));
        replaceAll(reply, "DATAHOST", hostPort);
        if (reply.size() > 0xFFFF) reply.resize(0xFFFF);
        out.push_back(flags);
        out.push_back(uint8_t(reply.size()));
        out.push_back(uint8_t(reply.size() >> 8));
        out.insert(out.end(), reply.begin(), reply.end());
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzEnvironment::setUp();
    if (size < 2) return 0;
    static DataPeer dataPeer;
    const size_t dataLength = std::min<size_t>(data[0] | data[1] << 8, size - 2);
    dataPeer.start(std::vector<uint8_t>(data + 2, data + 2 + dataLength));
    const std::vector<uint8_t> script = filledScript(data + 2 + dataLength, size - 2 - dataLength, dataPeer.port());

    auto& peer = ScriptedPeer::shared();
    peer.play(script, ScriptedPeer::Ids::Ftp);
    {
        QNFtpRequestSync c;
        c.setTimeouts(2, 2);
        if (c.connectToFtp("127.0.0.1", peer.port(), "reader", "secret") == QNFtpRequestSync::kLoggedOn) {
            std::string text;
            if (c.getList(&text, 1u << 16) == QNFtpRequestSync::kTransferDone) {
                bool encodeError = false;
                FtpListing::getListFromFtpList(text, "ftp://127.0.0.1:" + std::to_string(peer.port()) + "/books/", "",
                                               &encodeError);
                FtpListing::getListFromFtpList(text, "ftp://127.0.0.1/books/", "Shift_JIS", &encodeError);
            }
            size_t got = 0;
            const auto take = [&](const char*, size_t n) {
                got += n;
                return got < (1u << 20);
            };
            // The whole file from an offset, then the first bytes only.
            c.getFile("a.cbz", 4096, 0, take);
            if (c.connected()) c.getFile("a.cbz", 0, 100, take);
        }
        c.disconnect();
    }
    peer.finish(true);
    dataPeer.stop();
    return 0;
}
