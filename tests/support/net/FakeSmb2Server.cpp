#include "tests/support/net/FakeSmb2Server.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace test {

namespace {

using Bytes = FakeSmb2Server::Bytes;

void put16(Bytes& b, size_t at, uint16_t v) {
    if (b.size() < at + 2) b.resize(at + 2);
    b[at] = uint8_t(v);
    b[at + 1] = uint8_t(v >> 8);
}

void put32(Bytes& b, size_t at, uint32_t v) {
    if (b.size() < at + 4) b.resize(at + 4);
    for (int i = 0; i < 4; ++i) b[at + size_t(i)] = uint8_t(v >> (8 * i));
}

void put64(Bytes& b, size_t at, uint64_t v) {
    if (b.size() < at + 8) b.resize(at + 8);
    for (int i = 0; i < 8; ++i) b[at + size_t(i)] = uint8_t(v >> (8 * i));
}

// A DER element with a short or two-byte length.
Bytes der(uint8_t tag, const Bytes& content) {
    const size_t n = content.size();
    Bytes out(n < 128 ? 2 : 4);
    out[0] = tag;
    if (n < 128) {
        out[1] = uint8_t(n);
    } else {
        out[1] = 0x82;
        out[2] = uint8_t(n >> 8);
        out[3] = uint8_t(n);
    }
    out.insert(out.end(), content.begin(), content.end());
    return out;
}

// An SPNEGO answer carrying an NTLM challenge without target information.
Bytes challengeToken() {
    Bytes ntlm(64, 0);
    std::memcpy(ntlm.data(), "NTLMSSP", 8);
    put32(ntlm, 8, 2);
    put32(ntlm, 16, 64);          // empty target name
    put32(ntlm, 20, 0x00088205);  // unicode, NTLM, always sign, extended security
    for (int i = 0; i < 8; ++i) ntlm[24 + size_t(i)] = uint8_t(0x11 * (i + 1));
    put32(ntlm, 44, 64);  // empty target information
    Bytes fields = der(0xa0, der(0x0a, {1}));
    const Bytes mech = der(0xa1, der(0x06, {0x2b, 0x06, 0x01, 0x04, 0x01, 0x82, 0x37, 0x02, 0x02, 0x0a}));
    fields.insert(fields.end(), mech.begin(), mech.end());
    const Bytes token = der(0xa2, der(0x04, ntlm));
    fields.insert(fields.end(), token.begin(), token.end());
    return der(0xa1, der(0x30, fields));
}

bool sendAll(int fd, const Bytes& b) {
    size_t done = 0;
    while (done < b.size()) {
        const ssize_t k = ::send(fd, b.data() + done, b.size() - done, MSG_NOSIGNAL);
        if (k < 0 && errno == EINTR) continue;
        if (k <= 0) return false;
        done += size_t(k);
    }
    return true;
}

}  // namespace

FakeSmb2Server::FakeSmb2Server() {
    thread_ = std::thread([this] { serve(); });
}

FakeSmb2Server::~FakeSmb2Server() { stop(); }

void FakeSmb2Server::stop() {
    if (stopped_.exchange(true)) return;
    listener_.wake();
    if (thread_.joinable()) thread_.join();
    listener_.close();
}

void FakeSmb2Server::on(uint16_t command, Handler handler) {
    std::lock_guard lock(mutex_);
    handlers_[command] = std::move(handler);
}

void FakeSmb2Server::sealWith(Seal seal, Unseal unseal) {
    seal_ = std::move(seal);
    unseal_ = std::move(unseal);
}

int FakeSmb2Server::count(uint16_t command) const {
    std::lock_guard lock(mutex_);
    auto it = counts_.find(command);
    return it == counts_.end() ? 0 : it->second;
}

Bytes FakeSmb2Server::readBody(const Bytes& data) {
    Bytes b(16, 0);
    put16(b, 0, 17);
    b[2] = 64 + 16;
    put32(b, 4, uint32_t(data.size()));
    b.insert(b.end(), data.begin(), data.end());
    if (data.empty()) b.push_back(0);
    return b;
}

void FakeSmb2Server::reply(const Request& to, uint32_t status, const Bytes& body, uint64_t asyncId) {
    Bytes m(64, 0);
    m[0] = 0xFE;
    m[1] = 'S';
    m[2] = 'M';
    m[3] = 'B';
    put16(m, 4, 64);
    put32(m, 8, status);
    put16(m, 12, to.command);
    put16(m, 14, 8);  // credits granted
    put32(m, 16, asyncId ? 0x3 : 0x1);
    put64(m, 24, to.messageId);
    if (asyncId) {
        put64(m, 32, asyncId);
    } else {
        put32(m, 36, to.command == kTreeConnect ? treeId_.load() : uint32_t(to.message[36] | to.message[37] << 8));
    }
    put64(m, 40, 0x1234);
    m.insert(m.end(), body.begin(), body.end());
    if (seal_) m = seal_(m);
    Bytes frame = {0, uint8_t(m.size() >> 16), uint8_t(m.size() >> 8), uint8_t(m.size())};
    frame.insert(frame.end(), m.begin(), m.end());
    sendAll(fd_, frame);
}

void FakeSmb2Server::sendRaw(const Bytes& bytes) { sendAll(fd_, bytes); }

void FakeSmb2Server::answerDefault(const Request& r) {
    Bytes b;
    switch (r.command) {
    case kNegotiate:
        b.assign(65, 0);
        put16(b, 0, 65);
        put16(b, 2, 1);  // signing enabled, not required
        put16(b, 4, 0x0210);
        put32(b, 28, 65536);
        put32(b, 32, 65536);
        put32(b, 36, 65536);
        put16(b, 56, 128);
        return reply(r, 0, b);
    case kSessionSetup: {
        const bool first = count(kSessionSetup) == 1;
        const Bytes token = first ? challengeToken() : Bytes();
        b.assign(8, 0);
        put16(b, 0, 9);
        put16(b, 4, 64 + 8);
        put16(b, 6, uint16_t(token.size()));
        b.insert(b.end(), token.begin(), token.end());
        if (token.empty()) b.push_back(0);
        return reply(r, first ? 0xC0000016 : 0, b);
    }
    case kTreeConnect:
        b.assign(16, 0);
        put16(b, 0, 16);
        b[2] = 1;  // a disk
        put32(b, 12, 0x001F01FF);
        return reply(r, 0, b);
    case kCreate:
        b.assign(88, 0);
        put16(b, 0, 89);
        put64(b, 48, 1 << 20);  // the file's size
        put32(b, 56, 0x80);
        put64(b, 64, 0x51);
        put64(b, 72, 0x52);
        b.push_back(0);
        return reply(r, 0, b);
    case kClose:
        b.assign(60, 0);
        put16(b, 0, 60);
        return reply(r, 0, b);
    default:
        break;  // silence
    }
}

void FakeSmb2Server::serve() {
    const int fd = listener_.accept();
    if (fd < 0) return;
    fd_ = fd;
    Bytes buffer;
    uint8_t chunk[65536];
    for (;;) {
        pollfd p[2] = {{fd, POLLIN, 0}, {listener_.wakeFd(), POLLIN, 0}};
        if (::poll(p, 2, -1) < 0 && errno != EINTR) break;
        if (p[1].revents) break;
        if (!p[0].revents) continue;
        const ssize_t k = ::recv(fd, chunk, sizeof chunk, 0);
        if (k <= 0) break;
        buffer.insert(buffer.end(), chunk, chunk + k);
        while (buffer.size() >= 4) {
            const size_t length = size_t(buffer[1]) << 16 | size_t(buffer[2]) << 8 | buffer[3];
            if (buffer.size() < 4 + length) break;
            Request r;
            r.message.assign(buffer.begin() + 4, buffer.begin() + long(4 + length));
            buffer.erase(buffer.begin(), buffer.begin() + long(4 + length));
            if (!r.message.empty() && r.message[0] == 0xFD && unseal_) {
                auto plain = unseal_(r.message);
                if (!plain) continue;
                r.message = std::move(*plain);
            }
            if (r.message.size() < 64) continue;
            r.command = uint16_t(r.message[12] | r.message[13] << 8);
            for (int i = 7; i >= 0; --i) r.messageId = r.messageId << 8 | r.message[24 + size_t(i)];
            Handler h;
            {
                std::lock_guard lock(mutex_);
                ++counts_[r.command];
                if (auto it = handlers_.find(r.command); it != handlers_.end()) h = it->second;
            }
            if (h) {
                h(r, *this);
            } else {
                answerDefault(r);
            }
        }
    }
    ::close(fd);
    fd_ = -1;
}

}  // namespace test
