#pragma once

#include <optional>
#include <string>

// The four cloud drives, their addresses and the program's client ids. The
// addresses default to the services' public endpoints; every value can be
// replaced in the user defaults (a test points them at loopback emulators,
// a packager supplies the client ids: the program ships no secret).
//
// Defaults keys: "cloud.<name>.apiBase", ".contentBase", ".authURL",
// ".tokenURL", ".clientID", ".clientSecret", ".scope", with <name> one of googledrive, onedrive,
// dropbox, box. A client secret does not stay in the defaults file: it is
// moved into the key chain (service kClientSecretService, account <name>)
// the first time it is read, and read from there.
enum class CloudService { GoogleDrive, OneDrive, Dropbox, Box };

struct CloudEndpoints {
    static constexpr const char* kClientSecretService = "cloud.clientSecret";

    std::string apiBase;      // listings and metadata, no trailing "/"
    std::string contentBase;  // file bytes (Dropbox has its own host)
    std::string authURL;      // the browser's sign-in page
    std::string tokenURL;     // code and refresh-token exchange
    std::string clientID;
    std::string scope;

    // Read from the defaults alone: every request of a cloud file asks.
    static CloudEndpoints forService(CloudService service);
    // The client secret, only for services that want one even from a
    // desktop program; "" when none is set. Read from the key chain, so
    // only where a token is asked for.
    static std::string clientSecret(CloudService service);
    // Moves every client secret found in the defaults into the key chain (at
    // start-up, so that none stays in the file).
    static void moveClientSecretsToKeyChain();
    // "googledrive", "onedrive", "dropbox", "box".
    static const char* name(CloudService service);
    // By URL scheme ("googledrive://..." and so on); nothing for others.
    static std::optional<CloudService> fromURL(const std::string& url);
};
