#pragma once

#include "remote/protocols/SmbStackClient.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

// One TCP connection to an SMB2/3 server with one session on it: negotiate
// (2.0.2 to 3.1.1, with the pre-authentication hash of 3.1.1), session set-up
// with NTLMSSP in SPNEGO, signing when the server requires it (HMAC-SHA256
// for 2.x, AES-128-CMAC under the derived key for 3.x), and the commands a
// reading client needs. Reads ask for several credits at once and are sent
// several at a time.
//
// Every reply is checked against its own length before a field is read. A
// failure leaves its code in error() (SmbStackClient's codes) with the
// server's status in ntStatus(). cancel() may come from any thread: it shuts
// the socket down, so a blocked call returns at once.
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

    Smb2Connection();
    ~Smb2Connection();
    Smb2Connection(const Smb2Connection&) = delete;
    Smb2Connection& operator=(const Smb2Connection&) = delete;

    // TCP, negotiate and session set-up. An empty user logs on anonymously.
    bool open(const std::string& host, int port, const std::string& domain, const std::string& user,
              const std::string& password);
    // Tree id (non-zero), or 0.
    uint32_t treeConnect(const std::string& share);
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

    void cancel();
    bool isOpen() const { return open_ && !broken_; }
    bool isBroken() const { return broken_; }

    uint16_t dialect() const { return dialect_; }
    bool signing() const { return signing_; }
    const std::string& host() const { return host_; }
    uint32_t maxReadSize() const;

    uint32_t error() const { return error_; }
    uint32_t ntStatus() const { return ntStatus_; }
    const std::string& message() const { return message_; }

    // SMB2 signing and key derivation, also for the tests.
    static std::array<uint8_t, 16> kdf(const std::array<uint8_t, 16>& key, const Bytes& label, const Bytes& context);
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

    bool connectSocket(const std::string& host, int port);
    bool negotiate();
    bool sessionSetup(const std::string& domain, const std::string& user, const std::string& password);

    // A request's header and body; its message id, or nothing.
    std::optional<uint64_t> send(uint16_t command, const Bytes& body, uint32_t tree, uint32_t payload,
                                 Bytes* sent = nullptr);
    // The final reply to `messageId` (interim replies skipped, replies to
    // other requests kept for later).
    std::optional<Reply> receive(uint64_t messageId);
    std::optional<Reply> transact(uint16_t command, const Bytes& body, uint32_t tree, uint32_t payload = 0);
    bool readMessage(Bytes& out);
    bool readExact(uint8_t* p, size_t n);
    bool writeAll(const Bytes& data);
    void sign(Bytes& message) const;
    std::array<uint8_t, 16> signature(const Bytes& message) const;
    bool verify(Bytes& message) const;
    uint16_t creditCharge(uint32_t payload) const;

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
    std::map<uint64_t, Reply> early_;
    Bytes spare_;

    uint32_t error_ = 0;
    uint32_t ntStatus_ = 0;
    std::string message_;
};
