#include "tests/support/net/FtpTestServer.h"

#include "tests/support/TestHome.h"
#include "tests/support/net/ServerProcess.h"

#include <arpa/inet.h>
#include <chrono>
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
import logging, sys
from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer
root, port, user, password, login, masq, drop, drops = sys.argv[1:9]
drop = int(drop or 0)
auth = DummyAuthorizer()
auth.add_anonymous(root, msg_login=login or "Login successful.")
auth.add_user(user, password, root, perm="elr", msg_login=login or "Login successful.")
class Handler(FTPHandler):
    drops_left = [int(drops) if drop > 0 else 0]
    pending_drop = None
    # The first `drops` downloads break off: `drop` bytes of the file, then both
    # connections close with no final reply, as when a server goes away.
    def push_dtp_data(self, data, isproducer=False, file=None, cmd=None):
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
if masq:
    Handler.masquerade_address = masq
logging.basicConfig(level=logging.WARNING)
server = FTPServer(("127.0.0.1", int(port)), Handler)
server.serve_forever()
)PY";

}  // namespace

bool FtpTestServer::haveVsftpd() { return ::access("/usr/sbin/vsftpd", X_OK) == 0; }

bool FtpTestServer::havePyftpdlib() {
    return ::access("/usr/bin/python3", X_OK) == 0 &&
           std::system("/usr/bin/python3 -c 'import pyftpdlib' >/dev/null 2>&1") == 0;
}

std::string FtpTestServer::url(const std::string& path) const {
    return "ftp://127.0.0.1:" + std::to_string(port_) + path;
}

bool FtpTestServer::startVsftpd(const std::string& root) {
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
                << "xferlog_enable=NO\nuse_localtime=NO\nmax_per_ip=0\nmax_clients=0\n";
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
    for (int attempt = 0; attempt < 5; ++attempt) {
        port_ = ServerProcess::freePort();
        const std::string port = std::to_string(port_);
        const std::string drop = std::to_string(o.dropFirstDownloadAfter);
        const std::string drops = std::to_string(o.droppedDownloads);
        const char* argv[] = {"/usr/bin/python3",        script.c_str(),     absRoot.c_str(),
                              port.c_str(),              o.user.c_str(),     o.password.c_str(),
                              o.loginMessage.c_str(),    o.masqueradeAddress.c_str(), drop.c_str(),
                              drops.c_str(),             nullptr};
        if (launch(argv, dir_ + "/stderr.log")) return true;
    }
    return false;
}

bool FtpTestServer::launch(const char* const* argv, const std::string& logFile) {
    const int port = port_;
    return ServerProcess::launch(pid_, argv, logFile, [port] { return greets(port); }, error_, "server", "", 20);
}

}  // namespace test
