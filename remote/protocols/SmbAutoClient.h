#pragma once

#include "remote/protocols/SmbStackClient.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

class QNSmb;
class QNSmbClient;

// The automatic choice of SMB client, per server: SMB2/3 (the stack's
// client) wherever the server offers it, our SMB1 client where it speaks
// nothing newer. The first time a server is met, it is asked which dialects
// it speaks (QNSmb::probeDialects); the client that works is remembered for
// it (SmbClientChoice). A remembered client that can no longer connect is
// forgotten and the server asked again, so a server that changed is followed.
class SmbAutoClient : public SmbStackClient {
public:
    explicit SmbAutoClient(int slot);
    ~SmbAutoClient() override;

    // The name asked for in a NetBIOS session (port 139) by the SMB1 client.
    void setNetBiosName(const std::string& name) { netBiosName_ = name; }

    void setDomain(const std::string& domain) override { domain_ = domain; }
    void setUsername(const std::string& user) override { user_ = user; }
    void setPassword(const std::string& password) override { password_ = password; }

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

    // The SMB1 client when it is the one in use (its own failure texts
    // belong to it), else nothing.
    std::shared_ptr<QNSmbClient> smb1() const;

private:
    // The client for `server`, chosen (and the server asked) when needed.
    std::shared_ptr<SmbStackClient> clientFor(const std::string& server, bool* fromMemory);
    std::shared_ptr<SmbStackClient> current() const;
    // `op` on the server's client; once more on the other client when the
    // remembered one cannot connect and the server now speaks otherwise.
    template <typename Op>
    auto run(const std::string& server, Op op) -> decltype(op(std::declval<SmbStackClient&>()));
    // `read` on the client in use, its error taken when it fails.
    template <typename Read>
    std::optional<std::vector<uint8_t>> readOnCurrent(Read read);
    void takeError(const SmbStackClient& c);
    void fail(uint32_t error, const std::string& message);

    int slot_;
    std::string netBiosName_, domain_, user_, password_;
    mutable std::mutex mutex_;
    std::shared_ptr<SmbStackClient> current_;  // guarded by mutex_
    std::shared_ptr<QNSmb> probe_;             // guarded by mutex_
    std::string server_;
    bool fromMemory_ = false;
    bool own_ = false;
    std::atomic<bool> cancelled_{false};

    uint32_t error_ = 0;
    uint32_t ntStatus_ = 0;
    std::string message_;
    std::string dfsServer_;
    bool requireRetry_ = false;
};
