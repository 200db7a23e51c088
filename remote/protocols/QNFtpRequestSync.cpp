#include "remote/protocols/QNFtpRequestSync.h"

#include "remote/protocols/QNFtpRequest.h"

#include <algorithm>
#include <cctype>
#include <vector>

namespace {

// Bounds a reply that never ends.
constexpr int kMaxReplyLines = 10000;
// Lines of a reply kept for the caller (FEAT).
constexpr size_t kMaxKeptLines = 200;
// Separate 220 replies a server may send before it answers USER.
constexpr int kMaxGreetings = 20;
constexpr size_t kMaxRetrLine = 1024;
constexpr size_t kMaxPathLine = 10240;

bool isDigit(char c) { return c >= '0' && c <= '9'; }

bool isPositive(int code) { return code >= 200 && code < 300; }

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
        loggedOn_ = false;
    }
    if (old) old->disconnect();
}

bool QNFtpRequestSync::connected() const {
    std::lock_guard<std::mutex> lock(socketMutex_);
    return loggedOn_ && socket_ && socket_->active() && !isCancel_;
}

bool QNFtpRequestSync::sendCommand(const std::string& line) {
    if (!socket_ || isCancel_) return false;
    if (socket_->sendString(line)) return true;
    closeControl();
    return false;
}

int QNFtpRequestSync::readReply(std::string* text, std::vector<std::string>* lines) {
    if (!socket_) return -1;
    std::string line;
    if (socket_->recvLine(&line, kMaxReplyLine) < 0) {
        closeControl();
        return -1;
    }
    if (lines) lines->push_back(line);
    const int code = ftpStatusCodeWithBuffer(line);
    if (line.size() >= 4 && line[3] == '-' && isDigit(line[0]) && isDigit(line[1]) && isDigit(line[2])) {
        // A multi-line reply ends with the same code followed by a space.
        const std::string end = line.substr(0, 3) + " ";
        for (int n = 0;; ++n) {
            if (n >= kMaxReplyLines || socket_->recvLine(&line, kMaxReplyLine) < 0) {
                closeControl();
                return -1;
            }
            if (lines && lines->size() < kMaxKeptLines) lines->push_back(line);
            if (line.compare(0, 4, end) == 0) break;
        }
    }
    if (text) *text = line;
    lastReplyCode_ = code;
    // The server closes the session after a 421.
    if (code == 421) closeControl();
    return code;
}

int QNFtpRequestSync::command(const std::string& cmd, std::string* text, std::vector<std::string>* lines) {
    if (!sendCommand(cmd)) return -1;
    return readReply(text, lines);
}

int QNFtpRequestSync::connectToFtp(const std::string& host, int port, const std::string& user,
                                   const std::string& password) {
    closeControl();
    features_.clear();
    noEpsv_ = noMlsd_ = false;
    if (isCancel_) return kConnectFailed;
    {
        std::lock_guard<std::mutex> lock(socketMutex_);
        socket_ = std::make_unique<QNSocketSync>();
        socket_->setConnectTimeout(connectTimeout_);
        socket_->setIdleTimeout(idleTimeout_);
    }
    if (isCancel_ || !socket_->connect(host, port == 0 ? 21 : port) || isCancel_) {
        closeControl();
        return kConnectFailed;
    }
    if (!safeArgument(user) || !safeArgument(password)) {
        closeControl();
        return kUserRefused;
    }
    auto fail = [this](int status) {
        closeControl();
        return status;
    };
    // The greeting first: a server that takes no session now says 421 and
    // hangs up, and a command sent before would meet a closed connection.
    int code = readReply();
    while (code == 120) code = readReply();  // "ready in nnn minutes"
    if (code < 0) return fail(kNoReply);
    if (code == 421) return fail(kServerBusy);
    if (code != 220) return fail(kNoReply);

    code = command("USER " + user + "\r\n");
    // Some servers greet with several separate 220 replies.
    for (int n = 0; code == 220 && n < kMaxGreetings; ++n) code = readReply();
    if (code < 0) return fail(kNoReply);
    if (code == 421) return fail(kServerBusy);
    if (code == 331) {
        code = command("PASS " + password + "\r\n");
        if (code < 0) return fail(kNoReply);
        if (code == 421) return fail(kServerBusy);
        // 202: the password was not needed after all.
        if (code != 230 && code != 202) return fail(kPasswordRefused);
    } else if (code != 230) {
        // 230 at once: the server logged the user on without a password
        // (anonymous sites often do).
        return fail(kUserRefused);
    }

    readFeatures();
    if (!socket_) return isCancel_ ? kConnectFailed : kNoReply;
    code = command("TYPE I\r\n");
    if (code < 0) return fail(kNoReply);
    if (code == 421) return fail(kServerBusy);
    if (code != 200) return fail(kTypeRefused);
    std::lock_guard<std::mutex> lock(socketMutex_);
    loggedOn_ = socket_ != nullptr;
    return loggedOn_ ? kLoggedOn : kNoReply;
}

void QNFtpRequestSync::readFeatures() {
    std::vector<std::string> lines;
    if (command("FEAT\r\n", nullptr, &lines) != 211) return;
    // "211-Features:", one feature per line (led by a space), "211 End".
    for (size_t i = 1; i + 1 < lines.size(); ++i) {
        std::string f = lines[i];
        const size_t b = f.find_first_not_of(' ');
        if (b == std::string::npos) continue;
        f = f.substr(b, f.find(' ', b) == std::string::npos ? std::string::npos : f.find(' ', b) - b);
        for (char& c : f) c = char(std::toupper(static_cast<unsigned char>(c)));
        if (!f.empty()) features_.insert(f);
    }
    // Names travel as UTF-8 where the server can (its answer does not matter:
    // a server that is always UTF-8 may refuse the option).
    if (hasFeature("UTF8")) command("OPTS UTF8 ON\r\n");
}

int QNFtpRequestSync::changeDir(const std::string& path) {
    const std::string cmd = "CWD " + path + "\r\n";
    if (!safeArgument(path) || cmd.size() >= kMaxPathLine) return kDirRefused;
    const int code = command(cmd);
    return isPositive(code) ? kDirChanged : busyOr(code, kDirRefused);
}

int64_t QNFtpRequestSync::getFilesize(const std::string& name) {
    const std::string cmd = "SIZE " + name + "\r\n";
    if (!safeArgument(name) || cmd.size() >= kMaxPathLine) return -1;
    std::string line;
    if (command(cmd, &line) != 213 || line.size() < 5) return -1;
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

void QNFtpRequestSync::closeData(std::unique_ptr<QNSocketSync>* data) {
    setData(nullptr);
    if (*data) (*data)->disconnect();
    data->reset();
}

int QNFtpRequestSync::connectData(std::unique_ptr<QNSocketSync>* data, int port) {
    // Only the port is taken from the reply.
    if (port <= 0 || port > 65535 || !socket_ || socket_->peerAddress().empty()) return kDataConnectFailed;
    *data = std::make_unique<QNSocketSync>();
    (*data)->setConnectTimeout(connectTimeout_);
    (*data)->setIdleTimeout(idleTimeout_);
    setData(data->get());
    if (isCancel_ || !(*data)->connect(socket_->peerAddress(), port) || isCancel_) {
        closeData(data);
        return kDataConnectFailed;
    }
    // Before the transfer starts, while the window is still small.
    if (dataReceiveBuffer_ > 0) (*data)->setReceiveBufferSize(dataReceiveBuffer_);
    return 0;
}

int QNFtpRequestSync::openPassive(std::unique_ptr<QNSocketSync>* data) {
    std::string line;
    if (!noEpsv_) {
        const int code = command("EPSV\r\n", &line);
        if (code < 0) return kNoTransferReply;
        if (code == 421) return kServerBusy;
        if (code == 229) {
            const auto port = QNFtpRequest::getPortWithExtendedPassiveResponse(line);
            return port ? connectData(data, *port) : kDataConnectFailed;
        }
        // Not known here: the classic passive mode from now on.
        noEpsv_ = true;
    }
    const int code = command("PASV\r\n", &line);
    if (code < 0) return kNoTransferReply;
    if (code != 227) return busyOr(code, kTransferRefused);
    int port = 0;
    if (!QNFtpRequest::getAddressAndPortWithPassiveResponse(line, &port)) return kDataConnectFailed;
    return connectData(data, port);
}

int QNFtpRequestSync::beginTransfer(const std::string& cmd, int64_t offset) {
    if (offset > 0) {
        const int code = command("REST " + std::to_string(offset) + "\r\n");
        if (code < 0) return kNoRestReply;
        if (code != 350) return busyOr(code, kRestRefused);
    }
    const int code = command(cmd);
    if (code < 0) return kNoTransferReply;
    if (code != 150 && code != 125) return busyOr(code, kTransferRefused);
    return 0;
}

void QNFtpRequestSync::stopTransfer(std::unique_ptr<QNSocketSync>* data) {
    // Closing the data connection with bytes unread resets it: the server's
    // next write fails, and it ends the transfer with one reply (426, or 226
    // when it had sent everything already). No ABOR: servers answer it with
    // one reply or two depending on timing, which would leave the session
    // out of step.
    closeData(data);
    if (isCancel_) return;
    readReply();
}

int QNFtpRequestSync::getFile(const std::string& name, int64_t offset, int64_t length, const DataHandler& handler) {
    const std::string retr = "RETR " + name + "\r\n";
    if (!safeArgument(name) || retr.size() >= kMaxRetrLine) return kTransferRefused;
    if (offset < 0 || length < 0) return kTransferRefused;
    std::unique_ptr<QNSocketSync> data;
    if (const int rc = openPassive(&data)) return rc;
    if (const int rc = beginTransfer(retr, offset)) {
        closeData(&data);
        return rc;
    }

    std::vector<char> buf(kMaxChunk);
    int64_t remain = length;
    for (;;) {
        const size_t want = remain > 0 && remain < int64_t(kMaxChunk) ? size_t(remain) : kMaxChunk;
        const long n = data->recvDataOnce(buf.data(), want);
        if (n == 0) break;
        if (n < 0) {
            // Reset or silent: the server may still end the transfer with a
            // reply, which keeps the session in step.
            stopTransfer(&data);
            return isCancel_ ? kTransferStopped : kTransferBroken;
        }
        if (isCancel_ || !handler(buf.data(), size_t(n))) {
            stopTransfer(&data);
            return kTransferStopped;
        }
        if (length > 0) {
            remain -= n;
            if (remain == 0) {
                // The rest of the file is not wanted.
                stopTransfer(&data);
                return isCancel_ ? kTransferStopped : kTransferDone;
            }
        }
    }
    closeData(&data);
    if (isCancel_) return kTransferStopped;
    const int code = readReply();
    if (isPositive(code)) return kTransferDone;
    return busyOr(code, kTransferBroken);
}

int QNFtpRequestSync::getList(std::string* text, size_t maxBytes) {
    text->clear();
    std::unique_ptr<QNSocketSync> data;
    for (;;) {
        const bool mlsd = hasFeature("MLST") && !noMlsd_;
        if (const int rc = openPassive(&data)) return rc;
        std::string line;
        const int code = command(mlsd ? "MLSD\r\n" : "LIST\r\n", &line);
        if (code == 150 || code == 125) break;
        closeData(&data);
        if (code < 0) return kNoTransferReply;
        if (mlsd && notImplemented(code)) {
            // FEAT promised more than the server keeps.
            noMlsd_ = true;
            continue;
        }
        return busyOr(code, kTransferRefused);
    }
    std::vector<char> buf(kMaxChunk);
    for (;;) {
        const long n = data->recvDataOnce(buf.data(), buf.size());
        if (n == 0) break;
        if (n < 0) {
            stopTransfer(&data);
            return isCancel_ ? kTransferStopped : kTransferBroken;
        }
        if (text->size() + size_t(n) > maxBytes) {
            stopTransfer(&data);
            return kListTooLarge;
        }
        text->append(buf.data(), size_t(n));
    }
    closeData(&data);
    if (isCancel_) return kTransferStopped;
    const int closing = readReply();
    if (isPositive(closing)) return kTransferDone;
    // Cut short by the server (426, 451, or no reply at all): part of a
    // listing is no listing.
    return busyOr(closing, kTransferBroken);
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
