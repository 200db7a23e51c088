#include "tests/support/net/TestCertificate.h"

#include "tests/support/net/NginxServer.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>

namespace test {

bool makeSelfSignedCertificate(const std::string& dir, std::string* certFile, std::string* keyFile) {
    *certFile = dir + "/cert.pem";
    *keyFile = dir + "/key.pem";
    std::string cmd = "openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=127.0.0.1 "
                      "-addext subjectAltName=IP:127.0.0.1 -keyout '" +
                      *keyFile + "' -out '" + *certFile + "' >/dev/null 2>&1";
    return std::system(cmd.c_str()) == 0;
}

std::string publicKeyOf(const std::string& certFile) {
    std::string cmd = "openssl x509 -in '" + certFile +
                      "' -pubkey -noout | openssl pkey -pubin -outform DER | openssl dgst -sha256 -binary | "
                      "openssl base64 -A";
    FILE* p = ::popen(cmd.c_str(), "r");
    if (!p) return {};
    std::array<char, 256> buf{};
    std::string out;
    while (std::fgets(buf.data(), int(buf.size()), p)) out += buf.data();
    if (::pclose(p) != 0) return {};
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
    return out.size() == 44 ? "sha256//" + out : std::string();
}

bool writeHtpasswd(const std::string& file, const std::string& user, const std::string& password) {
    std::string cmd = "openssl passwd -apr1 '" + password + "'";
    FILE* p = ::popen(cmd.c_str(), "r");
    if (!p) return false;
    std::array<char, 256> buf{};
    std::string hash;
    while (std::fgets(buf.data(), int(buf.size()), p)) hash += buf.data();
    if (::pclose(p) != 0 || hash.empty()) return false;
    while (!hash.empty() && (hash.back() == '\n' || hash.back() == '\r')) hash.pop_back();
    std::ofstream out(file, std::ios::trunc);
    out << user << ":" << hash << "\n";
    return bool(out);
}

bool lockedFolderOverTls(NginxServer& nginx, const std::string& dir, const std::string& user,
                         const std::string& password, const std::string& moreServerConfig) {
    std::string cert, key;
    if (!makeSelfSignedCertificate(dir, &cert, &key) || !writeHtpasswd(dir + "/htpasswd", user, password)) return false;
    nginx.setTls(cert, key);
    nginx.setLocationConfig("autoindex on;");
    nginx.setServerConfig("location /locked/ { autoindex on; auth_basic \"b\"; auth_basic_user_file " + dir +
                          "/htpasswd; }" + (moreServerConfig.empty() ? "" : "\n" + moreServerConfig));
    return true;
}

}  // namespace test
