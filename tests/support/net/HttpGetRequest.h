#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace test {

// One HTTP/1.1 GET over a plain loopback socket, for tests only: the test
// range loader and tests that look at a server's answers. One request per
// connection ("Connection: close"). Every wait is a short poll that gives up
// as soon as `stop` says so, so a stalled server never holds a test.
class HttpGetRequest {
public:
    using StopTest = std::function<bool()>;

    HttpGetRequest() = default;
    ~HttpGetRequest();
    HttpGetRequest(const HttpGetRequest&) = delete;
    HttpGetRequest& operator=(const HttpGetRequest&) = delete;

    // Connects to the URL's host and port (http only), sends the request with
    // the extra header lines ("Range: bytes=0-9") and reads the status line
    // and the headers. False when any of that fails or `stop` turned true.
    bool open(const std::string& url, const std::vector<std::string>& headers = {}, StopTest stop = {},
              const std::string& method = "GET");

    int status() const { return status_; }
    // Header by lower-case name; "" when absent.
    std::string header(const std::string& lowerName) const;
    // The Content-Length, or -1 when the response has none.
    int64_t contentLength() const;

    // Reads body bytes: the count, 0 at the end of the body, -1 when the
    // connection failed or `stop` turned true.
    int64_t read(char* buffer, size_t capacity);
    // The whole (remaining) body; false when it did not arrive complete.
    bool readAll(std::string& body, size_t limit = 64u << 20);

    void close();

private:
    bool waitReadable();

    int fd_ = -1;
    int status_ = 0;
    std::map<std::string, std::string> headers_;
    std::string pending_;  // body bytes read with the headers
    int64_t remaining_ = -1;
    StopTest stop_;
};

}  // namespace test
