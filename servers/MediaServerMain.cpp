#include "servers/MediaServerMain.h"

#include "foundation/BookCommonLocks.h"
#include "foundation/BookCommonTypes.h"
#include "foundation/FolderLockInfo.h"
#include "platform/core/Path.h"
#include "platform/core/PercentEncoding.h"

#include <microhttpd.h>

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

std::mutex gMutex;
std::shared_ptr<MediaServerMain> gShared;

// A folder page is built in memory: a folder with more entries than this
// is cut short rather than growing the page without bound.
constexpr size_t kMaxPageEntries = 20000;

std::string realPath(const std::string& path) {
    char buf[PATH_MAX];
    if (!::realpath(path.c_str(), buf)) return {};
    return buf;
}

std::vector<std::string> components(const std::string& path) {
    std::vector<std::string> out;
    size_t start = 0;
    while (start <= path.size()) {
        size_t slash = path.find('/', start);
        if (slash == std::string::npos) slash = path.size();
        if (slash > start) out.push_back(path.substr(start, slash - start));
        start = slash + 1;
    }
    return out;
}

bool iequal(const std::string& a, const char* b) { return strcasecmp(a.c_str(), b) == 0; }

bool isLockedFolder(const std::string& folder) {
    return BookCommonLocks::isFolderNameChangedForLock(folder) || FolderLockInfo::readFromFolder(folder).isPasscodeLock();
}

std::string percentEncode(const std::string& s) { return sys::PercentEncoding::encode(s); }

std::string htmlEscape(const std::string& s) {
    std::string out;
    for (char c : s) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&#39;"; break;
        default: out += c;
        }
    }
    return out;
}

// "bytes=a-b", "bytes=a-" or "bytes=-n" against a file of `size` bytes.
// Returns 1 with [first, last] set, 0 when the header is absent or not one
// range we answer (the whole file goes out), -1 when unsatisfiable.
int parseRange(const char* header, uint64_t size, uint64_t& first, uint64_t& last) {
    if (!header) return 0;
    std::string h(header);
    h.erase(std::remove(h.begin(), h.end(), ' '), h.end());
    if (h.rfind("bytes=", 0) != 0 || h.find(',') != std::string::npos) return 0;
    const std::string range = h.substr(6);
    const size_t dash = range.find('-');
    if (dash == std::string::npos) return 0;
    const std::string a = range.substr(0, dash), b = range.substr(dash + 1);
    auto number = [](const std::string& t, uint64_t& v) {
        if (t.empty() || t.size() > 19 || t.find_first_not_of("0123456789") != std::string::npos) return false;
        v = std::strtoull(t.c_str(), nullptr, 10);
        return true;
    };
    uint64_t x = 0, y = 0;
    if (a.empty()) {
        if (!number(b, y)) return 0;
        if (y == 0 || size == 0) return -1;
        first = y >= size ? 0 : size - y;
        last = size - 1;
        return 1;
    }
    if (!number(a, x)) return 0;
    if (!b.empty()) {
        if (!number(b, y)) return 0;
        if (y < x) return 0;
    } else {
        y = UINT64_MAX;
    }
    if (x >= size) return -1;
    first = x;
    last = std::min(y, size - 1);
    return 1;
}

MHD_Result queue(MHD_Connection* c, unsigned status, MHD_Response* r) {
    if (!r) return MHD_NO;
    const MHD_Result ok = MHD_queue_response(c, status, r);
    MHD_destroy_response(r);
    return ok;
}

MHD_Result queueText(MHD_Connection* c, unsigned status, const std::string& body, const char* type = "text/plain") {
    MHD_Response* r = MHD_create_response_from_buffer(body.size(), const_cast<char*>(body.data()),
                                                      MHD_RESPMEM_MUST_COPY);
    if (!r) return MHD_NO;
    MHD_add_response_header(r, MHD_HTTP_HEADER_CONTENT_TYPE, type);
    return queue(c, status, r);
}

int marker;

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Percent-decodes in place, but leaves "%00" as it stands: a NUL would cut
// the path short ("book.cbz%00.txt" naming "book.cbz").
size_t unescape(void*, MHD_Connection*, char* s) {
    char* out = s;
    for (const char* in = s; *in; ++in) {
        if (in[0] == '%' && hexValue(in[1]) >= 0 && hexValue(in[2]) >= 0) {
            const char c = char(hexValue(in[1]) * 16 + hexValue(in[2]));
            if (c != '\0') {
                *out++ = c;
                in += 2;
                continue;
            }
        }
        *out++ = *in;
    }
    *out = '\0';
    return size_t(out - s);
}

}  // namespace

// The request handler, with access to the server's state.
struct MediaServerRequest {
    static MHD_Result handle(void* cls, MHD_Connection* c, const char* url, const char* method, const char*,
                             const char*, size_t* uploadSize, void** conCls) {
        // The first call brings the headers only; answering on the second
        // keeps the connection open for the next request.
        if (!*conCls) {
            *conCls = &marker;
            return MHD_YES;
        }
        if (*uploadSize) {
            *uploadSize = 0;  // a body we do not read
            return MHD_YES;
        }
        const bool isGet = std::strcmp(method, MHD_HTTP_METHOD_GET) == 0;
        const bool isHead = std::strcmp(method, MHD_HTTP_METHOD_HEAD) == 0;
        if (!isGet && !isHead) return queueText(c, MHD_HTTP_METHOD_NOT_ALLOWED, "Method Not Allowed\n");
        auto* server = static_cast<MediaServerMain*>(cls);
        const std::string requestPath = url ? url : "/";
        const std::string path = MediaServerMain::resolveRequestPath(server->root_, requestPath);
        if (path.empty()) return queueText(c, MHD_HTTP_NOT_FOUND, "Not Found\n");

        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
        if (fd < 0) return queueText(c, MHD_HTTP_NOT_FOUND, "Not Found\n");
        struct stat st {};
        if (::fstat(fd, &st) != 0) {
            ::close(fd);
            return queueText(c, MHD_HTTP_NOT_FOUND, "Not Found\n");
        }
        if (S_ISDIR(st.st_mode)) {
            ::close(fd);
            return queueText(c, MHD_HTTP_OK, MediaServerMain::folderPage(server->root_, requestPath),
                             "text/html; charset=utf-8");
        }
        if (!S_ISREG(st.st_mode)) {
            ::close(fd);
            return queueText(c, MHD_HTTP_NOT_FOUND, "Not Found\n");
        }
        const uint64_t size = uint64_t(st.st_size);
        uint64_t first = 0, last = size ? size - 1 : 0;
        const int range = parseRange(MHD_lookup_connection_value(c, MHD_HEADER_KIND, MHD_HTTP_HEADER_RANGE), size,
                                     first, last);
        if (range < 0) {
            ::close(fd);
            MHD_Response* r = MHD_create_response_from_buffer(0, nullptr, MHD_RESPMEM_PERSISTENT);
            if (!r) return MHD_NO;
            const std::string cr = "bytes */" + std::to_string(size);
            MHD_add_response_header(r, MHD_HTTP_HEADER_CONTENT_RANGE, cr.c_str());
            return queue(c, MHD_HTTP_RANGE_NOT_SATISFIABLE, r);
        }
        const uint64_t length = range > 0 ? last - first + 1 : size;
        // The response owns the descriptor from here on and sends it with sendfile.
        MHD_Response* r = MHD_create_response_from_fd_at_offset64(length, fd, range > 0 ? first : 0);
        if (!r) {
            ::close(fd);
            return MHD_NO;
        }
        MHD_add_response_header(r, MHD_HTTP_HEADER_CONTENT_TYPE, "application/octet-stream");
        MHD_add_response_header(r, MHD_HTTP_HEADER_ACCEPT_RANGES, "bytes");
        if (range > 0) {
            const std::string cr =
                "bytes " + std::to_string(first) + "-" + std::to_string(last) + "/" + std::to_string(size);
            MHD_add_response_header(r, MHD_HTTP_HEADER_CONTENT_RANGE, cr.c_str());
            return queue(c, MHD_HTTP_PARTIAL_CONTENT, r);
        }
        return queue(c, MHD_HTTP_OK, r);
    }
};

std::shared_ptr<MediaServerMain> MediaServerMain::sharedMediaServer() {
    std::lock_guard<std::mutex> lock(gMutex);
    if (!gShared) gShared = std::make_shared<MediaServerMain>();
    return gShared;
}

bool MediaServerMain::hasSharedMediaServer() {
    std::lock_guard<std::mutex> lock(gMutex);
    return gShared != nullptr;
}

void MediaServerMain::releaseMediaServer() {
    std::shared_ptr<MediaServerMain> old;
    {
        std::lock_guard<std::mutex> lock(gMutex);
        old.swap(gShared);
    }
    if (old) old->stop();
}

MediaServerMain::~MediaServerMain() { stop(); }

bool MediaServerMain::isHiddenFromServer(const std::string& name) {
    if (name.empty() || name[0] == '.') return true;  // hidden names, locked folders, book side files
    if (name == FolderLockInfo::kFileName) return true;
    const std::string ext = sys::Path::pathExtension(name);
    if (iequal(ext, "shortcut") || iequal(ext, "lbs")) return true;
    return BookCommonTypes::isCacheOrBookSettingFileWithFilename(name);
}

std::string MediaServerMain::resolveRequestPath(const std::string& root, const std::string& requestPath) {
    if (root.empty() || requestPath.find('\0') != std::string::npos) return {};
    std::string candidate = root;
    for (const auto& c : components(requestPath)) {
        if (c == "." || c == ".." || isHiddenFromServer(c)) return {};
        candidate += "/" + c;
    }
    // Symbolic links may point anywhere: what counts is where they lead.
    const std::string real = realPath(candidate);
    if (real.empty()) return {};
    if (real != root && real.rfind(root + "/", 0) != 0) return {};
    std::string folder = root;
    const auto parts = components(real.substr(root.size()));
    for (size_t i = 0; i < parts.size(); ++i) {
        if (isHiddenFromServer(parts[i])) return {};
        folder += "/" + parts[i];
        struct stat st {};
        if (::stat(folder.c_str(), &st) != 0) return {};
        if (S_ISDIR(st.st_mode) && isLockedFolder(folder)) return {};
    }
    return real;
}

std::string MediaServerMain::folderPage(const std::string& root, const std::string& urlPath) {
    struct Entry {
        std::string name;
        bool isFolder;
        int64_t size;
        int64_t date;
    };
    std::vector<Entry> entries;
    const std::string folder = resolveRequestPath(root, urlPath);
    if (DIR* d = folder.empty() ? nullptr : ::opendir(folder.c_str())) {
        while (dirent* e = ::readdir(d)) {
            if (entries.size() >= kMaxPageEntries) break;
            const std::string name = e->d_name;
            if (isHiddenFromServer(name)) continue;
            // Entries the server would refuse (links leading out, locked
            // folders) are not offered either.
            const std::string real = resolveRequestPath(root, urlPath + "/" + name);
            struct stat st {};
            if (real.empty() || ::stat(real.c_str(), &st) != 0) continue;
            const bool isFolder = S_ISDIR(st.st_mode);
            if (!isFolder && !S_ISREG(st.st_mode)) continue;
            entries.push_back({name, isFolder, isFolder ? 0 : int64_t(st.st_size), int64_t(st.st_mtime)});
        }
        ::closedir(d);
    }
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
        if (a.isFolder != b.isFolder) return a.isFolder;
        return a.name < b.name;
    });
    std::string encodedBase;
    for (const auto& c : components(urlPath)) encodedBase += "/" + percentEncode(c);
    const auto parts = components(urlPath);
    const std::string title = parts.empty() ? sys::Path::lastPathComponent(root) : parts.back();
    std::string page = "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>" + htmlEscape(title) +
                       "</title></head>\n<body><h1>" + htmlEscape(title) + "</h1>\n<ul>\n";
    // "lbexpand" (a folder read as one book) and "passcode" (a locked folder)
    // mark entries by being there at all: plain files and folders carry
    // neither, and locked folders are never offered.
    for (const auto& e : entries) {
        const std::string href = encodedBase + "/" + percentEncode(e.name) + (e.isFolder ? "/" : "");
        page += "<li><a href=\"" + href + "\" booktitle=\"" + htmlEscape(e.name) + "\" booksize=\"" +
                std::to_string(e.size) + "\" bookdate=\"" + std::to_string(e.date) +
                "\" bookfile=\"" + (e.isFolder ? "false" : "true") + "\">" + htmlEscape(e.name) + "</a></li>\n";
    }
    page += "</ul>\n</body></html>\n";
    return page;
}

bool MediaServerMain::start(const std::string& folder, const std::string& address, uint16_t port) {
    stop();
    std::lock_guard<std::mutex> lock(mutex_);
    lastError_.clear();
    const std::string root = realPath(folder);
    struct stat st {};
    if (root.empty() || ::stat(root.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        lastError_ = "The folder cannot be shared.";
        return false;
    }
    sockaddr_storage sa {};
    bool haveAddress = false, isV6 = false;
    if (!address.empty()) {
        auto* v4 = reinterpret_cast<sockaddr_in*>(&sa);
        auto* v6 = reinterpret_cast<sockaddr_in6*>(&sa);
        if (::inet_pton(AF_INET, address.c_str(), &v4->sin_addr) == 1) {
            v4->sin_family = AF_INET;
            v4->sin_port = htons(port);
        } else if (::inet_pton(AF_INET6, address.c_str(), &v6->sin6_addr) == 1) {
            v6->sin6_family = AF_INET6;
            v6->sin6_port = htons(port);
            isV6 = true;
        } else {
            lastError_ = "The address is not valid.";
            return false;
        }
        haveAddress = true;
    }
    // Files go out with sendfile, which cannot be told to spare the
    // process a SIGPIPE when a client hangs up mid-file.
    struct sigaction old {};
    if (::sigaction(SIGPIPE, nullptr, &old) == 0 && old.sa_handler == SIG_DFL) ::signal(SIGPIPE, SIG_IGN);

    root_ = root;
    unsigned flags = MHD_USE_AUTO_INTERNAL_THREAD;
    if (isV6) flags |= MHD_USE_IPv6;
    MHD_OptionItem options[] = {
        {MHD_OPTION_THREAD_POOL_SIZE, 4, nullptr},
        {MHD_OPTION_CONNECTION_LIMIT, 512, nullptr},
        {MHD_OPTION_CONNECTION_TIMEOUT, 60, nullptr},
        {MHD_OPTION_SIGPIPE_HANDLED_BY_APP, 1, nullptr},
        {MHD_OPTION_UNESCAPE_CALLBACK, reinterpret_cast<intptr_t>(&unescape), nullptr},
        {haveAddress ? MHD_OPTION_SOCK_ADDR : MHD_OPTION_END, 0, haveAddress ? &sa : nullptr},
        {MHD_OPTION_END, 0, nullptr},
    };
    daemon_ = MHD_start_daemon(flags, port, nullptr, nullptr, &MediaServerRequest::handle, this, MHD_OPTION_ARRAY,
                               options, MHD_OPTION_END);
    if (!daemon_) {
        root_.clear();
        lastError_ = "The server could not listen on this address and port.";
        return false;
    }
    const MHD_DaemonInfo* info = MHD_get_daemon_info(daemon_, MHD_DAEMON_INFO_BIND_PORT);
    port_ = info ? info->port : port;
    address_ = address;
    return true;
}

void MediaServerMain::stop() {
    MHD_Daemon* d = nullptr;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        d = daemon_;
        daemon_ = nullptr;
    }
    // Joins the server's threads: no request runs once this returns.
    if (d) MHD_stop_daemon(d);
    std::lock_guard<std::mutex> lock(mutex_);
    if (!daemon_) {
        root_.clear();
        port_ = 0;
    }
}

bool MediaServerMain::isRunning() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return daemon_ != nullptr;
}

uint16_t MediaServerMain::port() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return port_;
}

std::string MediaServerMain::sharedFolder() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return root_;
}
