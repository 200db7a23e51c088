#pragma once

#include <string>
#include <vector>

// What one HTTP exchange asks for. Plain data: the client layer copies it.
struct HttpRequest {
    std::string method = "GET";
    std::string url;
    // Extra header lines, "Name: value".
    std::vector<std::string> headers;
    std::string body;
    // Basic or Digest (whichever the server asks for) when either is set.
    std::string userName;
    std::string password;
    // Skips the certificate check. Callers set it only for a server the user
    // chose to trust.
    bool allowUntrustedCertificate = false;
    int maxRedirects = 10;
    double connectTimeout = 30;
    // A transfer that moves less than one byte a second for this long fails.
    double lowSpeedTime = 60;
    // Sends the credentials with the first request (Basic) instead of waiting
    // for the server's challenge: for a site already known to want Basic.
    bool preemptiveBasic = false;

    // Replaces or adds one header line by name (case-insensitive).
    void setHeader(const std::string& name, const std::string& value);
    void removeHeader(const std::string& name);
    std::string header(const std::string& name) const;
};
