#pragma once

#include "foundation/QNSocketSync.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

// A blocking FTP client for one worker thread: log on, change folder, ask a
// file's size, read a file from an offset or list the current folder, always
// over passive data connections in binary mode. Every call answers with a
// plain status code (below). cancel() from another thread closes the
// connections, so that a blocked call returns at once.
//
// One session serves many calls: a transfer that ends early (the handler
// wants no more, or the wanted length has arrived) closes its data
// connection and reads the server's reply that ends the transfer, and the
// session goes on. connected() tells whether the server still holds it.
//
// Log-on: the greeting is read, then USER; a server may log the user on
// there (230) or ask for PASS (331). A 421 anywhere means the server takes
// no session now (too many users, shutting down): kServerBusy, never a
// refusal of the user or password. After log-on FEAT tells the server's
// extensions: "OPTS UTF8 ON" is sent where it offers UTF8, listings use
// MLSD where it offers MLST (exact sizes, universal times), else LIST.
// Data connections are opened with EPSV, and with PASV on servers that do
// not know EPSV.
//
// Replies are read whole, multi-line ones ("230-...") included. The data
// connection goes to the address the control connection reached, whatever
// address a passive reply names: a server cannot send the client to a third
// host. Names that would end the command line early (CR, LF, NUL) are
// refused.
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
    // Any call: the server answered 421 and closed the session (busy, or
    // going down): worth another try later.
    static constexpr int kServerBusy = 14;
    // getFile and getList: the data connection broke (reset, time-out)
    // before the server ended the transfer, or the server ended it with an
    // error after some data: what arrived is not the whole.
    static constexpr int kTransferBroken = 15;

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

    // Caps each data connection's receive buffer (0: the system's sizing):
    // a reader that breaks transfers off early then wastes little of what
    // the server had already sent.
    void setDataReceiveBuffer(int bytes) { dataReceiveBuffer_ = bytes; }

    // Port 0 means 21.
    int connectToFtp(const std::string& host, int port, const std::string& user, const std::string& password);
    // Path bytes in the site's character set.
    int changeDir(const std::string& path);
    // The size from a 213 reply, else -1.
    int64_t getFilesize(const std::string& name);
    // From `offset`, `length` bytes (0: to the end). A transfer stopped
    // early (the length reached, or the handler returning false) leaves the
    // session in step for the next call.
    int getFile(const std::string& name, int64_t offset, int64_t length, const DataHandler& handler);
    // The listing of the current folder (MLSD lines where the server offers
    // them, else LIST lines), at most maxBytes bytes. A listing the server
    // ends with an error, or whose data connection breaks, is kTransferBroken.
    int getList(std::string* text, size_t maxBytes);
    void cancel();
    bool disconnect();
    bool isCancel() const { return isCancel_.load(); }
    // Logged on and the control connection still up.
    bool connected() const;
    // An extension FEAT named (upper case, without its parameters: "MLST",
    // "UTF8", "EPSV", "REST").
    bool hasFeature(const std::string& name) const { return features_.count(name) != 0; }

    // The code of the last reply read (0 when none).
    int lastReplyCode() const { return lastReplyCode_; }

    // The number the reply line starts with (its first three characters).
    static int ftpStatusCodeWithBuffer(const std::string& line);
    // The code says the server does not know the command (or its parameter).
    static bool notImplemented(int code) { return code == 500 || code == 501 || code == 502 || code == 504; }

private:
    bool sendCommand(const std::string& line);
    // One whole reply; its code, or -1 when none arrived (the control
    // connection is then closed). `text` receives the last line, `lines`
    // every line. A 421 closes the control connection as the server does.
    int readReply(std::string* text = nullptr, std::vector<std::string>* lines = nullptr);
    // Sends `command` and reads its reply: the code, -1 when the send
    // failed or no reply came.
    int command(const std::string& command, std::string* text = nullptr, std::vector<std::string>* lines = nullptr);
    // FEAT, then OPTS UTF8 ON where offered.
    void readFeatures();
    // EPSV (or PASV) and the data connection; a status (0 when connected).
    int openPassive(std::unique_ptr<QNSocketSync>* data);
    int connectData(std::unique_ptr<QNSocketSync>* data, int port);
    // Sends the transfer command (after REST when offset > 0) and reads its
    // preliminary reply; 0 when the transfer began.
    int beginTransfer(const std::string& cmd, int64_t offset);
    // The transfer's data connection closes before its end: the server's
    // reply that ends it is read (keeping the session in step) or, when none
    // comes, the session is closed.
    void stopTransfer(std::unique_ptr<QNSocketSync>* data);
    void closeData(std::unique_ptr<QNSocketSync>* data);
    void setData(QNSocketSync* data);
    void closeControl();
    static bool safeArgument(const std::string& s);
    // kServerBusy for a 421 reply, else `otherwise`.
    static int busyOr(int code, int otherwise) { return code == 421 ? kServerBusy : otherwise; }

    std::unique_ptr<QNSocketSync> socket_;
    mutable std::mutex socketMutex_;
    QNSocketSync* data_ = nullptr;  // guarded by socketMutex_
    std::atomic<bool> isCancel_{false};
    std::atomic<bool> loggedOn_{false};
    std::set<std::string> features_;
    // The server does not know EPSV (or MLSD): PASV (LIST) from then on.
    bool noEpsv_ = false;
    bool noMlsd_ = false;
    double connectTimeout_ = 30;
    double idleTimeout_ = 60;
    int dataReceiveBuffer_ = 0;
    int lastReplyCode_ = 0;
};
