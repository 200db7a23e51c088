#include "servers/MediaServerMain.h"

#include "foundation/BookCommonLocks.h"
#include "foundation/BookCommonPaths.h"
#include "foundation/BookCommonTypes.h"
#include "foundation/FolderLockInfo.h"
#include "platform/core/Path.h"
#include "platform/core/PercentEncoding.h"
#include "platform/core/PropertyList.h"

#include <microhttpd.h>

#include <algorithm>
#include <atomic>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <strings.h>
#include <sys/socket.h>
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

// A lock record bigger than this is no record of ours.
constexpr off_t kMaxLockRecordBytes = 64 * 1024;

// Closes a descriptor when it goes.
struct Fd {
    int fd = -1;
    explicit Fd(int f = -1) : fd(f) {}
    ~Fd() {
        if (fd >= 0) ::close(fd);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int release() {
        const int f = fd;
        fd = -1;
        return f;
    }
};

// Whether the folder open as `dirFd` carries a passcode lock record. The
// record is read through the folder's descriptor, never through a link, and
// only when it is a regular file: something else by that name never holds
// the request up.
bool isPasscodeLocked(int dirFd) {
    struct stat st {};
    if (::fstatat(dirFd, FolderLockInfo::kFileName, &st, AT_SYMLINK_NOFOLLOW) != 0) return false;
    if (!S_ISREG(st.st_mode) || st.st_size > kMaxLockRecordBytes) return false;
    Fd fd(::openat(dirFd, FolderLockInfo::kFileName, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY));
    if (fd.fd < 0 || ::fstat(fd.fd, &st) != 0 || !S_ISREG(st.st_mode)) return false;
    std::string bytes;
    char buf[8192];
    for (;;) {
        const ssize_t n = ::read(fd.fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        bytes.append(buf, size_t(n));
        if (bytes.size() > size_t(kMaxLockRecordBytes)) return false;
    }
    auto value = sys::PropertyList::parse(bytes);
    if (!value || !value->isArray()) return false;
    return FolderLockInfo::fromArray(value->asArray()).isPasscodeLock();
}

double steadySeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

std::string lowercase(std::string s) {
    for (auto& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
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

MHD_Response* textResponse(const std::string& body, const char* type = "text/plain") {
    MHD_Response* r = MHD_create_response_from_buffer(body.size(), const_cast<char*>(body.data()),
                                                      MHD_RESPMEM_MUST_COPY);
    if (r) MHD_add_response_header(r, MHD_HTTP_HEADER_CONTENT_TYPE, type);
    return r;
}

MHD_Result queueText(MHD_Connection* c, unsigned status, const std::string& body, const char* type = "text/plain") {
    return queue(c, status, textResponse(body, type));
}


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

// Marks of a connection's state, kept as its connection pointer.
int answerMarker;
int foreignHostMarker;

// Called with the request's target as it arrived, before anything in it is
// decoded or split. libmicrohttpd keeps the target up to a NUL in it
// ("/sub/\0/../x" is read as "/sub/"); what follows the target's first NUL
// is kept as the request's pointer until its headers are read, where the
// version must start right after it (see targetWhole).
void* targetArrived(void*, const char* uri, MHD_Connection*) {
    return const_cast<char*>(uri + std::strlen(uri));
}

// Whether the target ended where its request line says, not at a NUL
// within it; `end` is what targetArrived kept.
bool targetWhole(MHD_Connection* c, const char* url, const char* version, const void* end) {
    const auto* nul = static_cast<const char*>(end);
    if (!nul || !url || !version || !*version) return true;
    const MHD_ConnectionInfo* info = MHD_get_connection_info(c, MHD_CONNECTION_INFO_REQUEST_HEADER_SIZE);
    // Only where the line lies as it arrived: the version read from it, and
    // the NUL kept before it in the same place.
    if (!info || version <= url || size_t(version - url) > info->header_size || nul < url || nul >= version)
        return true;
    return version == nul + 1;
}

// Whether the program is behind its start-up lock.
std::atomic<bool> programLocked{false};

// Whether a request announces a body: a length other than zero, or a
// transfer coding (a chunked body).
bool hasBody(MHD_Connection* c) {
    if (MHD_lookup_connection_value(c, MHD_HEADER_KIND, MHD_HTTP_HEADER_TRANSFER_ENCODING)) return true;
    const char* length = MHD_lookup_connection_value(c, MHD_HEADER_KIND, MHD_HTTP_HEADER_CONTENT_LENGTH);
    if (!length) return false;
    const std::string l(length);
    return l.empty() || l.find_first_not_of('0') != std::string::npos;
}

// Whether a request's headers can only be read one way. A header given
// twice that decides where the request ends or whom it is for (a second
// Content-Length, a second Host) or a name that is not a plain token ("Name :"
// with a space, or a folded line, which libmicrohttpd joins onto the name) is
// read differently by a proxy in front of us: what it takes for a body would
// be read here as a second request.
//
// A folded line of plain letters joined onto a name still makes a token
// ("X-A: a" and " b" read as "X-Ab: a"), so the join itself is looked for:
// libmicrohttpd leaves a header's name and value where they arrived, the
// value just after the name's colon and blanks, and copies a name it has to
// lengthen elsewhere. Only the pointers are compared. The request line counts
// as lying so when its URL follows its method where it arrived, so that a lone
// header folded is seen too. Where nothing lies so (a library that keeps them
// otherwise) nothing is concluded from it.
struct HeaderCheck {
    static constexpr std::uintptr_t kMaxBlanksAfterColon = 64;
    int lengths = 0, hosts = 0;
    bool malformed = false;
    int inPlace = 0, moved = 0;
    // Where each header's name starts and its value ends, in order.
    struct Field {
        const char* key;
        const char* valueEnd;
    };
    std::vector<Field> fields;

    // A NUL within a value ends it early for libmicrohttpd, which takes the
    // rest of the line for nothing ("Host: 127.0.0.1\0.evil"). Where the
    // head lies where it arrived, what follows each value up to the next
    // name (or the end of the head) may only be blanks and the line's end,
    // which libmicrohttpd overwrites with NULs; anything more is a value cut
    // short.
    bool hidesTextAfterAValue(MHD_Connection* c, const char* method) const {
        const MHD_ConnectionInfo* info = MHD_get_connection_info(c, MHD_CONNECTION_INFO_REQUEST_HEADER_SIZE);
        if (!info || !method || fields.empty() || moved > 0) return false;
        const char* const headEnd = method + info->header_size;
        const char* previous = method;
        for (const auto& f : fields) {
            if (f.key < previous || f.valueEnd < f.key || f.valueEnd > headEnd) return false;
            previous = f.valueEnd;
        }
        for (size_t i = 0; i < fields.size(); ++i) {
            const bool last = i + 1 == fields.size();
            const char* const until = last ? headEnd : fields[i + 1].key;
            // The line's end is one or two bytes; the last line's, the empty line's too.
            int lineEnd = 0;
            for (const char* p = fields[i].valueEnd; p < until; ++p) {
                if (*p != ' ' && *p != '\t') ++lineEnd;
            }
            if (lineEnd > (last ? 4 : 2)) return true;
        }
        return false;
    }

    static bool nameBeforeValue(const char* key, const char* value) {
        if (!value) return true;
        const auto k = reinterpret_cast<std::uintptr_t>(key), v = reinterpret_cast<std::uintptr_t>(value);
        const std::uintptr_t afterColon = k + std::strlen(key) + 1;
        return v >= afterColon && v - afterColon <= kMaxBlanksAfterColon;
    }

    static bool isToken(const char* s) {
        if (!*s) return false;
        for (; *s; ++s) {
            const unsigned char ch = static_cast<unsigned char>(*s);
            if (ch <= 32 || ch >= 127 || std::strchr("\"(),/:;<=>?@[\\]{}", ch)) return false;
        }
        return true;
    }
    static bool startsWith(const char* s, const char* prefix) { return strncasecmp(s, prefix, std::strlen(prefix)) == 0; }

    // A value is text and blanks: a control character in it (a bare CR, which
    // another reader takes for the end of the line; a NUL, which cuts the
    // value short here and not there) makes it read two ways too.
    static bool isPlainValue(const char* value, size_t size) {
        if (!value) return true;
        // A NUL within is a control character too.
        for (size_t i = 0; i < size; ++i) {
            const unsigned char ch = static_cast<unsigned char>(value[i]);
            if ((ch < 32 && ch != '\t') || ch == 127) return false;
        }
        return true;
    }

    static MHD_Result visit(void* cls, MHD_ValueKind, const char* key, size_t keySize, const char* value,
                            size_t valueSize) {
        auto* self = static_cast<HeaderCheck*>(cls);
        if (!key || std::strlen(key) != keySize || !isToken(key) || !isPlainValue(value, valueSize)) {
            self->malformed = true;
            return MHD_YES;
        }
        ++(nameBeforeValue(key, value) ? self->inPlace : self->moved);
        self->fields.push_back({key, value ? value + valueSize : key + keySize});
        for (const char* name : {MHD_HTTP_HEADER_CONTENT_LENGTH, MHD_HTTP_HEADER_TRANSFER_ENCODING}) {
            // A folded line's text glued onto one of these names hides it here.
            if (startsWith(key, name) && key[std::strlen(name)] != '\0') self->malformed = true;
        }
        if (strcasecmp(key, MHD_HTTP_HEADER_CONTENT_LENGTH) == 0) ++self->lengths;
        if (strcasecmp(key, MHD_HTTP_HEADER_HOST) == 0) ++self->hosts;
        return MHD_YES;
    }

    static bool wellFormed(MHD_Connection* c, const char* method, const char* url) {
        HeaderCheck check;
        const bool inPlace = method && url && url == method + std::strlen(method) + 1;
        if (inPlace) ++check.inPlace;
        MHD_get_connection_values_n(c, MHD_HEADER_KIND, &HeaderCheck::visit, &check);
        const bool folded = check.moved > 0 && check.inPlace > 0;
        return !check.malformed && !folded && check.lengths <= 1 && check.hosts <= 1 &&
               !(inPlace && check.hidesTextAfterAValue(c, method));
    }
};

}  // namespace

// The request handler, with access to the server's state.
struct MediaServerRequest {
    static MHD_Result handle(void* cls, MHD_Connection* c, const char* url, const char* method, const char* version,
                             const char*, size_t* uploadSize, void** conCls) {
        auto* server = static_cast<MediaServerMain*>(cls);
        // The first call brings the headers. Headers that can be read two
        // ways are refused and the connection closed. A request with a body is
        // answered at once and the connection closed (only GET and HEAD are
        // served, and a body dripped in would hold the connection past every
        // deadline). Otherwise answering on the second call keeps the
        // connection open for the next request.
        if (*conCls != &answerMarker && *conCls != &foreignHostMarker) {
            if (!HeaderCheck::wellFormed(c, method, url) || !targetWhole(c, url, version, *conCls)) {
                // Nothing after it on this connection can be trusted to start where it seems to.
                *conCls = &foreignHostMarker;
                MHD_Response* r = textResponse("Bad Request\n");
                if (r) MHD_add_response_header(r, MHD_HTTP_HEADER_CONNECTION, "close");
                return queue(c, MHD_HTTP_BAD_REQUEST, r);
            }
            const char* host = MHD_lookup_connection_value(c, MHD_HEADER_KIND, MHD_HTTP_HEADER_HOST);
            *conCls = host && MediaServerMain::isOwnHost(host) ? &answerMarker : &foreignHostMarker;
            if (hasBody(c)) return queueText(c, MHD_HTTP_CONTENT_TOO_LARGE, "Content Too Large\n");
            return MHD_YES;
        }
        if (*uploadSize) {
            *uploadSize = 0;  // a body we do not read (never reached: refused above)
            return MHD_YES;
        }
        // The request has all arrived within its deadline; the answer is
        // limited by the idle timeout.
        server->requestArrived(c);
        if (programLocked.load()) return queueText(c, MHD_HTTP_SERVICE_UNAVAILABLE, "Service Unavailable\n");
        if (*conCls == &foreignHostMarker) return queueText(c, MHD_HTTP_MISDIRECTED_REQUEST, "Misdirected Request\n");
        const bool isGet = std::strcmp(method, MHD_HTTP_METHOD_GET) == 0;
        const bool isHead = std::strcmp(method, MHD_HTTP_METHOD_HEAD) == 0;
        if (!isGet && !isHead) return queueText(c, MHD_HTTP_METHOD_NOT_ALLOWED, "Method Not Allowed\n");
        if (!server->rootIsOpen()) return queueText(c, MHD_HTTP_NOT_FOUND, "Not Found\n");
        const std::string requestPath = url ? url : "/";
        Fd fd(MediaServerMain::openRequestPath(server->rootFd_, requestPath));
        struct stat st {};
        if (fd.fd < 0 || ::fstat(fd.fd, &st) != 0) return queueText(c, MHD_HTTP_NOT_FOUND, "Not Found\n");
        if (S_ISDIR(st.st_mode)) {
            const auto parts = components(requestPath);
            const std::string title = parts.empty() ? sys::Path::lastPathComponent(server->root_) : parts.back();
            return queueText(c, MHD_HTTP_OK, MediaServerMain::folderPage(fd.fd, requestPath, title),
                             "text/html; charset=utf-8");
        }
        const uint64_t size = uint64_t(st.st_size);
        uint64_t first = 0, last = size ? size - 1 : 0;
        const int range = parseRange(MHD_lookup_connection_value(c, MHD_HEADER_KIND, MHD_HTTP_HEADER_RANGE), size,
                                     first, last);
        if (range < 0) {
            MHD_Response* r = MHD_create_response_from_buffer(0, nullptr, MHD_RESPMEM_PERSISTENT);
            if (!r) return MHD_NO;
            const std::string cr = "bytes */" + std::to_string(size);
            MHD_add_response_header(r, MHD_HTTP_HEADER_CONTENT_RANGE, cr.c_str());
            return queue(c, MHD_HTTP_RANGE_NOT_SATISFIABLE, r);
        }
        const uint64_t length = range > 0 ? last - first + 1 : size;
        // The response owns the descriptor from here on and sends it with sendfile.
        MHD_Response* r = MHD_create_response_from_fd_at_offset64(length, fd.fd, range > 0 ? first : 0);
        if (!r) return MHD_NO;
        fd.release();
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

    // A connection starts or ends: it waits for its first request's headers
    // from its start.
    static void connectionChanged(void* cls, MHD_Connection* c, void**, MHD_ConnectionNotificationCode code) {
        auto* server = static_cast<MediaServerMain*>(cls);
        std::lock_guard<std::mutex> lock(server->watchMutex_);
        if (code == MHD_CONNECTION_NOTIFY_STARTED) {
            const MHD_ConnectionInfo* info = MHD_get_connection_info(c, MHD_CONNECTION_INFO_CONNECTION_FD);
            if (!info) return;
            server->waiting_[c] = {info->connect_fd, steadySeconds() + server->limits_.headerDeadline};
            server->watchWake_.notify_all();
        } else {
            // The socket is closed only after this returns: the watcher,
            // which shuts sockets under this lock, never touches a closed one.
            server->waiting_.erase(c);
        }
    }

    // A request was answered: on a kept connection the next one's headers
    // are waited for from now.
    static void requestCompleted(void* cls, MHD_Connection* c, void**, MHD_RequestTerminationCode) {
        auto* server = static_cast<MediaServerMain*>(cls);
        std::lock_guard<std::mutex> lock(server->watchMutex_);
        auto it = server->waiting_.find(c);
        if (it != server->waiting_.end()) it->second.deadline = steadySeconds() + server->limits_.headerDeadline;
        server->watchWake_.notify_all();
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

void MediaServerMain::setProgramLocked(bool locked) { programLocked.store(locked); }

void MediaServerMain::requestArrived(MHD_Connection* c) {
    std::lock_guard<std::mutex> lock(watchMutex_);
    auto it = waiting_.find(c);
    if (it != waiting_.end()) it->second.deadline = 0;
}

bool MediaServerMain::isHiddenFromServer(const std::string& name) {
    if (name.empty() || name[0] == '.') return true;  // hidden names, locked folders, book side files
    if (name == FolderLockInfo::kFileName) return true;
    const std::string ext = sys::Path::pathExtension(name);
    if (iequal(ext, "shortcut") || iequal(ext, "lbs")) return true;
    return BookCommonTypes::isCacheOrBookSettingFileWithFilename(name);
}

bool MediaServerMain::isOwnHost(const std::string& header) {
    std::string host = header;
    // "[v6]:port", "[v6]", "v4:port", "name:port", "v4", "name".
    if (!host.empty() && host[0] == '[') {
        const size_t close = host.find(']');
        if (close == std::string::npos) return false;
        const std::string rest = host.substr(close + 1);
        if (!rest.empty() && (rest[0] != ':' || rest.find_first_not_of("0123456789", 1) != std::string::npos))
            return false;
        host = host.substr(1, close - 1);
        // A zone ("fe80::1%25eth0") names the interface, not the address.
        if (const size_t zone = host.find('%'); zone != std::string::npos) host.resize(zone);
        in6_addr a6 {};
        if (::inet_pton(AF_INET6, host.c_str(), &a6) != 1) return false;
    } else {
        const size_t colon = host.find(':');
        if (colon != std::string::npos) {
            if (host.find_first_not_of("0123456789", colon + 1) != std::string::npos) return false;
            host.resize(colon);
        }
    }
    host = lowercase(host);
    if (!host.empty() && host.back() == '.') host.pop_back();
    if (host.empty()) return false;

    unsigned char wanted[16] {};
    int family = AF_UNSPEC;
    if (::inet_pton(AF_INET, host.c_str(), wanted) == 1) family = AF_INET;
    else if (::inet_pton(AF_INET6, host.c_str(), wanted) == 1) family = AF_INET6;
    if (family == AF_UNSPEC) {
        if (host == "localhost") return true;
        char name[256] = {};
        if (::gethostname(name, sizeof name - 1) != 0 || !name[0]) return false;
        const std::string own = lowercase(name);
        return host == own || host == own + ".local";
    }
    // The whole loopback range answers here, as do this machine's addresses.
    if (family == AF_INET && wanted[0] == 127) return true;
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) return false;
    bool found = false;
    for (ifaddrs* i = list; i && !found; i = i->ifa_next) {
        if (!i->ifa_addr || i->ifa_addr->sa_family != family) continue;
        if (family == AF_INET)
            found = std::memcmp(&reinterpret_cast<const sockaddr_in*>(i->ifa_addr)->sin_addr, wanted, 4) == 0;
        else
            found = std::memcmp(&reinterpret_cast<const sockaddr_in6*>(i->ifa_addr)->sin6_addr, wanted, 16) == 0;
    }
    ::freeifaddrs(list);
    return found;
}

int MediaServerMain::openRequestPath(int rootFd, const std::string& requestPath) {
    if (rootFd < 0 || requestPath.find('\0') != std::string::npos) return -1;
    const auto parts = components(requestPath);
    for (const auto& c : parts) {
        if (c == "." || c == ".." || isHiddenFromServer(c)) return -1;
    }
    Fd at(::fcntl(rootFd, F_DUPFD_CLOEXEC, 0));
    if (at.fd < 0) return -1;
    for (size_t i = 0; i < parts.size(); ++i) {
        // What is there, without following a link; only folders and regular
        // files are opened at all, and then without following a link and
        // without waiting (what is opened is checked again: it may have been
        // swapped meanwhile).
        struct stat st {};
        if (::fstatat(at.fd, parts[i].c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return -1;
        const bool last = i + 1 == parts.size();
        if (!S_ISDIR(st.st_mode) && !(last && S_ISREG(st.st_mode))) return -1;
        Fd next(::openat(at.fd, parts[i].c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY));
        if (next.fd < 0 || ::fstat(next.fd, &st) != 0) return -1;
        if (S_ISDIR(st.st_mode)) {
            if (isPasscodeLocked(next.fd)) return -1;
        } else if (!last || !S_ISREG(st.st_mode)) {
            return -1;
        }
        std::swap(at.fd, next.fd);
    }
    return at.release();
}

std::string MediaServerMain::folderPage(int dirFd, const std::string& urlPath, const std::string& title) {
    struct Entry {
        std::string name;
        bool isFolder;
        int64_t size;
        int64_t date;
    };
    std::vector<Entry> entries;
    const int listFd = dirFd < 0 ? -1 : ::openat(dirFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (DIR* d = listFd < 0 ? nullptr : ::fdopendir(listFd)) {
        while (dirent* e = ::readdir(d)) {
            if (entries.size() >= kMaxPageEntries) break;
            const std::string name = e->d_name;
            if (isHiddenFromServer(name)) continue;
            // Entries the server would refuse (links, locked folders, what
            // is neither a folder nor a file) are not offered either.
            struct stat st {};
            if (::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
            const bool isFolder = S_ISDIR(st.st_mode);
            if (!isFolder && !S_ISREG(st.st_mode)) continue;
            if (isFolder) {
                Fd sub(::openat(dirFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW));
                if (sub.fd < 0 || isPasscodeLocked(sub.fd)) continue;
            }
            entries.push_back({name, isFolder, isFolder ? 0 : int64_t(st.st_size), int64_t(st.st_mtime)});
        }
        ::closedir(d);
    } else if (listFd >= 0) {
        ::close(listFd);
    }
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
        if (a.isFolder != b.isFolder) return a.isFolder;
        return a.name < b.name;
    });
    std::string encodedBase;
    for (const auto& c : components(urlPath)) encodedBase += "/" + percentEncode(c);
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

bool MediaServerMain::rootIsOpen() const {
    // Renamed (a lock renames a folder), moved or replaced: no longer shared.
    struct stat atPath {}, opened {};
    if (::stat(root_.c_str(), &atPath) != 0 || ::fstat(rootFd_, &opened) != 0 || atPath.st_dev != opened.st_dev ||
        atPath.st_ino != opened.st_ino) {
        return false;
    }
    if (isPasscodeLocked(rootFd_)) return false;
    // The folders above it, up to the lock scope.
    if (scope_.empty()) return true;
    std::string folder = sys::Path::stringByDeletingLastPathComponent(root_);
    while (folder.size() > scope_.size()) {
        if (BookCommonLocks::isFolderNameChangedForLock(folder)) return false;
        Fd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (fd.fd < 0 || isPasscodeLocked(fd.fd)) return false;
        folder = sys::Path::stringByDeletingLastPathComponent(folder);
    }
    return true;
}

bool MediaServerMain::start(const std::string& folder, const std::string& address, uint16_t port) {
    stop();
    std::lock_guard<std::mutex> lock(mutex_);
    lastError_.clear();
    const std::string root = realPath(folder);
    Fd rootFd(root.empty() ? -1 : ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW));
    if (rootFd.fd < 0) {
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
    rootFd_ = rootFd.release();
    // Locks count up to the library's Documents when the folder lies in it.
    const std::string scope = realPath(lockScope_.empty() ? BookCommonPaths::getBooksDocumentsFolder() : lockScope_);
    scope_ = !scope.empty() && root_.size() > scope.size() && root_.compare(0, scope.size() + 1, scope + "/") == 0
                 ? scope
                 : std::string();
    {
        std::lock_guard<std::mutex> watch(watchMutex_);
        watchStop_ = false;
        waiting_.clear();
    }
    watcher_ = std::thread([this] { watchHeaders(); });

    // poll, not epoll: with a pool of threads sharing the listening socket,
    // libmicrohttpd's epoll loop can leave a thread that took its full share
    // of the connections (the limit is split among the threads) waiting on
    // none of them, so that all it holds go unanswered until they time out.
    unsigned flags = MHD_USE_POLL_INTERNAL_THREAD;
    if (isV6) flags |= MHD_USE_IPv6;
    MHD_OptionItem options[] = {
        {MHD_OPTION_THREAD_POOL_SIZE, 4, nullptr},
        {MHD_OPTION_CONNECTION_LIMIT, intptr_t(limits_.connections), nullptr},
        {MHD_OPTION_PER_IP_CONNECTION_LIMIT, intptr_t(limits_.connectionsPerAddress), nullptr},
        {MHD_OPTION_CONNECTION_TIMEOUT, intptr_t(limits_.idleTimeout), nullptr},
        {MHD_OPTION_NOTIFY_CONNECTION, reinterpret_cast<intptr_t>(&MediaServerRequest::connectionChanged), this},
        {MHD_OPTION_NOTIFY_COMPLETED, reinterpret_cast<intptr_t>(&MediaServerRequest::requestCompleted), this},
        {MHD_OPTION_SIGPIPE_HANDLED_BY_APP, 1, nullptr},
        {MHD_OPTION_UNESCAPE_CALLBACK, reinterpret_cast<intptr_t>(&unescape), nullptr},
        {MHD_OPTION_URI_LOG_CALLBACK, reinterpret_cast<intptr_t>(&targetArrived), nullptr},
        {haveAddress ? MHD_OPTION_SOCK_ADDR : MHD_OPTION_END, 0, haveAddress ? &sa : nullptr},
        {MHD_OPTION_END, 0, nullptr},
    };
    daemon_ = MHD_start_daemon(flags, port, nullptr, nullptr, &MediaServerRequest::handle, this, MHD_OPTION_ARRAY,
                               options, MHD_OPTION_END);
    if (!daemon_) {
        stopWatching();
        ::close(rootFd_);
        rootFd_ = -1;
        root_.clear();
        lastError_ = "The server could not listen on this address and port.";
        return false;
    }
    const MHD_DaemonInfo* info = MHD_get_daemon_info(daemon_, MHD_DAEMON_INFO_BIND_PORT);
    port_ = info ? info->port : port;
    address_ = address;
    return true;
}

void MediaServerMain::watchHeaders() {
    std::unique_lock<std::mutex> lock(watchMutex_);
    while (!watchStop_) {
        const double now = steadySeconds();
        double next = 0;
        for (auto& [connection, w] : waiting_) {
            if (w.deadline <= 0) continue;
            if (w.deadline <= now) {
                // Late: the socket is shut, so the server's own thread sees
                // it end and lets the connection go. Closing stays with it.
                ::shutdown(w.fd, SHUT_RDWR);
                w.deadline = 0;
            } else if (next == 0 || w.deadline < next) {
                next = w.deadline;
            }
        }
        if (next == 0)
            watchWake_.wait(lock);
        else
            watchWake_.wait_for(lock, std::chrono::duration<double>(next - now));
    }
}

void MediaServerMain::stopWatching() {
    {
        std::lock_guard<std::mutex> lock(watchMutex_);
        watchStop_ = true;
        watchWake_.notify_all();
    }
    if (watcher_.joinable()) watcher_.join();
    std::lock_guard<std::mutex> lock(watchMutex_);
    waiting_.clear();
}

void MediaServerMain::stop() {
    MHD_Daemon* d = nullptr;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        d = daemon_;
        daemon_ = nullptr;
    }
    // Joins the server's threads: no request runs once this returns. A
    // request never waits on a file, so this cannot hang on one.
    if (d) MHD_stop_daemon(d);
    stopWatching();
    std::lock_guard<std::mutex> lock(mutex_);
    if (!daemon_) {
        if (rootFd_ >= 0) ::close(rootFd_);
        rootFd_ = -1;
        root_.clear();
        scope_.clear();
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

std::vector<std::string> MediaServerMain::reachableURLs() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> out;
    if (!daemon_) return out;
    const std::string suffix = ":" + std::to_string(port_) + "/";
    if (!address_.empty()) {
        out.push_back("http://" + (address_.find(':') != std::string::npos ? "[" + address_ + "]" : address_) + suffix);
        return out;
    }
    std::vector<std::string> loopback;
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) == 0) {
        for (ifaddrs* i = list; i; i = i->ifa_next) {
            if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET || !(i->ifa_flags & IFF_UP)) continue;
            char text[INET_ADDRSTRLEN] = {};
            if (!::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(i->ifa_addr)->sin_addr, text, sizeof text))
                continue;
            std::string url = "http://" + std::string(text) + suffix;
            auto& into = (i->ifa_flags & IFF_LOOPBACK) ? loopback : out;
            if (std::find(into.begin(), into.end(), url) == into.end()) into.push_back(url);
        }
        ::freeifaddrs(list);
    }
    out.insert(out.end(), loopback.begin(), loopback.end());
    return out;
}

std::string MediaServerMain::sharedFolder() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return root_;
}
