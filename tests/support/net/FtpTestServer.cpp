#include "tests/support/net/FtpTestServer.h"

#include "tests/support/TestHome.h"
#include "tests/support/net/ServerProcess.h"

#include <arpa/inet.h>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <poll.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace test {

namespace {

namespace fs = std::filesystem;

// The server must have sent its greeting: a listening socket alone is not
// enough for vsftpd, which forks a session per connection.
bool greets(int port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(uint16_t(port));
    bool ok = false;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
        pollfd p{fd, POLLIN, 0};
        char buf[4];
        ok = ::poll(&p, 1, 2000) > 0 && ::recv(fd, buf, sizeof buf, 0) > 0 && buf[0] == '2';
    }
    ::close(fd);
    return ok;
}

const char* const kPyServer = R"PY(
import json, logging, os, socket, struct, sys
from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import DTPHandler, FTPHandler
from pyftpdlib.servers import FTPServer
o = json.loads(sys.argv[1])
drop = o["drop"]
stats = {"logins": 0, "sent": 0, "refused": 0}
# What the server did, for tests and benchmarks to read: log-ons, and bytes
# of files it sent over data connections (what it handed to the socket,
# also when the client broke the transfer off).
def write_stats():
    if o["stats"]:
        tmp = o["stats"] + ".tmp"
        with open(tmp, "w") as f:
            f.write("logins %d\nsent %d\nrefused %d\n" % (stats["logins"], stats["sent"], stats["refused"]))
        os.replace(tmp, o["stats"])
write_stats()
auth = DummyAuthorizer()
auth.add_anonymous(o["root"], msg_login=o["login"] or "Login successful.")
auth.add_user(o["user"], o["password"], o["root"], perm="elr", msg_login=o["login"] or "Login successful.")
# All that a producer still has to give, at once.
def drained(producer):
    chunks = []
    while True:
        c = producer.more()
        if not c:
            break
        chunks.append(c)
    return b"".join(chunks)
# Bytes a data connection put on the wire: all of a finished transfer; of
# one the client broke off, what the kernel had sent (TCP_INFO's
# tcpi_bytes_sent), not what sat in the send buffer.
def wire_bytes(dtp):
    if dtp.transfer_finished:
        return dtp.tot_bytes_sent
    try:
        info = dtp.socket.getsockopt(socket.IPPROTO_TCP, socket.TCP_INFO, 256)
        if len(info) >= 208:
            return struct.unpack_from("Q", info, 200)[0]
    except OSError:
        pass
    return dtp.tot_bytes_sent
# Downloads can be held: each sends `hold` bytes of the file, then waits
# until the test lets it go on (the number in the release file reaches the
# download's own, counted from 1).
downloads = [0]
def released():
    try:
        with open(o["releaseFile"]) as f:
            return int(f.read().strip() or "0")
    except (OSError, ValueError):
        return 0
class CountingDTP(DTPHandler):
    download = 0
    let_go = False
    # Where bytes are counted, a small send buffer: a transfer the server has
    # handed whole to the kernel counts as finished and all of it as sent, so
    # with a large one (the kernel grows it to megabytes) a transfer the client
    # breaks off later would count bytes that never reached the wire.
    def __init__(self, sock, cmd_channel):
        super().__init__(sock, cmd_channel)
        if o["stats"]:
            self.socket.setsockopt(socket.SOL_SOCKET, socket.SO_SNDBUF, 65536)
    def use_sendfile(self):
        return o["hold"] <= 0 and super().use_sendfile()
    def send(self, data):
        if o["hold"] > 0 and self.cmd == "RETR" and not self.let_go:
            if not self.download:
                downloads[0] += 1
                self.download = downloads[0]
                # A small send buffer: a transfer the client breaks off
                # after the release has not all of the file in the kernel
                # (which would count as sent, the transfer as finished).
                self.socket.setsockopt(socket.SOL_SOCKET, socket.SO_SNDBUF, 65536)
            self.let_go = released() >= self.download
            if not self.let_go:
                room = o["hold"] - self.tot_bytes_sent
                if room <= 0:
                    self.wait_for_release()
                    return 0
                data = data[:room]
        return super().send(data)
    def wait_for_release(self):
        self.del_channel()
        def check():
            if self._closed:
                return
            if released() >= self.download:
                self.add_channel(events=self.ioloop.WRITE)
            else:
                self.ioloop.call_later(0.01, check, _errback=self.handle_error)
        self.ioloop.call_later(0.01, check, _errback=self.handle_error)
    def close(self):
        if not self._closed and self.cmd == "RETR":
            stats["sent"] += wire_bytes(self)
            write_stats()
        super().close()
    # A listing cut short ends with the reply the test chose, not 226.
    def handle_close(self):
        reply = getattr(self.cmd_channel, "cut_reply", None)
        if reply and not self._closed:
            self.cmd_channel.cut_reply = None
            self._resp = (reply, logging.info)
            self.close()
            return
        super().handle_close()
class Handler(FTPHandler):
    dtp_handler = CountingDTP
    drops_left = [o["drops"] if drop > 0 else 0]
    cuts_left = [1 if o["cutListingAfter"] > 0 else 0]
    retr_cuts_left = [1 if o["cutDownloadAfter"] > 0 else 0]
    pending_drop = None
    cut_reply = None
    # Canned answers: the command is answered so and not carried out; after
    # a 421 the server hangs up.
    def pre_process_command(self, line, cmd, arg):
        reply = o["canned"].get(cmd)
        if reply:
            self.respond(reply)
            if reply.startswith("421"):
                self.close_when_done()
            return
        FTPHandler.pre_process_command(self, line, cmd, arg)
    # Servers of the older kind speak a legacy character set (here Latin-1)
    # for names until the client asks for UTF-8 with OPTS UTF8 ON.
    utf8_on = False
    def ftp_OPTS(self, line):
        if o["legacyNames"] and line.upper().replace(" ", "") == "UTF8ON":
            self.utf8_on = True
            self.respond("200 UTF8 mode enabled.")
            return
        FTPHandler.ftp_OPTS(self, line)
    def decode(self, data):
        if o["legacyNames"] and not self.utf8_on:
            return data.decode("latin-1")
        return FTPHandler.decode(self, data)
    # Some servers log an anonymous user on at USER, asking no password.
    def ftp_USER(self, line):
        if o["anonymousAtUser"] and line == "anonymous" and not self.authenticated:
            self.username = line
            self.handle_auth_success(self.authorizer.get_home_dir(line), "", "Anonymous user logged in.")
            return
        FTPHandler.ftp_USER(self, line)
    # The pause some servers make before a log-on succeeds; other sessions
    # go on meanwhile.
    def handle_auth_failed(self, msg, password):
        stats["refused"] += 1
        write_stats()
        FTPHandler.handle_auth_failed(self, msg, password)
    def handle_auth_success(self, home, password, msg_login):
        stats["logins"] += 1
        write_stats()
        if o["loginDelay"] > 0:
            self.del_channel()
            def later():
                self.add_channel()
                FTPHandler.handle_auth_success(self, home, password, msg_login)
            self.ioloop.call_later(o["loginDelay"], later, _errback=self.handle_error)
            return
        FTPHandler.handle_auth_success(self, home, password, msg_login)
    # The first `drops` downloads break off: `drop` bytes of the file, then both
    # connections close with no final reply, as when a server goes away.
    # Listings can be cut short: part of the text, then an error reply.
    def push_dtp_data(self, data, isproducer=False, file=None, cmd=None):
        if cmd in ("LIST", "MLSD") and o["listing"]:
            data = bytes.fromhex(o["listing"])
            isproducer = False
        # A listing that never comes, or comes a byte at a time.
        if cmd in ("LIST", "MLSD") and (o["stallListings"] or o["dripListingMs"] > 0):
            text = drained(data) if isproducer else data
            self.respond("150 Here comes the directory listing.")
            if o["dripListingMs"] > 0:
                self.drip(text, 0)
            return
        if cmd in ("LIST", "MLSD") and o["legacyNames"] and not self.utf8_on and isproducer:
            data = drained(data).decode("utf8").encode("latin-1", "replace")
            isproducer = False
        if cmd == "RETR" and Handler.retr_cuts_left[0] > 0 and isproducer:
            Handler.retr_cuts_left[0] -= 1
            data = data.more()[:o["cutDownloadAfter"]]
            isproducer = False
            self.cut_reply = o["cutListingReply"]
        if cmd in ("LIST", "MLSD") and Handler.cuts_left[0] > 0 and isproducer:
            Handler.cuts_left[0] -= 1
            data = drained(data)[:o["cutListingAfter"]]
            isproducer = False
            self.cut_reply = o["cutListingReply"]
        if cmd == "RETR" and Handler.drops_left[0] > 0 and file is not None:
            Handler.drops_left[0] -= 1
            if self.data_channel is not None:
                self.drop_now(file)
            else:
                self.pending_drop = file
                self.socket.setblocking(True)
                self.socket.sendall(b"150 File status okay. About to open data connection.\r\n")
            return
        FTPHandler.push_dtp_data(self, data, isproducer, file, cmd)
    def drip(self, text, at):
        if self._closed or at >= len(text):
            return
        if self.data_channel is not None and not self.data_channel._closed:
            try:
                at += self.data_channel.socket.send(text[at:at + o["dripListingBytes"]])
            except OSError:
                return
        self.ioloop.call_later(o["dripListingMs"] / 1000.0, lambda: self.drip(text, at), _errback=self.handle_error)
    def _on_dtp_connection(self):
        if self.pending_drop is not None:
            file, self.pending_drop = self.pending_drop, None
            self.drop_now(file, announced=True)
            return
        FTPHandler._on_dtp_connection(self)
    def drop_now(self, file, announced=False):
        chunk = file.read(drop)
        file.close()
        if not announced:
            self.socket.setblocking(True)
            self.socket.sendall(b"125 Data connection already open. Transfer starting.\r\n")
        self.data_channel.socket.setblocking(True)
        self.data_channel.socket.sendall(chunk)
        self.close()
Handler.authorizer = auth
Handler.auth_failed_timeout = 0
Handler.banner = ("Leafbright test server.\r\nThis greeting runs over several lines, as some servers' do.\r\n"
                  "A client must read it whole before it can take the answer to USER.")
if o["masq"]:
    Handler.masquerade_address = o["masq"]
logging.basicConfig(level=logging.WARNING)
server = FTPServer(("127.0.0.1", int(o["port"])), Handler)
server.max_cons_per_ip = o["maxPerIp"]
server.serve_forever()
)PY";

std::string jsonString(const std::string& s) {
    std::string out = "\"";
    for (unsigned char c : s) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += char(c);
        } else if (c < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
        } else {
            out += char(c);
        }
    }
    return out + "\"";
}

std::string hex(const std::string& bytes) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

}  // namespace

bool FtpTestServer::haveVsftpd() { return ::access("/usr/sbin/vsftpd", X_OK) == 0; }

bool FtpTestServer::havePyftpdlib() {
    return ::access("/usr/bin/python3", X_OK) == 0 &&
           std::system("/usr/bin/python3 -c 'import pyftpdlib' >/dev/null 2>&1") == 0;
}

std::string FtpTestServer::url(const std::string& path) const {
    return "ftp://127.0.0.1:" + std::to_string(port_) + path;
}

bool FtpTestServer::startVsftpd(const std::string& root, const VsOptions& o) {
    if (!haveVsftpd()) {
        error_ = "vsftpd is not installed";
        return false;
    }
    makeDir("vsftpd");
    const std::string absRoot = fs::absolute(root).string();
    ServerProcess::openUp(absRoot);
    std::error_code ec;
    fs::create_directories(dir_ + "/empty", ec);
    ::chmod((dir_ + "/empty").c_str(), 0555);
    for (int attempt = 0; attempt < 5; ++attempt) {
        port_ = ServerProcess::freePort();
        {
            std::ofstream out(dir_ + "/vsftpd.conf", std::ios::trunc);
            out << "listen=YES\nlisten_ipv6=NO\nlisten_address=127.0.0.1\nlisten_port=" << port_
                << "\nbackground=NO\nanonymous_enable=YES\nanon_root=" << absRoot
                << "\nlocal_enable=NO\nwrite_enable=NO\nrun_as_launching_user=YES\nseccomp_sandbox=NO\n"
                << "secure_chroot_dir=" << dir_ << "/empty\npasv_enable=YES\npasv_address=127.0.0.1\n"
                << "xferlog_enable=NO\nuse_localtime=NO\nmax_per_ip=" << o.maxSessionsPerIp << "\nmax_clients=0\n"
                << "delay_successful_login=" << o.loginDelaySeconds << "\n";
        }
        const std::string conf = dir_ + "/vsftpd.conf";
        const char* argv[] = {"/usr/sbin/vsftpd", conf.c_str(), nullptr};
        if (launch(argv, dir_ + "/stderr.log")) return true;
    }
    return false;
}

bool FtpTestServer::startPyftpdlib(const std::string& root, const PyOptions& o) {
    if (!havePyftpdlib()) {
        error_ = "python3-pyftpdlib is not installed";
        return false;
    }
    makeDir("pyftpd");
    const std::string absRoot = fs::absolute(root).string();
    const std::string script = dir_ + "/server.py";
    {
        std::ofstream out(script, std::ios::trunc);
        out << kPyServer;
    }
    std::string canned = "{";
    for (const auto& [cmd, reply] : o.cannedReplies) {
        if (canned.size() > 1) canned += ",";
        canned += jsonString(cmd) + ":" + jsonString(reply);
    }
    canned += "}";
    for (int attempt = 0; attempt < 5; ++attempt) {
        port_ = ServerProcess::freePort();
        std::ostringstream json;
        json << "{\"root\":" << jsonString(absRoot) << ",\"port\":" << port_ << ",\"user\":" << jsonString(o.user)
             << ",\"password\":" << jsonString(o.password) << ",\"login\":" << jsonString(o.loginMessage)
             << ",\"masq\":" << jsonString(o.masqueradeAddress) << ",\"drop\":" << o.dropFirstDownloadAfter
             << ",\"drops\":" << o.droppedDownloads << ",\"stats\":" << jsonString(o.statsFile)
             << ",\"anonymousAtUser\":" << (o.anonymousAtUser ? "true" : "false")
             << ",\"loginDelay\":" << o.loginDelaySeconds << ",\"cutListingAfter\":" << o.cutListingAfter
             << ",\"cutListingReply\":" << jsonString(o.cutListingReply) << ",\"maxPerIp\":" << o.maxSessionsPerIp
             << ",\"legacyNames\":" << (o.legacyNames ? "true" : "false")
             << ",\"cutDownloadAfter\":" << o.cutDownloadAfter << ",\"hold\":" << o.holdDownloadsAfter
             << ",\"releaseFile\":" << jsonString(dir_ + "/released")
             << ",\"stallListings\":" << (o.stallListings ? "true" : "false")
             << ",\"dripListingMs\":" << o.dripListingMs << ",\"dripListingBytes\":" << o.dripListingBytes
             << ",\"listing\":\"" << hex(o.listing) << "\""
             << ",\"canned\":" << canned << "}";
        const std::string options = json.str();
        const char* argv[] = {"/usr/bin/python3", script.c_str(), options.c_str(), nullptr};
        if (launch(argv, dir_ + "/stderr.log")) return true;
    }
    return false;
}

void FtpTestServer::releaseDownloads(int count) {
    const std::string file = dir_ + "/released";
    writeFile(file + ".tmp", std::to_string(count));
    std::filesystem::rename(file + ".tmp", file);
}

FtpTestServer::Stats FtpTestServer::readStats(const std::string& file) {
    Stats s;
    std::ifstream in(file);
    std::string key;
    int64_t value = 0;
    while (in >> key >> value) {
        if (key == "logins") s.logOns = int(value);
        if (key == "sent") s.bytesSent = value;
        if (key == "refused") s.refusedLogOns = int(value);
    }
    return s;
}

bool FtpTestServer::launch(const char* const* argv, const std::string& logFile) {
    const int port = port_;
    return ServerProcess::launch(pid_, argv, logFile, [this, port] { return ServerProcess::listens(pid_, port) && greets(port); }, error_, "server", "", 20);
}

}  // namespace test
