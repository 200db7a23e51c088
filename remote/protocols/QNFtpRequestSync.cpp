#include "remote/protocols/QNFtpRequestSync.h"

#include "remote/protocols/QNFtpRequest.h"

#include <algorithm>
#include <vector>

namespace {

// Bounds a reply that never ends.
constexpr int kMaxReplyLines = 10000;
constexpr size_t kMaxRetrLine = 1024;
constexpr size_t kMaxPathLine = 10240;

bool isDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

QNFtpRequestSync::QNFtpRequestSync() = default;

QNFtpRequestSync::~QNFtpRequestSync() { closeControl(); }

int QNFtpRequestSync::ftpStatusCodeWithBuffer(const std::string& line) {
    int code = 0;
    for (size_t i = 0; i < 3 && i < line.size() && isDigit(line[i]); ++i) code = code * 10 + (line[i] - '0');
    return code;
}

bool QNFtpRequestSync::safeArgument(const std::string& s) {
    return s.find_first_of(std::string("\r\n\0", 3)) == std::string::npos;
}

void QNFtpRequestSync::closeControl() {
    std::unique_ptr<QNSocketSync> old;
    {
        std::lock_guard<std::mutex> lock(socketMutex_);
        old = std::move(socket_);
    }
    if (old) old->disconnect();
}

bool QNFtpRequestSync::sendCommand(const std::string& line) {
    if (!socket_ || isCancel_) return false;
    return socket_->sendString(line);
}

int QNFtpRequestSync::readReply(std::string* text) {
    if (!socket_) return -1;
    std::string line;
    if (socket_->recvLine(&line, kMaxReplyLine) < 0) return -1;
    const int code = ftpStatusCodeWithBuffer(line);
    if (line.size() >= 4 && line[3] == '-' && isDigit(line[0]) && isDigit(line[1]) && isDigit(line[2])) {
        // A multi-line reply ends with the same code followed by a space.
        const std::string end = line.substr(0, 3) + " ";
        for (int n = 0;; ++n) {
            if (n >= kMaxReplyLines || socket_->recvLine(&line, kMaxReplyLine) < 0) return -1;
            if (line.compare(0, 4, end) == 0) break;
        }
    }
    if (text) *text = line;
    return code;
}

int QNFtpRequestSync::connectToFtp(const std::string& host, int port, const std::string& user,
                                   const std::string& password) {
    closeControl();
    if (isCancel_) return kConnectFailed;
    {
        std::lock_guard<std::mutex> lock(socketMutex_);
        socket_ = std::make_unique<QNSocketSync>();
        socket_->setConnectTimeout(connectTimeout_);
        socket_->setIdleTimeout(idleTimeout_);
    }
    if (!socket_->connect(host, port == 0 ? 21 : port)) {
        closeControl();
        return kConnectFailed;
    }
    if (!safeArgument(user) || !safeArgument(password)) {
        closeControl();
        return kUserRefused;
    }
    // USER goes out at once; the greeting is read before its answer.
    if (!sendCommand("USER " + user + "\r\n")) {
        closeControl();
        return kNoReply;
    }
    int code = 0;
    for (int n = 0;; ++n) {
        code = readReply();
        if (code < 0 || n >= kMaxReplyLines) {
            closeControl();
            return kNoReply;
        }
        if (code != 220) break;
    }
    if (code != 331) {
        closeControl();
        return kUserRefused;
    }
    const int pass = logOnStep("PASS " + password + "\r\n", 230, kPasswordRefused);
    if (pass != kLoggedOn) return pass;
    return logOnStep("TYPE I\r\n", 200, kTypeRefused);
}

int QNFtpRequestSync::logOnStep(const std::string& command, int expected, int refused) {
    if (!sendCommand(command)) {
        closeControl();
        return kNoReply;
    }
    const int code = readReply();
    if (code < 0) {
        closeControl();
        return kNoReply;
    }
    if (code != expected) {
        closeControl();
        return refused;
    }
    return kLoggedOn;
}

int QNFtpRequestSync::changeDir(const std::string& path) {
    const std::string cmd = "CWD " + path + "\r\n";
    if (!safeArgument(path) || cmd.size() >= kMaxPathLine || !sendCommand(cmd)) return kDirRefused;
    return readReply() == 250 ? kDirChanged : kDirRefused;
}

int64_t QNFtpRequestSync::getFilesize(const std::string& name) {
    const std::string cmd = "SIZE " + name + "\r\n";
    if (!safeArgument(name) || cmd.size() >= kMaxPathLine || !sendCommand(cmd)) return -1;
    std::string line;
    if (readReply(&line) != 213 || line.size() < 5) return -1;
    const std::string digits = line.substr(4);
    int64_t v = 0;
    size_t i = 0;
    while (i < digits.size() && digits[i] == ' ') ++i;
    const size_t first = i;
    for (; i < digits.size() && isDigit(digits[i]); ++i) {
        if (v > (INT64_MAX - 9) / 10) return -1;
        v = v * 10 + (digits[i] - '0');
    }
    return i == first ? -1 : v;
}

void QNFtpRequestSync::setData(QNSocketSync* data) {
    std::lock_guard<std::mutex> lock(socketMutex_);
    data_ = data;
}

int QNFtpRequestSync::openPassive(std::unique_ptr<QNSocketSync>* data) {
    if (!sendCommand("PASV\r\n")) return kNoTransferReply;
    std::string line;
    const int code = readReply(&line);
    if (code < 0) return kNoTransferReply;
    if (code != 227) return kTransferRefused;
    int port = 0;
    const auto host = QNFtpRequest::getAddressAndPortWithPassiveResponse(line, &port);
    // Only the port is taken from the reply.
    if (!host || port <= 0 || socket_->peerAddress().empty()) return kDataConnectFailed;
    *data = std::make_unique<QNSocketSync>();
    (*data)->setConnectTimeout(connectTimeout_);
    (*data)->setIdleTimeout(idleTimeout_);
    setData(data->get());
    if (isCancel_ || !(*data)->connect(socket_->peerAddress(), port)) {
        setData(nullptr);
        data->reset();
        return kDataConnectFailed;
    }
    return 0;
}

int QNFtpRequestSync::getFile(const std::string& name, int64_t offset, int64_t length, const DataHandler& handler) {
    const std::string retr = "RETR " + name + "\r\n";
    if (!safeArgument(name) || retr.size() >= kMaxRetrLine) return kTransferRefused;
    if (offset < 0 || length < 0) return kTransferRefused;
    std::unique_ptr<QNSocketSync> data;
    if (const int rc = openPassive(&data)) return rc;
    auto finish = [&](int rc) {
        setData(nullptr);
        if (data) data->disconnect();
        return rc;
    };
    if (offset != 0) {
        if (!sendCommand("REST " + std::to_string(offset) + "\r\n")) return finish(kNoRestReply);
        const int code = readReply();
        if (code < 0) return finish(kNoRestReply);
        if (code != 350) return finish(kRestRefused);
    }
    if (!sendCommand(retr)) return finish(kNoTransferReply);
    const int code = readReply();
    if (code < 0) return finish(kNoTransferReply);
    if (code != 150 && code != 125) return finish(kTransferRefused);

    std::vector<char> buf(kMaxChunk);
    int64_t remain = length;
    for (;;) {
        const size_t want = remain > 0 && remain < int64_t(kMaxChunk) ? size_t(remain) : kMaxChunk;
        const long n = data->recvDataOnce(buf.data(), want);
        if (n <= 0) break;
        if (isCancel_ || !handler(buf.data(), size_t(n))) {
            finish(0);
            closeControl();
            return kTransferStopped;
        }
        if (length > 0) {
            remain -= n;
            if (remain == 0) {
                // The rest of the file is not wanted: stop the transfer and
                // end this session rather than drain it.
                finish(0);
                sendCommand("ABOR\r\n");
                sendCommand("QUIT\r\n");
                closeControl();
                return kTransferDone;
            }
        }
    }
    finish(0);
    if (isCancel_) return kTransferStopped;
    return readReply() < 0 ? kTransferRefused : kTransferDone;
}

int QNFtpRequestSync::getList(std::string* text, size_t maxBytes) {
    text->clear();
    std::unique_ptr<QNSocketSync> data;
    if (const int rc = openPassive(&data)) return rc;
    auto finish = [&](int rc) {
        setData(nullptr);
        if (data) data->disconnect();
        return rc;
    };
    if (!sendCommand("LIST\r\n")) return finish(kNoTransferReply);
    const int code = readReply();
    if (code < 0) return finish(kNoTransferReply);
    if (code != 150 && code != 125) return finish(kTransferRefused);
    std::vector<char> buf(kMaxChunk);
    for (;;) {
        const long n = data->recvDataOnce(buf.data(), buf.size());
        if (n <= 0) break;
        if (text->size() + size_t(n) > maxBytes) {
            finish(0);
            closeControl();
            return kListTooLarge;
        }
        text->append(buf.data(), size_t(n));
    }
    finish(0);
    if (isCancel_) return kTransferStopped;
    const int closing = readReply();
    if (closing < 0) return kTransferRefused;
    // A listing cut short by the server is no listing.
    return closing / 100 == 2 ? kTransferDone : kTransferRefused;
}

void QNFtpRequestSync::cancel() {
    isCancel_ = true;
    std::lock_guard<std::mutex> lock(socketMutex_);
    if (socket_) socket_->cancel();
    if (data_) data_->cancel();
}

bool QNFtpRequestSync::disconnect() {
    if (socket_ && socket_->active()) socket_->sendString("QUIT\r\n");
    closeControl();
    return true;
}
