// The media server's request handling: a request sent to the running
// server (its URL decoding, path checks, folder pages and ranges), and the
// request's path given to the path check and the folder page directly.
// The input is the request line without its version ("GET /a.cbz"), then
// header lines; the target ends each line and the head itself, so that a
// request is always whole and the server always answers at once. The shared folder holds books, a sub-folder, hidden and side
// files, a locked folder and links leading out, with a secret beside it.
#include "foundation/FolderLockInfo.h"
#include "fuzz/support/FuzzEnvironment.h"
#include "servers/MediaServerMain.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr size_t kMaxRequest = 16 * 1024;
constexpr int kReplyMs = 2000;

void put(const std::filesystem::path& p, const std::string& text) {
    std::filesystem::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << text;
}

struct Server {
    std::string root;
    int rootFd = -1;
    MediaServerMain server;

    Server() {
        namespace fs = std::filesystem;
        const fs::path base = FuzzEnvironment::workDir();
        const fs::path shared = base / "shared";
        put(base / "secret.txt", "secret");
        put(shared / "a.cbz", std::string(3000, 'a'));
        put(shared / "comics" / "b c.cbz", "PK\x03\x04 book");
        put(shared / "comics" / "\xE6\x97\xA5\xE6\x9C\xAC.cbr", "Rar!");
        put(shared / ".hidden" / "h.cbz", "hidden");
        put(shared / ".lock_diary" / "d.cbz", "diary");
        put(shared / "a.cbz.lbs", "side");
        put(shared / "kept" / "k.cbz", "kept");
        FolderLockInfo::lockedWithPasscode("1234", false).writeToFolder((shared / "kept").string());
        std::error_code ec;
        fs::create_directory_symlink(base, shared / "out", ec);
        fs::create_symlink(base / "secret.txt", shared / "secret.cbz", ec);
        fs::create_directory_symlink(shared / "comics", shared / "inside", ec);
        if (!server.start(shared.string(), "127.0.0.1", 0)) {
            std::fprintf(stderr, "media server: %s\n", server.lastError().c_str());
            std::abort();
        }
        root = server.sharedFolder();
        rootFd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    }
};

// Sends the request, half-closes, and reads the answer to its end.
void exchange(int port, const uint8_t* data, size_t size, bool headOnly) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(uint16_t(port));
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
        // The server keeps a connection open for the next request: the
        // answer ends where its length says (or where the server hangs up).
        FuzzEnvironment::sendAndShutDown(fd, {data, size});
        std::string answer;
        size_t expected = std::string::npos;
        char buf[65536];
        while (answer.size() < expected) {
            pollfd pf{fd, POLLIN, 0};
            if (::poll(&pf, 1, kReplyMs) <= 0) break;
            const ssize_t k = ::recv(fd, buf, sizeof buf, 0);
            if (k < 0 && errno == EINTR) continue;
            if (k <= 0) break;
            answer.append(buf, size_t(k));
            const size_t head = answer.find("\r\n\r\n");
            if (expected == std::string::npos && head != std::string::npos) {
                size_t length = 0;
                const size_t at = answer.find("\r\nContent-Length: ");
                if (at != std::string::npos && at < head) length = std::strtoull(answer.c_str() + at + 18, nullptr, 10);
                expected = head + 4 + (headOnly ? 0 : length);
            }
        }
    }
    ::close(fd);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzEnvironment::setUp();
    static Server s;
    if (size > kMaxRequest) return 0;
    std::string text(reinterpret_cast<const char*>(data), size);
    std::erase(text, '\r');
    const size_t eol = text.find('\n');
    std::string request = text.substr(0, eol) + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n";
    for (size_t at = eol; at != std::string::npos && at < text.size();) {
        const size_t next = text.find('\n', at + 1);
        const std::string line = text.substr(at + 1, next == std::string::npos ? std::string::npos : next - at - 1);
        if (!line.empty()) request += line + "\r\n";
        at = next;
    }
    request += "\r\n";
    exchange(s.server.port(), reinterpret_cast<const uint8_t*>(request.data()), request.size(),
             text.rfind("HEAD ", 0) == 0);

    // The request target, as the handler's checks see it.
    const size_t start = text.find(' ');
    if (start == std::string::npos) return 0;
    const size_t end = text.find_first_of(" \n", start + 1);
    std::string path = text.substr(start + 1, end == std::string::npos ? std::string::npos : end - start - 1);
    if (const size_t q = path.find('?'); q != std::string::npos) path.resize(q);
    const int fd = MediaServerMain::openRequestPath(s.rootFd, path);
    if (fd >= 0) {
        MediaServerMain::folderPage(fd, path, "title");
        ::close(fd);
    }
    return 0;
}
