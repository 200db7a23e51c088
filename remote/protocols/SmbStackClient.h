#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// An SMB client as the remote sources call it: the SMB2/3 client of the SMB
// stack (CIFSStackClient), our SMB1 client behind the same calls
// (QNSmbClient), or the automatic choice between them (SmbAutoClient); which
// one a caller gets is SmbClientChoice's to say. The stack lives above this
// layer: it registers its maker at start-up, and until it has, make() gives
// nothing.
//
// A server is "host" or "host:port" (445 when no port is given). Paths inside
// a share use backslashes; "" is the share's root. Every call blocks and may
// be aborted from another thread with cancel().
class SmbStackClient {
public:
    // lastError codes. The first group is what the listings and downloads
    // tell apart; the rest say why any other call failed.
    enum : uint32_t {
        kErrorNone = 0,
        kErrorBadParameter = 0x00FF0003,
        kErrorLogonFailure = 0x00FF0021,
        kErrorAccountRestricted = 0x00FF03F0,
        kErrorAccessDenied = 0x00FF03F4,
        kErrorNotAccepted = 0x00FF082A,
        kErrorNoLogonServers = 0x00FF0BB7,
        kErrorConnect = 0x00FF0001,
        kErrorProtocol = 0x00FF0002,
        kErrorNotFound = 0x00FF0004,
        kErrorCancelled = 0x00FF0005,
        kErrorEncryptionRequired = 0x00FF0006,
        kErrorSignature = 0x00FF0007,
        kErrorDisconnected = 0x00FF0008,
        kErrorStatus = 0x00FF0009,  // any other status of the server (lastNtStatus)
        // A DFS link leads to another server, which does not let a guest in,
        // and the user has not said whether the site's credentials may go
        // there (SmbDfsCredentials; the server is lastDfsServer()).
        kErrorDfsCredentials = 0x00FF000A,
    };

    struct ShareInfo {
        std::string name;
        std::optional<uint32_t> type;  // only when share information was asked for
        std::string comment;
    };
    struct FileInfo {
        std::string name;
        uint32_t attributes = 0;  // 0x10: folder
        uint64_t size = 0;
        uint64_t lastWriteTime = 0;  // 100-ns ticks since 1601
    };
    // An open file; reads go on from its position.
    struct FileHandle {
        virtual ~FileHandle() = default;
        uint64_t position = 0;
        uint64_t size = 0;
    };

    using Maker = std::function<std::shared_ptr<SmbStackClient>(int slot)>;
    using Resetter = std::function<void(int slot)>;

    virtual ~SmbStackClient() = default;

    // Installed by the stack at start-up.
    static void registerMaker(Maker maker, Resetter resetter);
    // A new client on `slot` (0 listings, 1 downloads); nothing when no
    // stack is registered.
    static std::shared_ptr<SmbStackClient> make(int slot);
    // Resets the client side of the stack of `slot`.
    static void resetStack(int slot);

    virtual void setDomain(const std::string& domain) = 0;
    virtual void setUsername(const std::string& user) = 0;
    virtual void setPassword(const std::string& password) = 0;

    // The server's shares (disk shares and the rest alike); nothing on failure.
    virtual std::optional<std::vector<ShareInfo>> getTreeList(const std::string& server, bool shareInfo) = 0;
    // The entries of a folder, "." and ".." included as the server sends them.
    virtual std::optional<std::vector<FileInfo>> getFilelist(const std::string& server, const std::string& share,
                                                             const std::string& path) = 0;
    // The one entry at `path` (its size and attributes); nothing when missing.
    virtual std::optional<std::vector<FileInfo>> getFilelistPattern(const std::string& server,
                                                                    const std::string& share,
                                                                    const std::string& path) = 0;
    virtual std::shared_ptr<FileHandle> openFileForRead(const std::string& server, const std::string& share,
                                                        const std::string& path, bool isSequential) = 0;
    // Up to `length` bytes from the handle's position, which moves on; an
    // empty block at the end of the file; nothing on failure.
    virtual std::optional<std::vector<uint8_t>> readFile(const std::shared_ptr<FileHandle>& file,
                                                         const std::string& share, size_t length) = 0;
    // Bytes at `offset`, the handle's position left alone.
    virtual std::optional<std::vector<uint8_t>> readFileAt(const std::shared_ptr<FileHandle>& file,
                                                           uint64_t offset, size_t length) = 0;
    virtual void closeFile(const std::shared_ptr<FileHandle>& file) = 0;

    virtual uint32_t lastError() const = 0;
    // The server's status behind the last failure (0 when there was none).
    virtual uint32_t lastNtStatus() const = 0;
    // A sentence for the user about the last failure ("" when the code says it all).
    virtual std::string lastMessage() const = 0;
    // The server behind kErrorDfsCredentials ("host" or "host:port").
    virtual std::string lastDfsServer() const { return {}; }
    // The connection failed under the last call: a new client may succeed.
    virtual bool isRequireRetry() const = 0;
    // Aborts a blocking call from another thread: it returns at once and fails.
    virtual void cancel() = 0;
};
