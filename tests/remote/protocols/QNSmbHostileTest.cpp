// Our SMB1 client against peers that answer wrongly: negotiate answers that
// lie about their lengths or leave out the challenge.

#include "remote/protocols/QNSmb.h"
#include "tests/support/net/OneReplyPeer.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

using Bytes = std::vector<uint8_t>;

using test::OneReplyPeer;

// A negotiate answer with 17 parameter words, `extended` security or not.
Bytes negotiateAnswer(bool extended, size_t claimed = 0) {
    Bytes m(32, 0);
    m[0] = 0xFF;
    m[1] = 'S';
    m[2] = 'M';
    m[3] = 'B';
    m[4] = 0x72;
    m[9] = 0x98;
    m.push_back(17);
    Bytes words(34, 0);
    words[3] = 50;
    words[7] = 0;
    words[8] = 0;
    words[9] = 1;  // buffer of 65536
    const uint32_t caps = extended ? 0x8000405C : 0x0000405C;
    std::memcpy(&words[19], &caps, 4);
    m.insert(m.end(), words.begin(), words.end());
    m.insert(m.end(), {16, 0});
    m.insert(m.end(), 16, 0);
    return OneReplyPeer::frame(m, claimed);
}

int errorAgainst(const Bytes& reply) {
    OneReplyPeer peer(reply);
    QNSmb smb;
    EXPECT_FALSE(smb.connect(peer.server(), "", "u", "p"));
    return smb.lastError();
}

TEST(QNSmbHostileTest, WrongNegotiateAnswersAreProtocolErrors) {
    // A server without extended security that sends no challenge.
    EXPECT_EQ(errorAgainst(negotiateAnswer(false)), QNSmb::kErrorProtocol);
    // A length far beyond a negotiate answer: refused before it is read.
    EXPECT_EQ(errorAgainst(negotiateAnswer(true, 0xFFFFFF)), QNSmb::kErrorProtocol);
    // Parameter words running past the answer.
    Bytes cut = negotiateAnswer(true);
    cut.resize(4 + 40);
    cut[3] = 40;
    EXPECT_EQ(errorAgainst(cut), QNSmb::kErrorProtocol);
}

}  // namespace
