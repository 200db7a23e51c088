#pragma once

#include <string>

namespace test {

class NginxServer;

// A self-signed certificate for 127.0.0.1 and its key, made now by the
// openssl tool in `dir` (cert.pem, key.pem). False when openssl fails.
bool makeSelfSignedCertificate(const std::string& dir, std::string* certFile, std::string* keyFile);

// The public key of a PEM certificate as the HTTP client names a trusted
// one: "sha256//" and the base64 of the SHA-256 of its SubjectPublicKeyInfo,
// worked out by the openssl tool. "" when that fails.
std::string publicKeyOf(const std::string& certFile);

// An nginx/Apache Basic password file with one user (apr1 hash by openssl).
bool writeHtpasswd(const std::string& file, const std::string& user, const std::string& password);

// Readies `nginx` (before its start) to list folders over TLS with a
// certificate made in `dir`, its /locked/ folder behind Basic authentication
// for `user` and `password`; `moreServerConfig` adds server-level directives.
// False when openssl fails.
bool lockedFolderOverTls(NginxServer& nginx, const std::string& dir, const std::string& user,
                         const std::string& password, const std::string& moreServerConfig = "");

}  // namespace test
