#pragma once

#include "platform/core/PlistDictionary.h"
#include "remote/protocols/SmbStackClient.h"

#include <memory>
#include <optional>
#include <string>

// The one place where the program chooses its SMB client, for listings,
// streams, page fetches and downloads alike.
//
// The site's option "smblib" decides first (2: our SMB1 client; any other
// non-zero value: the SMB2/3 client of the stack); without it the global
// setting does ("assmb": SMB1; "auto2" or an unknown value: SMB2/3; "auto",
// the default: automatic). Automatic means SMB2/3 wherever the server offers
// it and our SMB1 client only where it speaks nothing newer, asked of the
// server once and remembered for it (host and port) across runs.
class SmbClientChoice {
public:
    enum class Library { Stack, Own, Auto };

    // `defaultSmbLibrary` is Settings::defaultSmbLibrary() (0 when there are none).
    static Library libraryOf(const sys::PlistDictionary& siteOptions, int defaultSmbLibrary);

    // A client for `slot` (0 listings and streams, 1 downloads): the stack's
    // client, ours, or one that chooses per server (SmbAutoClient). Nothing
    // when the stack is asked for and none is registered.
    static std::shared_ptr<SmbStackClient> makeClient(Library library, int slot);

    // What worked with `server` ("host" or "host:port"), Stack or Own.
    static std::optional<Library> remembered(const std::string& server);
    static void remember(const std::string& server, Library worked);
    static void forget(const std::string& server);
};
