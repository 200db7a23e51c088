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
// dropbox, box.
enum class CloudService { GoogleDrive, OneDrive, Dropbox, Box };

struct CloudEndpoints {
    std::string apiBase;      // listings and metadata, no trailing "/"
    std::string contentBase;  // file bytes (Dropbox has its own host)
    std::string authURL;      // the browser's sign-in page
    std::string tokenURL;     // code and refresh-token exchange
    std::string clientID;
    // Only for services that want one even from a desktop program.
    std::string clientSecret;
    std::string scope;

    static CloudEndpoints forService(CloudService service);
    // "googledrive", "onedrive", "dropbox", "box".
    static const char* name(CloudService service);
    // By URL scheme ("googledrive://..." and so on); nothing for others.
    static std::optional<CloudService> fromURL(const std::string& url);
};
