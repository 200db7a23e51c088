#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

// Our SMB1 client (NT LM 0.12) over TCP: direct on any port but 139, where
// a NetBIOS session is asked for first. Negotiate, session set-up with
// NTLMv2 (in extended security, or plain), tree connect, the share list
// (srvsvc NetShareEnumAll over the IPC$ pipe, with names in UTF-16; RAP
// NetShareEnum on \PIPE\LANMAN from servers that refuse srvsvc), folder
// searches (TRANS2 FIND_FIRST2 and FIND_NEXT2), NT_CREATE_ANDX, READ_ANDX
// with 64-bit offsets and close.
//
// Every call blocks; cancel() from another thread shuts the socket down so
// that a blocked call returns at once. Replies are checked against their
// own length before a field is read, and against the request they answer:
// an answer whose id was never sent, or was answered already, breaks the
// connection.
class QNSmb {
public:
    enum Error { kErrorNone = 0, kErrorConnect = 1, kErrorProtocol = 2, kErrorNtStatus = 3, kErrorCancelled = 4 };
    static constexpr uint32_t kStatusAccessDenied = 0xC0000022;
    static constexpr uint32_t kStatusLogonFailure = 0xC000006D;

    struct ShareInfo {
        std::string name;
        uint32_t type = 0;
        std::string comment;
    };
    struct FileInfo {
        std::string name;
        uint32_t attributes = 0;
        uint64_t size = 0;
        int64_t lastWriteTime = 0;  // seconds since 1970
    };
    // A search returning more entries than this is refused.
    static constexpr size_t kMaxEntries = 1'000'000;
    // The largest read asked for at once, and how many travel together.
    static constexpr uint32_t kMaxRead = 1u << 20;
    static constexpr size_t kReadsInFlight = 8;

    QNSmb();
    ~QNSmb();
    QNSmb(const QNSmb&) = delete;
    QNSmb& operator=(const QNSmb&) = delete;

    void setNativeLanManager(const std::string& name) { nativeLanManager_ = name; }
    void setWorkStationName(const std::string& name) { workStation_ = name; }
    // False: log on with the plain NTLMv2 responses in the session set-up
    // even where the server offers extended security (NTLMSSP), as servers
    // without it always get.
    void setUseExtendedSecurity(bool on) { useExtendedSecurity_ = on; }
    // The port whose connections start with a NetBIOS session request (139
    // unless set; a server may offer the session service elsewhere).
    void setNetbiosSessionPort(int port) { netbiosPort_ = port; }

    // `host` may carry ":port" (445 by default). `domainAndUser` is "user" or
    // "domain\user"; an empty user logs on anonymously.
    bool connect(const std::string& host, const std::string& netBiosName, const std::string& domainAndUser,
                 const std::string& password);
    // What a server speaks, asked with a negotiate that offers SMB 2.002 and
    // 2.??? beside NT LM 0.12 (the way SMB2 clients begin): Newer when it
    // answers in SMB2, Smb1Only when it picks NT LM 0.12, Unreachable when
    // no connection could be made, Unclear otherwise. The connection is
    // closed again.
    enum class Dialects { Newer, Smb1Only, Unreachable, Unclear };
    Dialects probeDialects(const std::string& host, const std::string& netBiosName);
    // False once the connection is gone (after a failed send or receive).
    bool isConnected() const { return connected_; }
    std::optional<std::vector<ShareInfo>> getTreeList();
    // Tree id, 0 on failure.
    uint16_t connectTree(const std::string& share);
    // `pattern`: the folder's backslash path, a backslash and "*".
    std::optional<std::vector<FileInfo>> getFileList(uint16_t tree, const std::string& pattern);
    // File id, 0 on failure (`openedSize` gets the file's length).
    uint16_t openFile(uint16_t tree, const std::string& path, uint64_t* openedSize = nullptr);
    // Up to `length` bytes at `offset` (shorter only at the end of the file);
    // a long read is sent as several at once.
    std::optional<std::vector<uint8_t>> readFile(uint16_t file, uint16_t tree, uint64_t offset, uint32_t length);
    void closeFile(uint16_t file, uint16_t tree = 0);
    void disconnectTree(uint16_t tree);
    void disconnect();
    void cancel();

    int lastError() const { return lastError_; }
    uint32_t lastNtStatus() const { return lastNtStatus_; }

private:
    using Bytes = std::vector<uint8_t>;
    struct Reply {
        uint16_t mid = 0;
        uint32_t status = 0;
        Bytes message;       // from the SMB header on
        size_t words = 0;    // offset of the parameter words
        size_t wordCount = 0;
        size_t bytes = 0;    // offset of the data bytes
        size_t byteCount = 0;
    };
    bool connectSocket(const std::string& host, int port);
    bool netbiosSession(const std::string& calledName);
    bool negotiate();
    bool sessionSetup(const std::string& domain, const std::string& user, const std::string& password);
    bool rawSessionSetup(const std::string& domain, const std::string& user, const std::string& password);
    std::optional<Reply> transact(uint8_t command, uint16_t tree, const Bytes& words, const Bytes& bytes);
    std::optional<uint16_t> sendRequest(uint8_t command, uint16_t tree, const Bytes& words, const Bytes& bytes);
    // The next answer to `command`, whatever its id.
    std::optional<Reply> receiveMessage(uint8_t command);
    // The answer to the request `mid`.
    std::optional<Reply> receiveReply(uint8_t command, uint16_t mid);
    // TRANSACTION (to `name`) or TRANSACTION2, with their setup words; the
    // whole parameter and data blocks of the answer, put together from its parts.
    bool transaction(uint8_t command, uint16_t tree, const std::string& name, const std::vector<uint16_t>& setup,
                     const Bytes& params, const Bytes& data, Bytes& outParams, Bytes& outData);
    uint16_t createFile(uint16_t tree, const std::string& name, uint32_t access, uint32_t shareAccess,
                        uint32_t options, uint64_t* openedSize);
    // `refused`: the server will not list through srvsvc (RAP may do).
    std::optional<std::vector<ShareInfo>> sharesThroughSrvsvc(uint16_t ipc, bool* refused);
    std::optional<std::vector<ShareInfo>> sharesThroughRap(uint16_t ipc);
    // What the pipe holds beyond the answer of a call.
    std::optional<Bytes> readPipe(uint16_t pipe, uint16_t tree);
    bool startSession(const std::string& host, const std::string& netBiosName, std::string* name, int* port);
    bool writeAll(const Bytes& data);
    bool readExact(uint8_t* p, size_t n);
    bool fail(int error, uint32_t status = 0);
    size_t messageLimit() const;
    bool failTransport();

    std::string nativeLanManager_ = "QNSmb", workStation_ = "QNSmbWorkStation";
    std::string host_;
    mutable std::mutex fdMutex_;
    int fd_ = -1;
    std::atomic<bool> cancelled_{false};
    bool connected_ = false;
    bool negotiated_ = false;
    bool useExtendedSecurity_ = true;
    int netbiosPort_ = 139;
    bool extendedSecurity_ = true;  // what the negotiation settled
    std::array<uint8_t, 8> challenge_{};
    std::string serverDomain_;
    uint16_t uid_ = 0;
    uint16_t mid_ = 1;
    uint32_t sessionKey_ = 0;
    uint32_t capabilities_ = 0;
    uint32_t maxBuffer_ = 4356;
    int lastError_ = 0;
    uint32_t lastNtStatus_ = 0;
};
