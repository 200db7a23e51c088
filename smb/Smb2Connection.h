#pragma once

#include "remote/protocols/SmbStackClient.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

// One TCP connection to an SMB2/3 server with one session on it: negotiate
// (2.0.2 to 3.1.1, with the pre-authentication hash of 3.1.1), session set-up
// with NTLMSSP in SPNEGO, signing when the server requires it (HMAC-SHA256
// for 2.x, AES-128-CMAC or AES-GMAC under the derived key for 3.x),
// encryption when the session or a share asks for it (AES-128-CCM on 3.0,
// and AES-128/256 in GCM or CCM as 3.1.1 negotiates), and the commands a
// reading client needs. Reads ask for several credits at once and are sent
// several at a time; a request waits for replies while the server has
// granted too few credits, and is never sent without one.
//
// Every reply is checked against its own length before a field is read, and
// must answer a request that is waiting for it. A failure leaves its code in
// error() (SmbStackClient's codes) with the server's status in ntStatus().
// A server that stays silent for the reply time-out has failed, unless it
// said the request is pending: then the wait goes on as long as the server
// answers an echo. cancel() may come from any thread: it shuts the socket
// down, so a blocked call returns at once.
class Smb2Connection {
public:
    using Bytes = std::vector<uint8_t>;
    using FileInfo = SmbStackClient::FileInfo;

    struct FileId {
        uint64_t persistent = 0, volatileId = 0;
    };
    struct CreateResult {
        FileId id;
        uint32_t attributes = 0;
        uint64_t size = 0;
        uint64_t lastWriteTime = 0;
    };

    // NT status values the callers look at.
    static constexpr uint32_t kStatusSuccess = 0;
    static constexpr uint32_t kStatusPending = 0x00000103;
    static constexpr uint32_t kStatusBufferOverflow = 0x80000005;
    static constexpr uint32_t kStatusNoMoreFiles = 0x80000006;
    static constexpr uint32_t kStatusEndOfFile = 0xC0000011;
    static constexpr uint32_t kStatusMoreProcessing = 0xC0000016;
    static constexpr uint32_t kStatusAccessDenied = 0xC0000022;
    static constexpr uint32_t kStatusPathNotCovered = 0xC0000257;

    // The ciphers, by their negotiate ids.
    enum Cipher : uint16_t { kNoCipher = 0, kAes128Ccm = 1, kAes128Gcm = 2, kAes256Ccm = 3, kAes256Gcm = 4 };

    // File access and create options used here.
    static constexpr uint32_t kAccessReadFile = 0x00120089;
    static constexpr uint32_t kAccessListFolder = 0x00100081;
    static constexpr uint32_t kAccessPipe = 0x0012019F;
    static constexpr uint32_t kAccessAttributes = 0x00100080;
    static constexpr uint32_t kOptionDirectory = 0x00000001;
    static constexpr uint32_t kOptionSequential = 0x00000004;
    static constexpr uint32_t kOptionNonDirectory = 0x00000040;

    // A folder listing longer than this is refused.
    static constexpr size_t kMaxEntries = 1'000'000;
    // How long a reply may keep us waiting (and, once the server has said
    // a request is pending, an echo). A server that leaves the log-on
    // unanswered for a quarter of that is taken for dead.
    static constexpr int kReplyTimeoutMs = 60000;

    Smb2Connection();
    ~Smb2Connection();
    Smb2Connection(const Smb2Connection&) = delete;
    Smb2Connection& operator=(const Smb2Connection&) = delete;

    // TCP, negotiate and session set-up. An empty user logs on anonymously.
    bool open(const std::string& host, int port, const std::string& domain, const std::string& user,
              const std::string& password);
    // Before open(): the reply time-out (tests shorten it).
    void setReplyTimeout(int milliseconds) { replyTimeoutMs_ = milliseconds; }

    // Tree id (non-zero), or 0. A share that requires encryption is
    // encrypted from here on.
    uint32_t treeConnect(const std::string& share);
    // The share is the root of a DFS namespace (its paths may lead to
    // other shares).
    bool isDfsTree(uint32_t tree) const { return dfsTrees_.count(tree) != 0; }
    void treeDisconnect(uint32_t tree);
    std::optional<CreateResult> create(uint32_t tree, const std::string& path, uint32_t access, uint32_t options);
    void close(uint32_t tree, const FileId& id);
    // Every entry of an open folder matching `pattern`.
    std::optional<std::vector<FileInfo>> queryDirectory(uint32_t tree, const FileId& id, const std::string& pattern);
    // Up to `length` bytes at `offset`: several requests in flight when the
    // length exceeds one read. Shorter only at the end of the file.
    std::optional<Bytes> read(uint32_t tree, const FileId& id, uint64_t offset, size_t length);
    // A request written to a named pipe and its whole answer (a pipe that
    // has more to say is read on).
    std::optional<Bytes> transceive(uint32_t tree, const FileId& id, const Bytes& input);
    // An answer on a pipe that is longer than one transceive returned.
    std::optional<Bytes> readPipe(uint32_t tree, const FileId& id, size_t length);
    // The server's DFS referral for `path` ("\\server\\share\\path"), as the
    // server sent it (DfsReferral reads it), asked on `tree` (IPC$).
    std::optional<Bytes> dfsReferral(uint32_t tree, const std::string& path);

    void cancel();
    bool isOpen() const { return open_ && !broken_; }
    bool isBroken() const { return broken_; }

    uint16_t dialect() const { return dialect_; }
    bool signing() const { return signing_; }
    const std::string& host() const { return host_; }
    // The negotiated cipher (kNoCipher when the server offers none).
    Cipher cipher() const { return cipher_; }
    // Every message of the session after the log-on is encrypted.
    bool encryptsSession() const { return encryptSession_; }
    bool encryptsTree(uint32_t tree) const { return encryptSession_ || encryptedTrees_.count(tree) != 0; }
    uint32_t maxReadSize() const;

    uint32_t error() const { return error_; }
    uint32_t ntStatus() const { return ntStatus_; }
    const std::string& message() const { return message_; }

    // SMB2 signing, encryption and key derivation, also for the tests.
    // The key derivation gives `bytes` (16 or 32) of key.
    static Bytes kdf(const std::array<uint8_t, 16>& key, const Bytes& label, const Bytes& context, size_t bytes = 16);
    // The message sealed in a transform header with `key` (16 or 32 bytes)
    // under `cipher` and `nonce` (its first 11 bytes for CCM, 12 for GCM).
    static Bytes seal(Cipher cipher, const Bytes& key, const std::array<uint8_t, 16>& nonce, uint64_t sessionId,
                      const Bytes& message);
    // The message inside a transform header, or nothing when it does not
    // decrypt under `key` (a changed byte anywhere fails it).
    static std::optional<Bytes> unseal(Cipher cipher, const Bytes& key, const Bytes& transformed);
    static std::array<uint8_t, 16> hmacSha256Signature(const std::array<uint8_t, 16>& key, const Bytes& message);
    static std::array<uint8_t, 16> cmacSignature(const std::array<uint8_t, 16>& key, const Bytes& message);
    static std::array<uint8_t, 16> gmacSignature(const std::array<uint8_t, 16>& key, const std::array<uint8_t, 12>& nonce,
                                                 const Bytes& message);
    // The SmbStackClient code for a failing NT status.
    static uint32_t errorForStatus(uint32_t status);

private:
    struct Reply {
        uint32_t status = 0;
        Bytes message;  // header and body, without the transport length
    };
    // A request sent and not yet finally answered.
    struct Waiting {
        bool encrypted = false;
        bool pending = false;  // the server said it is working on it
    };

    bool connectSocket(const std::string& host, int port);
    bool negotiate(bool offerEncryption);
    bool sessionSetup(const std::string& domain, const std::string& user, const std::string& password);
    std::optional<Bytes> ioctl(uint32_t tree, uint32_t code, const FileId& id, const Bytes& input);

    // A request's header and body; its message id, or nothing.
    std::optional<uint64_t> send(uint16_t command, const Bytes& body, uint32_t tree, uint32_t payload,
                                 Bytes* sent = nullptr);
    // The final reply to `messageId` (interim replies skipped, replies to
    // other requests kept for later).
    std::optional<Reply> receive(uint64_t messageId);
    // Reads one reply and files it under early_ (an interim reply marks its
    // request pending; an echo's reply is taken here).
    bool receiveOne();
    std::optional<Reply> transact(uint16_t command, const Bytes& body, uint32_t tree, uint32_t payload = 0);
    // One message off the wire, decrypted when it came in a transform.
    bool readMessage(Bytes& out, bool& encrypted);
    // Waits until a reply begins: while a request is pending, silence is
    // answered with an echo, and only an unanswered echo ends the wait.
    bool awaitReply();
    bool readExact(uint8_t* p, size_t n);
    // The silence a wait allows now.
    int waitMs() const;
    bool writeAll(const Bytes& data);
    void sign(Bytes& message) const;
    std::array<uint8_t, 16> signature(const Bytes& message) const;
    bool verify(Bytes& message) const;
    // The CreditCharge field for a request carrying `payload` bytes (0
    // where the dialect has no multi-credit requests), and the credits it
    // takes (at least one).
    uint16_t creditCharge(uint32_t payload) const;
    uint64_t creditCost(uint32_t payload) const { return std::max<uint64_t>(creditCharge(payload), 1); }
    Bytes encrypt(const Bytes& message);

    // Records a failure; always false.
    bool fail(uint32_t error, uint32_t status = 0, const std::string& message = {});
    bool failStatus(uint32_t status);
    bool failTransport();

    mutable std::mutex fdMutex_;
    int fd_ = -1;
    std::atomic<bool> cancelled_{false};
    bool open_ = false;
    bool broken_ = false;

    std::string host_;
    uint16_t dialect_ = 0;
    uint32_t serverCapabilities_ = 0;
    uint16_t serverSecurityMode_ = 0;
    uint32_t maxRead_ = 65536, maxTransact_ = 65536;
    uint64_t nextMessageId_ = 0;
    uint64_t credits_ = 1;
    uint64_t sessionId_ = 0;
    bool signing_ = false;
    bool gmac_ = false;  // 3.1.1 servers that sign with AES-GMAC
    std::array<uint8_t, 16> sessionKey_{};
    std::array<uint8_t, 16> signingKey_{};
    std::array<uint8_t, 64> preauth_{};
    Cipher cipher_ = kNoCipher;
    Bytes encryptionKey_, decryptionKey_;
    bool encryptSession_ = false;
    std::set<uint32_t> encryptedTrees_;
    std::map<uint32_t, std::string> dfsTrees_;  // the share of each DFS tree
    uint64_t nonceCounter_ = 0;
    std::array<uint8_t, 4> nonceSalt_{};
    std::map<uint64_t, Waiting> waiting_;
    std::map<uint64_t, Reply> early_;
    std::optional<uint64_t> echo_;  // an echo sent to a silent server
    int replyTimeoutMs_ = kReplyTimeoutMs;
    bool loggingOn_ = false;
    Bytes spare_;

    uint32_t error_ = 0;
    uint32_t ntStatus_ = 0;
    std::string message_;
};
