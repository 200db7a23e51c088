#pragma once

#include "foundation/QNSocketSync.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

// A blocking FTP client for one worker thread: log on, change folder, ask a
// file's size, read a byte range or list the current folder, always over
// passive data connections in binary mode. Every call answers with a plain
// status code (below). cancel() from another thread closes the connections,
// so that a blocked call returns at once.
//
// Replies are read whole, multi-line ones ("230-...") included, so servers
// that greet or welcome over several lines work. The data connection goes
// to the address the control connection reached, whatever address the
// passive reply names: a server cannot send the client to a third host.
// Names that would end the command line early (CR, LF, NUL) are refused.
class QNFtpRequestSync {
public:
    // connectToFtp.
    static constexpr int kLoggedOn = 0;
    static constexpr int kConnectFailed = 2;
    static constexpr int kUserRefused = 4;
    static constexpr int kPasswordRefused = 5;
    static constexpr int kTypeRefused = 6;
    static constexpr int kNoReply = 11;
    // changeDir.
    static constexpr int kDirChanged = 0;
    static constexpr int kDirRefused = 8;
    // getFile and getList.
    static constexpr int kTransferDone = 1;
    static constexpr int kTransferRefused = 6;
    static constexpr int kRestRefused = 7;
    static constexpr int kNoTransferReply = 8;
    static constexpr int kNoRestReply = 9;
    static constexpr int kDataConnectFailed = 10;
    // The receiver refused more data, or the call was cancelled.
    static constexpr int kTransferStopped = 12;
    // A listing larger than the caller's limit.
    static constexpr int kListTooLarge = 13;

    static constexpr size_t kMaxReplyLine = 1024;
    static constexpr size_t kMaxChunk = 10240;

    // Handed each chunk of a file; the bytes are valid only during the call.
    // Returning false stops the transfer.
    using DataHandler = std::function<bool(const char* data, size_t size)>;

    QNFtpRequestSync();
    ~QNFtpRequestSync();

    void setTimeouts(double connectSeconds, double idleSeconds) {
        connectTimeout_ = connectSeconds;
        idleTimeout_ = idleSeconds;
    }

    // Port 0 means 21.
    int connectToFtp(const std::string& host, int port, const std::string& user, const std::string& password);
    // Path bytes in the site's character set.
    int changeDir(const std::string& path);
    // The size from a 213 reply, else -1.
    int64_t getFilesize(const std::string& name);
    // From `offset`, `length` bytes (0: to the end). A read that reaches its
    // length aborts the transfer and ends the control connection (the next
    // one logs on again).
    int getFile(const std::string& name, int64_t offset, int64_t length, const DataHandler& handler);
    // The LIST text of the current folder, at most maxBytes bytes.
    int getList(std::string* text, size_t maxBytes);
    void cancel();
    bool disconnect();
    bool isCancel() const { return isCancel_.load(); }

    // The number the reply line starts with (its first three characters).
    static int ftpStatusCodeWithBuffer(const std::string& line);

private:
    bool sendCommand(const std::string& line);
    // One command of the log-on and its answer: kLoggedOn for the
    // `expected` code; otherwise the connection closes and the result is
    // kNoReply, or `refused` for another code.
    int logOnStep(const std::string& command, int expected, int refused);
    // One whole reply; its code, or -1 when none arrived. `text` receives
    // the last line.
    int readReply(std::string* text = nullptr);
    // PASV and the data connection; a status (0 when connected).
    int openPassive(std::unique_ptr<QNSocketSync>* data);
    void setData(QNSocketSync* data);
    void closeControl();
    static bool safeArgument(const std::string& s);

    std::unique_ptr<QNSocketSync> socket_;
    std::mutex socketMutex_;
    QNSocketSync* data_ = nullptr;  // guarded by socketMutex_
    std::atomic<bool> isCancel_{false};
    double connectTimeout_ = 30;
    double idleTimeout_ = 60;
};
