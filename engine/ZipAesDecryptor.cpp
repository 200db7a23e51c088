#include "engine/ZipAesDecryptor.h"

#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/params.h>

#include <algorithm>
#include <cstring>

namespace {
constexpr int kRounds = 1000;
constexpr size_t kBlock = 16;
// Counter blocks enciphered at once.
constexpr size_t kStreamBlocks = 256;
}  // namespace

struct ZipAesDecryptor::State {
    EVP_CIPHER_CTX* cipher = nullptr;
    EVP_MAC* mac = nullptr;
    EVP_MAC_CTX* macCtx = nullptr;
    unsigned char counter[kBlock] = {};
    unsigned char stream[kBlock * kStreamBlocks] = {};
    size_t streamPos = 0, streamLen = 0;

    ~State() {
        EVP_CIPHER_CTX_free(cipher);
        EVP_MAC_CTX_free(macCtx);
        EVP_MAC_free(mac);
    }

    void increment() {
        for (size_t i = 0; i < kBlock && ++counter[i] == 0; ++i) {
        }
    }

    bool refill() {
        unsigned char blocks[kBlock * kStreamBlocks];
        for (size_t b = 0; b < kStreamBlocks; ++b) {
            increment();
            std::memcpy(blocks + b * kBlock, counter, kBlock);
        }
        int out = 0;
        if (EVP_EncryptUpdate(cipher, stream, &out, blocks, int(sizeof blocks)) != 1 || out != int(sizeof blocks))
            return false;
        streamPos = 0;
        streamLen = sizeof blocks;
        return true;
    }
};

size_t ZipAesDecryptor::saltBytes(int strength) {
    switch (strength) {
    case 1: return 8;
    case 2: return 12;
    case 3: return 16;
    default: return 0;
    }
}

ZipAesDecryptor::ZipAesDecryptor() = default;
ZipAesDecryptor::~ZipAesDecryptor() = default;

ZipAesDecryptor::Start ZipAesDecryptor::start(int strength, const std::string& password, const unsigned char* salt,
                                              const unsigned char* verifier) {
    state_.reset();
    const size_t saltLength = saltBytes(strength);
    if (saltLength == 0) return Start::Failed;
    const size_t keyLength = saltLength * 2;
    unsigned char derived[2 * 32 + kVerifierBytes];
    const size_t derivedLength = 2 * keyLength + kVerifierBytes;
    if (PKCS5_PBKDF2_HMAC(password.data(), int(password.size()), salt, int(saltLength), kRounds, EVP_sha1(),
                          int(derivedLength), derived) != 1)
        return Start::Failed;
    const bool match = std::memcmp(derived + 2 * keyLength, verifier, kVerifierBytes) == 0;
    if (!match) {
        OPENSSL_cleanse(derived, sizeof derived);
        return Start::WrongPassword;
    }

    auto s = std::make_unique<State>();
    const EVP_CIPHER* aes = keyLength == 16 ? EVP_aes_128_ecb() : keyLength == 24 ? EVP_aes_192_ecb() : EVP_aes_256_ecb();
    s->cipher = EVP_CIPHER_CTX_new();
    bool ok = s->cipher && EVP_EncryptInit_ex(s->cipher, aes, nullptr, derived, nullptr) == 1 &&
              EVP_CIPHER_CTX_set_padding(s->cipher, 0) == 1;
    s->mac = ok ? EVP_MAC_fetch(nullptr, "HMAC", nullptr) : nullptr;
    s->macCtx = s->mac ? EVP_MAC_CTX_new(s->mac) : nullptr;
    if (s->macCtx) {
        char digest[] = "SHA1";
        OSSL_PARAM params[] = {OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, digest, 0),
                               OSSL_PARAM_construct_end()};
        ok = EVP_MAC_init(s->macCtx, derived + keyLength, keyLength, params) == 1;
    } else {
        ok = false;
    }
    OPENSSL_cleanse(derived, sizeof derived);
    if (!ok) return Start::Failed;
    state_ = std::move(s);
    return Start::Ok;
}

bool ZipAesDecryptor::decrypt(unsigned char* data, size_t size) {
    if (!state_) return false;
    if (size > 0 && EVP_MAC_update(state_->macCtx, data, size) != 1) return false;
    for (size_t i = 0; i < size;) {
        if (state_->streamPos == state_->streamLen && !state_->refill()) return false;
        const size_t take = std::min(size - i, state_->streamLen - state_->streamPos);
        for (size_t k = 0; k < take; ++k) data[i + k] ^= state_->stream[state_->streamPos + k];
        state_->streamPos += take;
        i += take;
    }
    return true;
}

bool ZipAesDecryptor::authenticate(const unsigned char* code) {
    if (!state_) return false;
    unsigned char full[EVP_MAX_MD_SIZE];
    size_t length = 0;
    if (EVP_MAC_final(state_->macCtx, full, &length, sizeof full) != 1 || length < kAuthCodeBytes) return false;
    state_.reset();
    return CRYPTO_memcmp(full, code, kAuthCodeBytes) == 0;
}
