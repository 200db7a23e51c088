#include "remote/protocols/QNSsdp.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <curl/curl.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <netinet/in.h>
#include <poll.h>
#include <set>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include "platform/core/Clock.h"
#include "platform/core/RunLoop.h"

struct QNSsdp::Delivery {
    // Recursive: the delegate may stop the search or set another delegate
    // from inside its report.
    std::recursive_mutex m;
    QNSsdpDelegate* delegate = nullptr;
    bool cancelled = false;
};

namespace {

constexpr size_t kReceiveLength = 2047;
constexpr size_t kMaxQueuedAnswers = 1024;

bool validUtf8(const std::string& s) {
    size_t i = 0;
    while (i < s.size()) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        size_t more;
        if (c < 0x80)
            more = 0;
        else if (c >= 0xC2 && c <= 0xDF)
            more = 1;
        else if ((c & 0xF0) == 0xE0)
            more = 2;
        else if (c >= 0xF0 && c <= 0xF4)
            more = 3;
        else
            return false;
        if (s.size() - i - 1 < more) return false;
        for (size_t k = 1; k <= more; ++k) {
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
        }
        i += more + 1;
    }
    return true;
}

std::string upper(std::string s) {
    for (char& c : s) {
        if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
    }
    return s;
}

std::string trim(const std::string& s) {
    size_t b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos) return "";
    size_t e = s.find_last_not_of(" \t\r\n");
    return s.substr(b, e - b + 1);
}

struct Fetched {
    std::string body;
    bool tooLong = false;
    const std::atomic<bool>* exit = nullptr;
};

size_t collect(char* data, size_t size, size_t count, void* user) {
    auto* f = static_cast<Fetched*>(user);
    size_t n = size * count;
    if (f->body.size() + n > QNSsdp::kMaxDescriptionBytes) {
        f->tooLong = true;
        return 0;  // ends the transfer with an error
    }
    f->body.append(data, n);
    return n;
}

int progress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    auto* f = static_cast<Fetched*>(user);
    return f->exit->load() ? 1 : 0;
}

std::optional<std::string> findName(xmlNode* node) {
    for (; node; node = node->next) {
        if (node->type != XML_ELEMENT_NODE) continue;
        if (node->name && std::strcmp(reinterpret_cast<const char*>(node->name), "friendlyName") == 0) {
            xmlChar* content = xmlNodeGetContent(node);
            std::string text = content ? trim(reinterpret_cast<const char*>(content)) : "";
            if (content) xmlFree(content);
            if (!text.empty()) return text;
        }
        if (auto inner = findName(node->children)) return inner;
    }
    return std::nullopt;
}

}  // namespace

QNSsdp::QNSsdp() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    delivery_ = std::make_shared<Delivery>();
    wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

QNSsdp::~QNSsdp() {
    stopSearch();
    if (wakeFd_ >= 0) ::close(wakeFd_);
}

void QNSsdp::setDelegate(QNSsdpDelegate* delegate) {
    std::lock_guard<std::mutex> g(mutex_);
    std::lock_guard<std::recursive_mutex> d(delivery_->m);
    delivery_->delegate = delegate;
}

void QNSsdp::setNetworkInfo(std::shared_ptr<const QNNetworkInfo> info) {
    std::lock_guard<std::mutex> g(mutex_);
    networkInfo_ = std::move(info);
}

QNSsdp::Answer QNSsdp::parseAnswer(const char* data, size_t length, const std::string& senderAddress) {
    Answer answer;
    std::string text(data, length);
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find_first_of("\r\n", at);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(at, end - at);
        at = end;
        if (at < text.size() && text[at] == '\r') ++at;
        if (at < text.size() && text[at] == '\n') ++at;
        size_t colon = line.find(':');
        if (colon == std::string::npos || !validUtf8(line)) continue;
        std::string value = line.substr(colon + 1);
        if (!value.empty() && value[0] == ' ') value.erase(0, 1);
        answer[upper(line.substr(0, colon))] = value;
    }
    answer["address"] = senderAddress;
    return answer;
}

bool QNSsdp::locationAllowed(const std::string& location, const std::string& senderAddress) {
    const std::string scheme = "http://";
    if (location.size() <= scheme.size() || upper(location.substr(0, scheme.size())) != upper(scheme)) return false;
    size_t hostEnd = location.find_first_of("/?#", scheme.size());
    std::string authority = location.substr(scheme.size(), hostEnd - scheme.size());
    if (authority.find('@') != std::string::npos) return false;
    std::string host = authority.substr(0, authority.find(':'));
    if (authority.find(':') != std::string::npos) {
        std::string port = authority.substr(authority.find(':') + 1);
        if (port.empty() || port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos) {
            return false;
        }
    }
    return !host.empty() && host == senderAddress;
}

std::optional<std::string> QNSsdp::friendlyName(const std::string& xml) {
    if (xml.empty() || xml.size() > kMaxDescriptionBytes) return std::nullopt;
    // No network, no entity substitution, no external DTD: the document is
    // read as it stands.
    xmlDoc* doc = xmlReadMemory(xml.data(), int(xml.size()), nullptr, nullptr,
                                XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
    if (!doc) return std::nullopt;
    auto name = findName(xmlDocGetRootElement(doc));
    xmlFreeDoc(doc);
    return name;
}

bool QNSsdp::startSearch() {
    if (running_) return false;
    std::shared_ptr<Delivery> delivery;
    {
        std::lock_guard<std::mutex> g(mutex_);
        exit_ = false;
        timedOut_ = false;
        if (!networkInfo_) networkInfo_ = std::make_shared<QNNetworkInfo>();
        locationList_.clear();
        auto fresh = std::make_shared<Delivery>();
        {
            std::lock_guard<std::recursive_mutex> d(delivery_->m);
            fresh->delegate = delivery_->delegate;
        }
        delivery_ = fresh;
        delivery = fresh;
        uint64_t v;
        while (::read(wakeFd_, &v, sizeof v) > 0) {
        }
    }

    // The Wi-Fi interface: the first "en0" with an address, a mask and a
    // broadcast address that is not the loopback or a host route.
    uint32_t interfaceAddress = 0;
    if (networkInfo_->info()) {
        for (const auto& e : *networkInfo_->info()) {
            auto get = [&](const char* k) {
                auto it = e.find(k);
                return it == e.end() ? std::string() : it->second;
            };
            if (get("interface") != "en0" || get("ipv4addr").empty() || get("ipv4mask").empty() ||
                get("ipv4broadcast").empty() || get("ipv4addr") == "127.0.0.1" ||
                get("ipv4mask") == "255.255.255.255") {
                continue;
            }
            in_addr a{};
            if (::inet_aton(get("ipv4addr").c_str(), &a)) interfaceAddress = a.s_addr;
            break;
        }
    }

    running_ = true;
    receiveThread_ = sys::Thread(
        [this, interfaceAddress](const std::atomic<bool>&) {
            sys::Clock::IdleScope idle;
            receive(interfaceAddress);
        },
        "ssdp-receive");
    describeThread_ = sys::Thread([this, delivery](const std::atomic<bool>&) { describe(delivery); },
                                  "ssdp-describe");
    return true;
}

void QNSsdp::receive(uint32_t interfaceAddress) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(kSearchSeconds);
    auto waitUntilDeadline = [&](int fd) {
        // Returns when a datagram is ready (true) or the search is over.
        for (;;) {
            if (exit_) return false;
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                              std::chrono::steady_clock::now());
            if (left.count() <= 0) return false;
            pollfd p[2] = {{wakeFd_, POLLIN, 0}, {fd, POLLIN, 0}};
            int r = ::poll(p, fd >= 0 ? 2 : 1, int(left.count()) + 1);
            if (r < 0 && errno == EINTR) continue;
            if (r < 0 || p[0].revents) return false;
            if (r > 0) return true;
        }
    };

    int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    int on = 1;
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(kLocalPort);
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    bool ready = fd >= 0 && ::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) == 0 &&
                 ::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0 && interfaceAddress != 0;
    if (ready) {
        // Out of the Wi-Fi interface, whatever the routing table prefers.
        in_addr out{};
        out.s_addr = interfaceAddress;
        ready = ::setsockopt(fd, IPPROTO_IP, IP_MULTICAST_IF, &out, sizeof out) == 0;
    }
    if (ready) {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(1900);
        to.sin_addr.s_addr = inet_addr("239.255.255.250");
        ready = ::sendto(fd, kSearchRequest, std::strlen(kSearchRequest), 0, reinterpret_cast<sockaddr*>(&to),
                         sizeof to) >= 0;
    }
    if (!ready && fd >= 0) {
        ::close(fd);
        fd = -1;
    }

    char buffer[kReceiveLength + 1];
    while (waitUntilDeadline(fd)) {
        sockaddr_in from{};
        socklen_t fromLength = sizeof from;
        std::memset(buffer, 0, sizeof buffer);
        ssize_t n = ::recvfrom(fd, buffer, kReceiveLength, 0, reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (n < 0) {
            if (errno == EINTR) continue;
            break;
        }
        char sender[INET_ADDRSTRLEN] = {};
        ::inet_ntop(AF_INET, &from.sin_addr, sender, sizeof sender);
        Answer answer = parseAnswer(buffer, size_t(n), sender);
        std::lock_guard<std::mutex> g(mutex_);
        // A flood of answers must not grow the queue without end.
        if (locationList_.size() >= kMaxQueuedAnswers) continue;
        locationList_.push_back(std::move(answer));
        changed_.notify_all();
    }
    if (fd >= 0) ::close(fd);
    // Without a socket the search still lasts its time, as a search that
    // heard nothing would.
    while (waitUntilDeadline(-1)) {
    }
    std::lock_guard<std::mutex> g(mutex_);
    timedOut_ = true;
    changed_.notify_all();
}

void QNSsdp::describe(std::shared_ptr<Delivery> delivery) {
    std::set<std::string> fetched;
    for (;;) {
        Answer answer;
        {
            std::unique_lock<std::mutex> g(mutex_);
            {
                sys::Clock::IdleScope idle;
                changed_.wait(g, [this] { return exit_ || timedOut_ || !locationList_.empty(); });
            }
            // Answers still queued when the time is up are dropped.
            if (exit_ || timedOut_) return;
            answer = std::move(locationList_.front());
            locationList_.pop_front();
        }
        auto location = answer.find("LOCATION");
        auto address = answer.find("address");
        if (location == answer.end() || address == answer.end()) continue;
        if (!fetched.insert(location->second).second) continue;
        if (!locationAllowed(location->second, address->second)) continue;
        auto body = fetch(location->second);
        if (exit_) return;
        if (!body) continue;
        auto name = friendlyName(*body);
        if (!name) continue;
        // Handed over without waiting: stopSearch() on the main thread waits
        // for this thread.
        sys::RunLoop::main().post([delivery, addr = address->second, name = *name] {
            std::lock_guard<std::recursive_mutex> d(delivery->m);
            if (!delivery->cancelled && delivery->delegate) delivery->delegate->didFindDevice(addr, name);
        });
    }
}

std::optional<std::string> QNSsdp::fetch(const std::string& location) {
    CURL* curl = curl_easy_init();
    if (!curl) return std::nullopt;
    Fetched f;
    f.exit = &exit_;
    curl_easy_setopt(curl, CURLOPT_URL, location.c_str());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http");
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(curl, CURLOPT_NOPROXY, "*");
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, 3000L);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, collect);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &f);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, progress);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &f);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    CURLcode rc = curl_easy_perform(curl);
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    curl_easy_cleanup(curl);
    if (rc != CURLE_OK || f.tooLong || status < 200 || status > 299 || f.body.empty()) return std::nullopt;
    return f.body;
}

void QNSsdp::stopSearch() {
    if (!running_) return;
    {
        std::lock_guard<std::mutex> g(mutex_);
        exit_ = true;
        uint64_t one = 1;
        ssize_t r = ::write(wakeFd_, &one, sizeof one);
        (void)r;
        changed_.notify_all();
        std::lock_guard<std::recursive_mutex> d(delivery_->m);
        delivery_->cancelled = true;
    }
    if (receiveThread_.joinable()) receiveThread_.join();
    if (describeThread_.joinable()) describeThread_.join();
    running_ = false;
}
