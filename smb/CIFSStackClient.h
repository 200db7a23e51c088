#pragma once

#include "remote/protocols/SmbStackClient.h"

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>

class Smb2Connection;

// The SMB stack's client: SMB2/3 to one server at a time, the connection and
// the share's tree kept between calls and made again when they broke. Each
// slot's clients are separate connections (0 listings, 1 downloads).
//
// A path that crosses a DFS link is followed to where the link leads: the
// same server or another one (at the port the server was asked on, when one
// was given). The same server is reached with the same credentials; another
// one gets them only where the user said so for the site and that server
// (SmbDfsCredentials), and is tried as a guest otherwise; one that lets no
// guest in fails with kErrorDfsCredentials. Where a link cannot be followed
// the failure's message says so.
//
// The share list comes from the server's srvsvc pipe on IPC$. A share that
// requires encryption is encrypted; where it cannot be (a guest, a server
// without SMB 3) it is refused with a message naming it.
class CIFSStackClient : public SmbStackClient {
public:
    explicit CIFSStackClient(int slot);
    ~CIFSStackClient() override;

    // Makes SmbStackClient::make give these clients and resetStack reach
    // the slot's CIFSStackManager.
    static void registerWithRemote();

    int slot() const { return slot_; }

    void setDomain(const std::string& domain) override;
    void setUsername(const std::string& user) override;
    void setPassword(const std::string& password) override;

    std::optional<std::vector<ShareInfo>> getTreeList(const std::string& server, bool shareInfo) override;
    std::optional<std::vector<FileInfo>> getFilelist(const std::string& server, const std::string& share,
                                                     const std::string& path) override;
    std::optional<std::vector<FileInfo>> getFilelistPattern(const std::string& server, const std::string& share,
                                                            const std::string& path) override;
    std::shared_ptr<FileHandle> openFileForRead(const std::string& server, const std::string& share,
                                                const std::string& path, bool isSequential) override;
    std::optional<std::vector<uint8_t>> readFile(const std::shared_ptr<FileHandle>& file, const std::string& share,
                                                 size_t length) override;
    std::optional<std::vector<uint8_t>> readFileAt(const std::shared_ptr<FileHandle>& file, uint64_t offset,
                                                   size_t length) override;
    void closeFile(const std::shared_ptr<FileHandle>& file) override;

    uint32_t lastError() const override { return error_; }
    uint32_t lastNtStatus() const override { return ntStatus_; }
    std::string lastMessage() const override { return message_; }
    std::string lastDfsServer() const override { return dfsServer_; }
    bool isRequireRetry() const override { return requireRetry_; }
    void cancel() override;

    // The dialect of the open connection (0x0202 ... 0x0311), 0 when none.
    uint16_t dialect() const;
    bool isSigning() const;
    // The open connection's cipher (0 when none) and whether its whole
    // session is encrypted (a share may be, on its own).
    uint16_t cipher() const;
    bool isEncryptingSession() const;

    // One read asks for no more than this.
    static constexpr size_t kMaxReadLength = 64u << 20;
    // DFS links followed for one path at most, and servers held at once.
    static constexpr int kMaxDfsHops = 8;
    static constexpr size_t kMaxConnections = 16;

private:
    struct OpenFile;
    struct Server {
        std::shared_ptr<Smb2Connection> connection;
        std::map<std::string, uint32_t> trees;
    };
    // A file or folder opened where the path led.
    struct Opened;

    // The connection to `server`, opened (again) when needed; as a guest,
    // without the site's credentials, when `guest`.
    std::shared_ptr<Smb2Connection> connection(const std::string& server, bool guest = false);
    // `key` is the connection's key in servers_ (keyOf).
    uint32_t tree(const std::shared_ptr<Smb2Connection>& c, const std::string& key, const std::string& share);
    // `path` in `share` opened, DFS links followed.
    std::optional<Opened> open(const std::string& server, const std::string& share, const std::string& path,
                               uint32_t access, uint32_t options);
    std::optional<std::vector<FileInfo>> listFolder(const std::string& server, const std::string& share,
                                                    const std::string& path, const std::string& pattern);
    bool failFrom(const std::shared_ptr<Smb2Connection>& c);
    bool fail(uint32_t error, const std::string& message = {});
    void clearError();

    int slot_;
    std::string domain_, user_, password_;
    mutable std::mutex mutex_;
    std::map<std::string, Server> servers_;  // guarded by mutex_
    std::string server_;                     // the server last asked for by the caller
    std::atomic<bool> cancelled_{false};

    uint32_t error_ = 0;
    uint32_t ntStatus_ = 0;
    std::string message_;
    std::string dfsServer_;
    bool requireRetry_ = false;
};
