#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

// WinZip's AES encryption of zip entries: keys from the password and the
// entry's salt (PBKDF2 with HMAC-SHA1, 1,000 rounds), a two-byte password
// check, AES in counter mode with a little-endian counter that starts at 1,
// and HMAC-SHA1 over the encrypted bytes, of which the entry keeps the first
// ten as its authentication code.
//
// An entry's bytes are: salt, password check, encrypted data, code.
class ZipAesDecryptor {
public:
    static constexpr size_t kVerifierBytes = 2;
    static constexpr size_t kAuthCodeBytes = 10;

    // 8, 12 or 16 salt bytes for strengths 1, 2 and 3 (128, 192, 256-bit
    // keys); 0 for any other strength.
    static size_t saltBytes(int strength);

    enum class Start { Ok, WrongPassword, Failed };

    ZipAesDecryptor();
    ~ZipAesDecryptor();
    ZipAesDecryptor(const ZipAesDecryptor&) = delete;
    ZipAesDecryptor& operator=(const ZipAesDecryptor&) = delete;

    // Derives the keys; WrongPassword when they do not give `verifier`.
    Start start(int strength, const std::string& password, const unsigned char* salt,
                const unsigned char* verifier);
    // Deciphers the next `size` bytes of the data in place, adding the
    // encrypted bytes to the authentication first.
    bool decrypt(unsigned char* data, size_t size);
    // After all the data: whether `code` is the entry's authentication code.
    bool authenticate(const unsigned char* code);

private:
    struct State;
    std::unique_ptr<State> state_;
};
