#pragma once

#include <optional>
#include <string>
#include <vector>

// The program's one door to the key chain: every secret (site passwords,
// remembered server passwords, cloud tokens, the startup pass phrase) is a
// UTF-8 string stored under a service and an account.
//
// Remembered server passwords are keyed by folder: the service is the
// folder's URL key (formatURL), so a password given for one folder is found
// again for every folder below it.
//
// Stateless; the key chain serialises access, so any thread may call.
// Failures come back as false or nothing; nothing is shown or logged.
class QNKeyChain {
public:
    QNKeyChain() = delete;

    using OptString = std::optional<std::string>;

    // The stored value; nothing when an argument is missing or no item matches.
    static OptString getPasswordWithAccount(const OptString& account, const OptString& service);
    // Whether the store can tell: a locked or unanswering secret store is not
    // "nothing stored", and a lock that depends on the item must not open for it.
    enum class Lookup { Found, NotFound, Unavailable };
    static Lookup lookupPasswordWithAccount(const std::string& account, const std::string& service,
                                            std::string* value);
    // Adds the item, or updates every item of the service (and, unless
    // isAnyAccount, of the account); with isAnyAccount the account is renamed.
    static bool addOrUpdatePassword(const std::string& password, const std::string& account,
                                    const std::string& service, bool isAnyAccount = false);
    static bool deletePasswordWithAccount(const std::string& account, const std::string& service);
    // Deletes every item of the service.
    static bool deletePassword(const std::string& service);
    // Deletes every item the program keeps.
    static void deleteAll();
    // The services of all items, in the key chain's order.
    static std::vector<std::string> listAllURL();

    // "scheme://host:port/path" of the URL, the port defaulted (80 for http,
    // 0 otherwise; smb's own port 445 is 0 too) and the path without its trailing "/";
    // nothing when the URL does not parse.
    static OptString formatURL(const std::string& url);
    // The same form for the parent folder (the URL's own port, 0 when none);
    // nothing when there is no URL or its path is "/" or "".
    static OptString urlDeleteLastPathCompornent(const std::string& url);
    // Drops one trailing "/".
    static std::string removeLastPathChar(const std::string& s);
    // The folder key addOrUpdateAccountWithURL keeps the URL's password under.
    static OptString folderKeyOfURL(const std::string& url);

    // Remembers user and password for the URL's folder (one item per folder:
    // a new user for the same folder replaces the old one).
    static bool addOrUpdateAccountWithURL(const std::string& url, const std::string& user,
                                          const std::string& password);
    // Forgets what addOrUpdateAccountWithURL remembered for the URL's folder
    // under this user, and nothing else (not the folders above it).
    static bool deleteAccountWithURL(const std::string& url, const std::string& user);
    // Finds the password remembered for the URL's folder or one above it; the
    // first stored item that matches at any level wins. Returns the matched
    // key and fills user and password; nothing (and both set to nothing) when
    // none matches; nothing with both untouched when the key chain is empty
    // or cannot be read.
    static OptString getAccountWithURL(const std::string& url, OptString* user, OptString* password);
    // Forgets the password getAccountWithURL would give for the URL: the
    // items of the folder found for it. While the secret store is locked
    // (and cannot say which folder that is) what the fallback file keeps for
    // the URL's folder or any folder above it goes. False when the URL has
    // no key.
    static bool deleteAccountWithURL(const std::string& url);
};
