#include "remote/protocols/SmbClientChoice.h"

#include "platform/core/UserDefaults.h"
#include "platform/core/Unicode.h"
#include "remote/protocols/QNSmbClient.h"
#include "remote/protocols/SmbAutoClient.h"

namespace {

// The user default holding, per server, the client that worked with it.
constexpr const char* kRememberedKey = "smbServerClients";
constexpr const char* kSmb1 = "smb1";
constexpr const char* kSmb2 = "smb2";

std::string keyOf(const std::string& server) { return sys::Unicode::lowercase(server); }

}  // namespace

SmbClientChoice::Library SmbClientChoice::libraryOf(const sys::PlistDictionary& siteOptions, int defaultSmbLibrary) {
    const int64_t site = siteOptions.getInteger("smblib");
    if (site == 2) return Library::Own;
    if (site != 0) return Library::Stack;
    switch (defaultSmbLibrary) {
    case 1: return Library::Own;   // "assmb"
    case 2: return Library::Auto;  // "auto"
    default: return Library::Stack;
    }
}

std::shared_ptr<SmbStackClient> SmbClientChoice::makeClient(Library library, int slot) {
    switch (library) {
    case Library::Stack: return SmbStackClient::make(slot);
    case Library::Own: return std::make_shared<QNSmbClient>();
    case Library::Auto: break;
    }
    return std::make_shared<SmbAutoClient>(slot);
}

std::optional<SmbClientChoice::Library> SmbClientChoice::remembered(const std::string& server) {
    auto all = sys::UserDefaults::standard().dictionaryForKey(kRememberedKey);
    if (!all) return std::nullopt;
    const std::string v = all->getString(keyOf(server));
    if (v == kSmb1) return Library::Own;
    if (v == kSmb2) return Library::Stack;
    return std::nullopt;
}

void SmbClientChoice::remember(const std::string& server, Library worked) {
    if (worked == Library::Auto || remembered(server) == worked) return;
    auto& defaults = sys::UserDefaults::standard();
    auto all = defaults.dictionaryForKey(kRememberedKey).value_or(sys::PlistDictionary());
    all.set(keyOf(server), sys::PlistValue(std::string(worked == Library::Own ? kSmb1 : kSmb2)));
    defaults.setObject(sys::PlistValue(all), kRememberedKey);
    defaults.synchronize();
}

void SmbClientChoice::forget(const std::string& server) {
    auto& defaults = sys::UserDefaults::standard();
    auto all = defaults.dictionaryForKey(kRememberedKey);
    if (!all || !all->contains(keyOf(server))) return;
    all->remove(keyOf(server));
    defaults.setObject(sys::PlistValue(*all), kRememberedKey);
    defaults.synchronize();
}
