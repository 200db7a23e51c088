#pragma once

#include "remote/protocols/SmbStackClient.h"

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>

class QNSmb;

// Our SMB1 client behind the calls the remote sources make of any SMB client
// (SmbStackClient), so that a listing, a stream, a download or a page fetch
// is written once for both clients. One connection to one server at a time,
// kept between calls (with the trees it has connected) and made again when
// it broke. Failures are told in the common codes; the SMB1 client's own
// code, NT status and failed step stay readable for the texts that belong
// to it.
class QNSmbClient : public SmbStackClient {
public:
    // What failed last, for the SMB1 client's own messages.
    enum class Step { None, Connect, ShareList, Tree, FileList, File };

    QNSmbClient();
    ~QNSmbClient() override;

    // The name asked for in a NetBIOS session (port 139); the host by default.
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
    bool isRequireRetry() const override { return requireRetry_; }
    void cancel() override;

    // The SMB1 client's own account of the last failure (QNSmb::Error).
    int ownError() const { return ownError_; }
    Step failedStep() const { return step_; }

    // The common code of an NT status.
    static uint32_t errorForStatus(uint32_t status);
    // One read asks for no more than this.
    static constexpr size_t kMaxReadLength = 64u << 20;

private:
    struct OpenFile;

    std::shared_ptr<QNSmb> connection(const std::string& server);
    uint16_t tree(const std::shared_ptr<QNSmb>& smb, const std::string& share);
    bool failFrom(const QNSmb& smb, Step step, bool wasConnected);
    // The entries of a share matching `pattern`; on failure the error of `failStep`.
    std::optional<std::vector<FileInfo>> listMatching(const std::string& server, const std::string& share,
                                                      const std::string& pattern, Step failStep);
    void clearError();

    std::string netBiosName_, domain_, user_, password_;
    mutable std::mutex mutex_;
    std::shared_ptr<QNSmb> smb_;  // guarded by mutex_
    std::string server_;
    std::map<std::string, uint16_t> trees_;
    std::atomic<bool> cancelled_{false};

    uint32_t error_ = 0;
    uint32_t ntStatus_ = 0;
    std::string message_;
    bool requireRetry_ = false;
    int ownError_ = 0;
    Step step_ = Step::None;
};
