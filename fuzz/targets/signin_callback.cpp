// The cloud sign-in's callback listener on 127.0.0.1: while a sign-in is
// pending any local process can reach it, not only the browser. The input is
// what such a process sends on one connection (its writing side then
// closed); "STATE" in it stands for the pending sign-in's own state, so that
// inputs reach the code, error and token exchange paths too. The service's
// addresses all lead to a closed port on loopback.
#include "cloud/CloudClient.h"
#include "cloud/CloudSignIn.h"
#include "cloud/GoogleDriveAPI.h"
#include "fuzz/support/FuzzEnvironment.h"
#include "platform/core/Keychain.h"
#include "platform/core/UserDefaults.h"
#include "platform/ui/RecordingURLOpener.h"

#include <arpa/inet.h>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace {

struct Outcome : CloudClientDelegate {
    void finishAuthorization(CloudClient&, const std::optional<std::string>&, const std::string&) override {}
    void didFinishRecieveFileList(CloudClient&, CloudTicket&, const std::optional<std::vector<sys::PlistDictionary>>&,
                                  bool, const std::optional<std::string>&) override {}
};

std::string stateOf(const std::string& url) {
    const size_t at = url.find("&state=");
    if (at == std::string::npos) return {};
    const size_t from = at + 7;
    return url.substr(from, url.find('&', from) - from);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzEnvironment::setUp();
    static const auto opener = [] {
        sys::Keychain::setShared(sys::Keychain::inMemory());
        // Nothing answers on port 1 of loopback: a code is traded nowhere.
        auto& d = sys::UserDefaults::standard();
        const std::string nowhere = "http://127.0.0.1:1";
        d.setObject(sys::PlistValue(nowhere), "cloud.googledrive.apiBase");
        d.setObject(sys::PlistValue(nowhere), "cloud.googledrive.contentBase");
        d.setObject(sys::PlistValue(nowhere + "/oauth/authorize"), "cloud.googledrive.authURL");
        d.setObject(sys::PlistValue(nowhere + "/oauth/token"), "cloud.googledrive.tokenURL");
        d.setObject(sys::PlistValue(std::string("leafbright-fuzz")), "cloud.googledrive.clientID");
        return ui::RecordingURLOpener::install();
    }();
    opener->opened.clear();

    auto outcome = std::make_shared<Outcome>();
    auto client = std::make_shared<GoogleDriveAPI>("fuzz");
    client->setDelegate(outcome);
    client->checkForAuthorization(nullptr);
    const std::string redirect = CloudSignIn::pendingRedirectURI();
    if (redirect.rfind("http://127.0.0.1:", 0) != 0) std::abort();
    const std::string state = stateOf(CloudSignIn::pendingAuthorizationURL());

    std::string request(reinterpret_cast<const char*>(data), size);
    for (size_t at = request.find("STATE"); at != std::string::npos; at = request.find("STATE", at + state.size()))
        request.replace(at, 5, state);

    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(uint16_t(std::stoi(redirect.substr(17))));
    if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) std::abort();
    FuzzEnvironment::sendAndShutDown(fd, {reinterpret_cast<const uint8_t*>(request.data()), request.size()});
    // The listener answers every connection and closes it.
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    char sink[4096];
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 50) > 0 && ::recv(fd, sink, sizeof sink, 0) <= 0) break;
        if (std::chrono::steady_clock::now() > until) std::abort();  // the listener hangs
    }
    ::close(fd);
    // The request's address reaches the sign-in on the main loop (it was
    // posted before the listener answered); a code starts the token
    // exchange, which the cancel ends.
    FuzzEnvironment::runQueued();
    CloudSignIn::cancelPending();
    FuzzEnvironment::runQueued();
    return 0;
}
