#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

// What web servers asked of this client's credentials, kept per origin
// (scheme, host, port) and user for the life of the process, so that later
// requests to a site answer from their first request instead of after a 401:
// Basic is sent at once where a password may travel in the clear (TLS or
// loopback), Digest reuses the server's nonce, counting requests on it,
// until the server says the nonce is stale. Thread-safe.
class HttpAuthCache {
public:
    // One challenge of a WWW-Authenticate header: the scheme in lower case
    // and its parameters (names in lower case, quoted values unquoted).
    struct Challenge {
        std::string scheme;
        std::map<std::string, std::string> params;
        std::string param(const std::string& name) const {
            auto it = params.find(name);
            return it == params.end() ? std::string() : it->second;
        }
    };

    // The challenges of one or several WWW-Authenticate values.
    static std::vector<Challenge> parseChallenges(const std::vector<std::string>& headerValues);

    // After `user`'s credentials were accepted by the server of `url`, which
    // had asked with `challenges`: remembers the scheme the client answered
    // (Digest when offered in a form this client can answer, else Basic).
    // `nonceUses` is how many requests already carried the Digest nonce.
    static void remember(const std::string& url, const std::string& user, const std::vector<Challenge>& challenges,
                         uint32_t nonceUses = 1);
    // A Digest answer was refused because its nonce went stale: the new
    // nonce of `challenges` replaces it. False when they hold none.
    static bool renewNonce(const std::string& url, const std::string& user, const std::vector<Challenge>& challenges);
    static void forget(const std::string& url, const std::string& user);
    // Everything (tests).
    static void clear();

    enum class Answer { None, Basic, Digest };
    // How to answer the first request to `url` with these credentials:
    // Basic (the caller lets its client send Basic at once), Digest with the
    // header value to send in `authorization`, or None (wait for a challenge).
    static Answer answerFor(const std::string& method, const std::string& url, const std::string& user,
                            const std::string& password, std::string* authorization);

    // The "Authorization" value answering a Digest challenge (RFC 7616:
    // MD5 and SHA-256, their "-sess" forms, qop "auth" or none); nothing for
    // a challenge this client cannot answer. `uri` is the request target as
    // sent, `nc` the count of requests on this nonce, `cnonce` the client's.
    static std::optional<std::string> digestAuthorization(const Challenge& challenge, const std::string& method,
                                                          const std::string& uri, const std::string& user,
                                                          const std::string& password, uint32_t nc,
                                                          const std::string& cnonce);
    // Whether a password may be sent before any challenge: over TLS, or to
    // this machine.
    static bool mayPreemptBasic(const std::string& url);
};
