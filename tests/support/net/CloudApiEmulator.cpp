#include "tests/support/net/CloudApiEmulator.h"

#include "cloud/CloudService.h"
#include "foundation/QNKeyChain.h"
#include "platform/core/PercentEncoding.h"
#include "platform/core/UserDefaults.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <nlohmann/json.hpp>
#include <openssl/sha.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace test {

namespace {

using nlohmann::json;

// Form text: "+" is a space, "%XX" a byte.
std::string decode(std::string s) {
    std::replace(s.begin(), s.end(), '+', ' ');
    return sys::PercentEncoding::decode(s);
}

std::map<std::string, std::string> form(const std::string& text) {
    std::map<std::string, std::string> out;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t amp = text.find('&', pos);
        if (amp == std::string::npos) amp = text.size();
        std::string item = text.substr(pos, amp - pos);
        size_t eq = item.find('=');
        out[decode(item.substr(0, eq))] = eq == std::string::npos ? "" : decode(item.substr(eq + 1));
        pos = amp + 1;
    }
    return out;
}

std::string base64url(const unsigned char* data, size_t n) {
    static const char* a = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
    std::string out;
    for (size_t i = 0; i < n; i += 3) {
        uint32_t v = uint32_t(data[i]) << 16 | (i + 1 < n ? uint32_t(data[i + 1]) << 8 : 0) | (i + 2 < n ? data[i + 2] : 0);
        out += a[(v >> 18) & 63];
        out += a[(v >> 12) & 63];
        if (i + 1 < n) out += a[(v >> 6) & 63];
        if (i + 2 < n) out += a[v & 63];
    }
    return out;
}

bool startsWith(const std::string& s, const std::string& p) { return s.compare(0, p.size(), p) == 0; }

std::string rootOf(const std::string& id) { return id.empty() || id == "0" || id == "root" ? "root" : id; }

}  // namespace

CloudApiEmulator::CloudApiEmulator() = default;
CloudApiEmulator::~CloudApiEmulator() { stop(); }

bool CloudApiEmulator::start() {
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (listenFd_ < 0 || ::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listenFd_, 64) != 0 || ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0 ||
        ::pipe2(wakeFd_, O_CLOEXEC) != 0) {
        return false;
    }
    port_ = ntohs(addr.sin_port);
    acceptor_ = std::thread([this] { acceptLoop(); });
    return true;
}

void CloudApiEmulator::stop() {
    if (wakeFd_[1] >= 0) (void)!::write(wakeFd_[1], "x", 1);
    if (acceptor_.joinable()) acceptor_.join();
    for (auto& t : connections_) {
        if (t.joinable()) t.join();
    }
    connections_.clear();
    for (int* fd : {&listenFd_, &wakeFd_[0], &wakeFd_[1]}) {
        if (*fd >= 0) ::close(*fd);
        *fd = -1;
    }
}

std::string CloudApiEmulator::url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

namespace {
const char* const kServices[] = {"googledrive", "onedrive", "dropbox", "box"};
const char* const kFields[] = {"apiBase", "contentBase", "authURL", "tokenURL", "clientID", "clientSecret"};
}  // namespace

void CloudApiEmulator::useForAllServices() const {
    auto& d = sys::UserDefaults::standard();
    for (const char* s : kServices) {
        const std::string k = std::string("cloud.") + s + ".";
        d.setObject(sys::PlistValue(url("")), k + "apiBase");
        d.setObject(sys::PlistValue(url("")), k + "contentBase");
        d.setObject(sys::PlistValue(url("/oauth/authorize")), k + "authURL");
        d.setObject(sys::PlistValue(url("/oauth/token")), k + "tokenURL");
        d.setObject(sys::PlistValue(clientId_), k + "clientID");
    }
}

void CloudApiEmulator::forgetServiceSettings() {
    auto& d = sys::UserDefaults::standard();
    for (const char* s : kServices) {
        for (const char* f : kFields) d.removeObjectForKey(std::string("cloud.") + s + "." + f);
        QNKeyChain::deletePasswordWithAccount(s, CloudEndpoints::kClientSecretService);
    }
}

void CloudApiEmulator::addFolder(const std::string& parent, const std::string& id, const std::string& name) {
    std::lock_guard lock(mutex_);
    items_[id] = Item{id, rootOf(parent), name, "", "2024-05-01T10:20:30Z", true, false};
    order_.push_back(id);
}

void CloudApiEmulator::addFile(const std::string& parent, const std::string& id, const std::string& name,
                               const std::string& bytes, const std::string& modified, bool trashed) {
    std::lock_guard lock(mutex_);
    items_[id] = Item{id, rootOf(parent), name, bytes, modified, false, trashed};
    order_.push_back(id);
}

void CloudApiEmulator::setPageSize(int n) {
    std::lock_guard lock(mutex_);
    pageSize_ = n;
}
void CloudApiEmulator::setPreauthorizedBase(const std::string& base) {
    std::lock_guard lock(mutex_);
    preBase_ = base;
}
void CloudApiEmulator::addTokens(const std::string& access, const std::string& refresh) {
    std::lock_guard lock(mutex_);
    access_[access] = true;
    if (!refresh.empty()) refresh_[refresh] = true;
}
void CloudApiEmulator::expireAccessTokens() {
    std::lock_guard lock(mutex_);
    for (auto& [k, v] : access_) v = false;
}
void CloudApiEmulator::expireAccessTokensAfter(int requests) {
    std::lock_guard lock(mutex_);
    expireAfter_ = requests;
}
void CloudApiEmulator::revokeRefreshTokens() {
    std::lock_guard lock(mutex_);
    for (auto& [k, v] : refresh_) v = false;
}
void CloudApiEmulator::setClientId(const std::string& id) {
    std::lock_guard lock(mutex_);
    clientId_ = id;
}
void CloudApiEmulator::setAccountName(const std::string& name) {
    std::lock_guard lock(mutex_);
    accountName_ = name;
}

std::vector<CloudApiEmulator::Request> CloudApiEmulator::requests() const {
    std::lock_guard lock(mutex_);
    return log_;
}

size_t CloudApiEmulator::count(const std::string& prefix) const {
    std::lock_guard lock(mutex_);
    size_t n = 0;
    for (const auto& r : log_) n += startsWith(r.path, prefix) ? 1 : 0;
    return n;
}

void CloudApiEmulator::clearRequests() {
    std::lock_guard lock(mutex_);
    log_.clear();
}

void CloudApiEmulator::acceptLoop() {
    for (;;) {
        pollfd fds[2] = {{listenFd_, POLLIN, 0}, {wakeFd_[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) continue;
        if (fds[1].revents) return;
        int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd >= 0) connections_.emplace_back([this, fd] { serve(fd); });
    }
}

// One request per connection ("Connection: close").
void CloudApiEmulator::serve(int fd) {
    std::string in;
    char buf[8192];
    size_t headerEnd = std::string::npos;
    while ((headerEnd = in.find("\r\n\r\n")) == std::string::npos && in.size() < 65536) {
        pollfd p[2] = {{fd, POLLIN, 0}, {wakeFd_[0], POLLIN, 0}};
        if (::poll(p, 2, 10000) <= 0 || p[1].revents) break;
        ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0) break;
        in.append(buf, size_t(n));
    }
    if (headerEnd == std::string::npos) {
        ::close(fd);
        return;
    }
    Request r;
    std::string head = in.substr(0, headerEnd);
    std::string body = in.substr(headerEnd + 4);
    size_t lineEnd = head.find("\r\n");
    std::string line = head.substr(0, lineEnd);
    size_t sp1 = line.find(' '), sp2 = line.rfind(' ');
    r.method = line.substr(0, sp1);
    std::string target = line.substr(sp1 + 1, sp2 - sp1 - 1);
    size_t q = target.find('?');
    r.path = target.substr(0, q);
    r.query = q == std::string::npos ? "" : target.substr(q + 1);
    size_t contentLength = 0;
    for (size_t pos = lineEnd + 2; pos < head.size();) {
        size_t e = head.find("\r\n", pos);
        if (e == std::string::npos) e = head.size();
        std::string h = head.substr(pos, e - pos);
        size_t colon = h.find(':');
        std::string name = h.substr(0, colon), value = colon == std::string::npos ? "" : h.substr(colon + 1);
        while (!value.empty() && value.front() == ' ') value.erase(0, 1);
        for (char& c : name) c = char(std::tolower(static_cast<unsigned char>(c)));
        if (name == "authorization") r.authorization = value;
        if (name == "range") r.range = value;
        if (name == "dropbox-api-arg") r.apiArg = value;
        if (name == "content-length") contentLength = std::strtoul(value.c_str(), nullptr, 10);
        pos = e + 2;
    }
    while (body.size() < contentLength && contentLength < (1u << 20)) {
        ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0) break;
        body.append(buf, size_t(n));
    }
    r.body = body;
    Answer a = route(r);
    r.status = a.status;
    {
        std::lock_guard lock(mutex_);
        log_.push_back(r);
    }
    std::string out = "HTTP/1.1 " + std::to_string(a.status) + " X\r\nContent-Length: " +
                      std::to_string(a.body.size()) + "\r\nConnection: close\r\n";
    for (const auto& [k, v] : a.headers) out += k + ": " + v + "\r\n";
    out += "\r\n";
    if (r.method != "HEAD") out += a.body;
    std::string prefix;
    int dripMs = -1;
    {
        std::lock_guard lock(mutex_);
        prefix = heldPrefix_;
        dripMs = heldDripMs_;
    }
    size_t done = 0;
    if (!prefix.empty() && r.path.compare(0, prefix.size(), prefix) == 0) {
        // The head at once, then the body a byte at a time, or never.
        const size_t head = out.size() - (r.method != "HEAD" ? a.body.size() : 0);
        while (done < head) {
            ssize_t n = ::send(fd, out.data() + done, head - done, MSG_NOSIGNAL);
            if (n <= 0) break;
            done += size_t(n);
        }
        for (;;) {
            pollfd p[2] = {{fd, POLLIN, 0}, {wakeFd_[0], POLLIN, 0}};
            if (::poll(p, 2, dripMs < 0 ? 100 : dripMs) < 0 || p[1].revents) break;
            // The client went away.
            if (p[0].revents) {
                char c;
                if (::recv(fd, &c, 1, MSG_DONTWAIT) <= 0) break;
            }
            if (dripMs < 0) continue;
            if (done >= out.size() || ::send(fd, out.data() + done, 1, MSG_NOSIGNAL) <= 0) break;
            ++done;
        }
        done = out.size();
    }
    while (done < out.size()) {
        ssize_t n = ::send(fd, out.data() + done, out.size() - done, MSG_NOSIGNAL);
        if (n <= 0) break;
        done += size_t(n);
    }
    ::shutdown(fd, SHUT_WR);
    ::close(fd);
}

void CloudApiEmulator::holdAnswers(const std::string& pathPrefix, int dripMs) {
    std::lock_guard lock(mutex_);
    heldPrefix_ = pathPrefix;
    heldDripMs_ = dripMs;
}

CloudApiEmulator::Answer CloudApiEmulator::reply(int status, const std::string& body) const {
    Answer a;
    a.status = status;
    a.body = body;
    a.headers.push_back({"Content-Type", "application/json"});
    return a;
}

CloudApiEmulator::Answer CloudApiEmulator::bytes(const Item& item, const std::string& range) const {
    Answer a;
    a.headers.push_back({"ETag", "\"" + item.id + "-v1\""});
    a.headers.push_back({"Accept-Ranges", "bytes"});
    const int64_t size = int64_t(item.data.size());
    if (range.empty()) {
        a.body = item.data;
        return a;
    }
    long long first = -1, last = -1;
    if (std::sscanf(range.c_str(), "bytes=%lld-%lld", &first, &last) < 1 || first < 0 || first >= size) {
        a.status = 416;
        a.headers.push_back({"Content-Range", "bytes */" + std::to_string(size)});
        return a;
    }
    if (last < 0 || last >= size) last = size - 1;
    a.status = 206;
    a.body = item.data.substr(size_t(first), size_t(last - first + 1));
    a.headers.push_back({"Content-Range", "bytes " + std::to_string(first) + "-" + std::to_string(last) + "/" +
                                              std::to_string(size)});
    return a;
}

bool CloudApiEmulator::authorized(const Request& r) const {
    // Either spelling of the scheme, as the services take it.
    if (r.authorization.size() < 8 || strncasecmp(r.authorization.c_str(), "bearer ", 7) != 0) return false;
    auto it = access_.find(r.authorization.substr(7));
    return it != access_.end() && it->second;
}

const CloudApiEmulator::Item* CloudApiEmulator::find(const std::string& id) const {
    auto it = items_.find(id);
    return it == items_.end() ? nullptr : &it->second;
}

std::vector<const CloudApiEmulator::Item*> CloudApiEmulator::children(const std::string& folder) const {
    std::vector<const Item*> out;
    for (const auto& id : order_) {
        const Item& i = items_.at(id);
        if (i.parent == rootOf(folder)) out.push_back(&i);
    }
    return out;
}

std::string CloudApiEmulator::pathOf(const Item& item) const {
    std::string path = "/" + item.name;
    for (const Item* p = find(item.parent); p; p = find(p->parent)) path = "/" + p->name + path;
    return path;
}

const CloudApiEmulator::Item* CloudApiEmulator::byPath(const std::string& path) const {
    if (startsWith(path, "id:")) return find(path.substr(3));
    for (const auto& [id, item] : items_) {
        if (strcasecmp(pathOf(item).c_str(), path.c_str()) == 0) return &item;
    }
    return nullptr;
}

CloudApiEmulator::Answer CloudApiEmulator::route(Request& r) {
    std::lock_guard lock(mutex_);
    const auto query = form(r.query);
    // Sign-in: the page "approves" at once and sends the browser back.
    if (r.path == "/oauth/authorize") {
        auto get = [&](const char* k) { return query.count(k) ? query.at(k) : std::string(); };
        if (get("client_id") != clientId_ || get("code_challenge_method") != "S256" || get("response_type") != "code") {
            return reply(400, "{\"error\":\"invalid_request\"}");
        }
        const std::string code = "code-" + std::to_string(++serial_);
        codes_[code] = {get("code_challenge"), get("redirect_uri")};
        Answer a;
        a.status = 302;
        a.headers.push_back({"Location", get("redirect_uri") + "?code=" + code + "&state=" + get("state")});
        return a;
    }
    if (r.path == "/oauth/token" && r.method == "POST") {
        auto f = form(r.body);
        if (f["client_id"] != clientId_) return reply(401, "{\"error\":\"invalid_client\"}");
        if (f["grant_type"] == "authorization_code") {
            auto it = codes_.find(f["code"]);
            if (it == codes_.end()) return reply(400, "{\"error\":\"invalid_grant\"}");
            unsigned char d[SHA256_DIGEST_LENGTH];
            SHA256(reinterpret_cast<const unsigned char*>(f["code_verifier"].data()), f["code_verifier"].size(), d);
            const bool ok = base64url(d, sizeof d) == it->second.first && f["redirect_uri"] == it->second.second;
            codes_.erase(it);
            if (!ok) return reply(400, "{\"error\":\"invalid_grant\",\"error_description\":\"PKCE check failed\"}");
        } else if (f["grant_type"] == "refresh_token") {
            auto it = refresh_.find(f["refresh_token"]);
            if (it == refresh_.end() || !it->second) return reply(400, "{\"error\":\"invalid_grant\"}");
            it->second = false;  // rotated
        } else {
            return reply(400, "{\"error\":\"unsupported_grant_type\"}");
        }
        const std::string n = std::to_string(++serial_);
        access_["access-" + n] = true;
        refresh_["refresh-" + n] = true;
        return reply(200, json::object({{"access_token", "access-" + n},
                                       {"refresh_token", "refresh-" + n},
                                       {"token_type", "bearer"},
                                       {"expires_in", 3600}})
                             .dump());
    }
    // Graph's pre-authenticated content address: no token wanted.
    if (startsWith(r.path, "/pre/")) {
        const Item* item = find(r.path.substr(5));
        if (!r.authorization.empty()) return reply(400, "{\"error\":\"token sent to storage\"}");
        return item ? bytes(*item, r.range) : reply(404, "{}");
    }
    if (!authorized(r)) return reply(401, "{\"error\":\"invalid_token\"}");
    if (expireAfter_ >= 0 && expireAfter_-- == 0) {
        for (auto& [k, v] : access_) v = false;
        return reply(401, "{\"error\":\"invalid_token\"}");
    }

    const size_t page = size_t(pageSize_);
    auto pageOf = [&](const std::vector<const Item*>& all, size_t offset) {
        return std::vector<const Item*>(all.begin() + std::min(offset, all.size()),
                                        all.begin() + std::min(offset + page, all.size()));
    };

    // Drive v3.
    if (r.path == "/drive/v3/about") return reply(200, json({{"user", {{"emailAddress", accountName_}}}}).dump());
    if (r.path == "/drive/v3/files") {
        std::string q = query.count("q") ? query.at("q") : "";
        if (q.size() < 14 || q.front() != '\'' || q.find("' in parents") == std::string::npos) {
            return reply(400, "{}");
        }
        const std::string folder = q.substr(1, q.find("' in parents") - 1);
        size_t offset = query.count("pageToken") ? std::strtoul(query.at("pageToken").c_str() + 1, nullptr, 10) : 0;
        auto all = children(folder);
        json files = json::array();
        for (const Item* i : pageOf(all, offset)) {
            json f = {{"id", i->id}, {"name", i->name}, {"explicitlyTrashed", i->trashed}, {"modifiedTime", i->modified}};
            if (i->folder) {
                f["mimeType"] = "application/vnd.google-apps.folder";
            } else {
                f["mimeType"] = "application/zip";
                f["originalFilename"] = i->name;
                f["size"] = std::to_string(i->data.size());
            }
            files.push_back(f);
        }
        json out = {{"files", files}};
        if (offset + page < all.size()) out["nextPageToken"] = "p" + std::to_string(offset + page);
        return reply(200, out.dump());
    }
    if (startsWith(r.path, "/drive/v3/files/")) {
        const Item* item = find(r.path.substr(16));
        if (!item || query.count("alt") == 0 || query.at("alt") != "media") return reply(404, "{}");
        return bytes(*item, r.range);
    }

    // Graph.
    if (r.path == "/v1.0/me") return reply(200, json({{"displayName", accountName_}}).dump());
    if (startsWith(r.path, "/v1.0/me/drive/")) {
        std::string rest = r.path.substr(15);
        std::string folder;
        if (rest == "root/children") {
            folder = "root";
        } else if (startsWith(rest, "items/") && rest.size() > 15 && rest.compare(rest.size() - 9, 9, "/children") == 0) {
            folder = decode(rest.substr(6, rest.size() - 15));
        } else if (startsWith(rest, "items/") && rest.size() > 14 && rest.compare(rest.size() - 8, 8, "/content") == 0) {
            const std::string id = decode(rest.substr(6, rest.size() - 14));
            if (!find(id)) return reply(404, "{}");
            Answer a;
            a.status = 302;
            a.headers.push_back({"Location", (preBase_.empty() ? url("") : preBase_) + "/pre/" + id + "?sig=x"});
            return a;
        } else {
            return reply(404, "{}");
        }
        size_t offset = query.count("$skiptoken") ? std::strtoul(query.at("$skiptoken").c_str(), nullptr, 10) : 0;
        auto all = children(folder);
        json value = json::array();
        for (const Item* i : pageOf(all, offset)) {
            json v = {{"id", i->id}, {"name", i->name}, {"lastModifiedDateTime", i->modified}};
            if (i->folder) {
                v["folder"] = {{"childCount", children(i->id).size()}};
                v["size"] = 0;
            } else {
                v["file"] = {{"mimeType", "application/zip"}};
                v["size"] = i->data.size();
            }
            value.push_back(v);
        }
        json out = {{"value", value}};
        if (offset + page < all.size()) {
            out["@odata.nextLink"] = url(r.path) + "?$skiptoken=" + std::to_string(offset + page);
        }
        return reply(200, out.dump());
    }

    // Box 2.0.
    if (r.path == "/2.0/users/me") return reply(200, json({{"name", accountName_}}).dump());
    if (startsWith(r.path, "/2.0/folders/") && r.path.size() > 19 && r.path.compare(r.path.size() - 6, 6, "/items") == 0) {
        const std::string folder = r.path.substr(13, r.path.size() - 19);
        size_t offset = query.count("offset") ? std::strtoul(query.at("offset").c_str(), nullptr, 10) : 0;
        auto all = children(folder);
        json entries = json::array();
        for (const Item* i : pageOf(all, offset)) {
            entries.push_back({{"type", i->folder ? "folder" : "file"},
                               {"id", i->id},
                               {"name", i->name},
                               {"size", i->data.size()},
                               {"content_modified_at", i->modified}});
        }
        return reply(200, json({{"total_count", all.size()}, {"entries", entries}, {"offset", offset}, {"limit", page}})
                             .dump());
    }
    if (startsWith(r.path, "/2.0/files/") && r.path.size() > 19 && r.path.compare(r.path.size() - 8, 8, "/content") == 0) {
        const Item* item = find(r.path.substr(11, r.path.size() - 19));
        return item ? bytes(*item, r.range) : reply(404, "{}");
    }

    // Dropbox v2.
    if (r.path == "/2/users/get_current_account") {
        return reply(200, json({{"name", {{"display_name", accountName_}}}}).dump());
    }
    if (r.path == "/2/files/list_folder" || r.path == "/2/files/list_folder/continue") {
        json in = json::parse(r.body, nullptr, false);
        std::string folder;
        size_t offset = 0;
        if (r.path == "/2/files/list_folder") {
            if (!in.is_object() || !in.contains("path")) return reply(400, "{}");
            const std::string path = in["path"];
            if (!path.empty()) {
                const Item* f = byPath(path);
                if (!f || !f->folder) return reply(409, "{\"error_summary\":\"path/not_found/\"}");
                folder = f->id;
            }
        } else {
            if (!in.is_object() || !in.contains("cursor")) return reply(400, "{}");
            const std::string cursor = in["cursor"];
            size_t colon = cursor.rfind(':');
            folder = cursor.substr(0, colon);
            offset = std::strtoul(cursor.c_str() + colon + 1, nullptr, 10);
        }
        auto all = children(folder);
        json entries = json::array();
        for (const Item* i : pageOf(all, offset)) {
            json e = {{".tag", i->folder ? "folder" : "file"},
                      {"id", "id:" + i->id},
                      {"name", i->name},
                      {"path_display", pathOf(*i)}};
            if (!i->folder) {
                e["size"] = i->data.size();
                e["server_modified"] = i->modified;
            }
            entries.push_back(e);
        }
        const bool more = offset + page < all.size();
        return reply(200, json({{"entries", entries},
                               {"has_more", more},
                               {"cursor", rootOf(folder) + ":" + std::to_string(offset + page)}})
                             .dump());
    }
    if (r.path == "/2/files/download") {
        json arg = json::parse(r.apiArg, nullptr, false);
        if (!arg.is_object() || !arg.contains("path") || !arg["path"].is_string()) return reply(400, "{}");
        const Item* item = byPath(arg["path"].get<std::string>());
        if (!item || item->folder) return reply(409, "{\"error_summary\":\"path/not_found/\"}");
        Answer a = bytes(*item, r.range);
        a.headers.push_back({"Dropbox-API-Result", json({{"name", item->name}}).dump()});
        return a;
    }
    return reply(404, "{}");
}

}  // namespace test
