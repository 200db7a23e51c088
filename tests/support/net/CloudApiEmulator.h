#pragma once

#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace test {

// The four cloud drives' public HTTP APIs as the program uses them, on
// 127.0.0.1, for the cloud tests: Drive v3 file lists and media, Graph
// children and content (content answers 302 to a "pre-authenticated"
// address on another emulator, which refuses a bearer token), Box 2.0
// folder items and content, Dropbox v2 list_folder/continue and download,
// each service's account question, an OAuth authorization page that
// redirects at once with a code, and a token endpoint (authorization code
// with a PKCE check, refresh tokens that rotate). Listings come in pages of
// pageSize items; downloads honour single byte ranges. All four share one
// store of items; the root is "root" for Drive, "0" for Box.
class CloudApiEmulator {
public:
    struct Request {
        std::string method, path, query, authorization, range, body, apiArg;
        int status = 0;
    };

    CloudApiEmulator();
    ~CloudApiEmulator();
    CloudApiEmulator(const CloudApiEmulator&) = delete;
    CloudApiEmulator& operator=(const CloudApiEmulator&) = delete;

    bool start();
    void stop();
    int port() const { return port_; }
    // "http://127.0.0.1:<port>" + path.
    std::string url(const std::string& path = "") const;

    // Items: ids are the services' ids; "root" (also "0") is the top.
    void addFolder(const std::string& parent, const std::string& id, const std::string& name);
    void addFile(const std::string& parent, const std::string& id, const std::string& name, const std::string& bytes,
                 const std::string& modified = "2024-05-01T10:20:30Z", bool trashed = false);
    void setPageSize(int n);
    // Where Graph's content redirects ("<base>/pre/<id>"); "" serves it here.
    void setPreauthorizedBase(const std::string& base);

    // Tokens: a pair valid now; expireAccessTokens() makes every access
    // token answer 401; refreshing and exchanging codes need clientId.
    void addTokens(const std::string& access, const std::string& refresh);
    void expireAccessTokens();
    // The same, once `requests` more requests have been answered with a token.
    void expireAccessTokensAfter(int requests);
    void revokeRefreshTokens();
    void setClientId(const std::string& id);
    void setAccountName(const std::string& name);

    // Points the four services' addresses and client ids (user defaults)
    // at this emulator; forgetServiceSettings() puts the defaults back.
    void useForAllServices() const;
    static void forgetServiceSettings();

    // Answers to requests whose path starts with `pathPrefix` send their
    // head and then their body one byte every `dripMs` milliseconds, or,
    // with dripMs below 0, nothing more (until the client goes or the
    // emulator stops). An empty prefix holds nothing back.
    void holdAnswers(const std::string& pathPrefix, int dripMs);

    std::vector<Request> requests() const;
    size_t count(const std::string& pathPrefix) const;
    void clearRequests();

private:
    struct Item {
        std::string id, parent, name, data, modified;
        bool folder = false, trashed = false;
    };
    struct Answer {
        int status = 200;
        std::vector<std::pair<std::string, std::string>> headers;
        std::string body;
    };
    void acceptLoop();
    void serve(int fd);
    Answer route(Request& r);
    Answer reply(int status, const std::string& body) const;
    Answer bytes(const Item& item, const std::string& range) const;
    bool authorized(const Request& r) const;
    std::vector<const Item*> children(const std::string& folder) const;
    const Item* find(const std::string& id) const;
    const Item* byPath(const std::string& path) const;
    std::string pathOf(const Item& item) const;

    mutable std::mutex mutex_;
    std::map<std::string, Item> items_;
    std::vector<std::string> order_;
    std::map<std::string, bool> access_;   // token -> valid
    std::map<std::string, bool> refresh_;  // token -> valid
    std::map<std::string, std::pair<std::string, std::string>> codes_;  // code -> challenge, redirect
    std::vector<Request> log_;
    std::string clientId_ = "leafbright-test", accountName_ = "Reader", preBase_;
    int pageSize_ = 2;
    std::string heldPrefix_;
    int heldDripMs_ = -1;
    int expireAfter_ = -1;
    int serial_ = 0;
    int listenFd_ = -1;
    int wakeFd_[2] = {-1, -1};
    int port_ = 0;
    std::thread acceptor_;
    std::vector<std::thread> connections_;
};

}  // namespace test
