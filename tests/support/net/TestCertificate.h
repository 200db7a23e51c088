#pragma once

#include <string>

namespace test {

// A self-signed certificate for 127.0.0.1 and its key, made now by the
// openssl tool in `dir` (cert.pem, key.pem). False when openssl fails.
bool makeSelfSignedCertificate(const std::string& dir, std::string* certFile, std::string* keyFile);

// An nginx/Apache Basic password file with one user (apr1 hash by openssl).
bool writeHtpasswd(const std::string& file, const std::string& user, const std::string& password);

}  // namespace test
