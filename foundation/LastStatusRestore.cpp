#include "foundation/LastStatusRestore.h"

#include "foundation/BookCommon.h"
#include "foundation/FilelistItem.h"
#include "foundation/QNKeyChain.h"
#include "foundation/RemoteFileListState.h"
#include "foundation/RemoteStackStatus.h"
#include "platform/core/AppPaths.h"
#include "platform/core/FileManager.h"
#include "platform/core/Path.h"
#include "platform/core/PropertyList.h"

namespace {

struct State {
    int restoreMode = 0;
    bool jumpMode = false;
    bool forceEnableGotoLastFolder = false;
    bool tryRemoteDone = false;
    std::optional<std::string> jumpBook;
    std::optional<std::string> remoteFolder;
    std::optional<std::string> remoteFolderTitle;
};

State& state() {
    static State s;
    return s;
}

// What a value takes in the XML the property-list writer makes (one element
// a line, indented with a tab a level), near enough to tell a list that
// could never be read back (PropertyList::kMaxFileSize) before anything of
// it is copied.
uint64_t escapedBytes(const std::string& s) {
    uint64_t n = s.size();
    for (char c : s) {
        if (c == '&') n += 4;
        else if (c == '<' || c == '>') n += 3;
        else if (c == '"' || c == '\'') n += 5;
    }
    return n;
}

uint64_t xmlBytes(const sys::PlistValue& v, uint64_t depth);

uint64_t xmlBytes(const std::string& s, uint64_t depth) { return depth + 18 + escapedBytes(s); }

uint64_t xmlBytes(const sys::PlistDictionary& d, uint64_t depth) {
    uint64_t n = 2 * depth + 16;
    for (const auto& [key, value] : d) n += depth + 13 + escapedBytes(key) + xmlBytes(value, depth + 1);
    return n;
}

uint64_t xmlBytes(const sys::PlistValue& v, uint64_t depth) {
    switch (v.type()) {
    case sys::PlistValue::Type::String: return xmlBytes(v.asString(), depth);
    case sys::PlistValue::Type::Dictionary: return xmlBytes(v.asDictionary(), depth);
    case sys::PlistValue::Type::Array: {
        uint64_t n = 2 * depth + 18;
        for (const auto& e : v.asArray()) n += xmlBytes(e, depth + 1);
        return n;
    }
    case sys::PlistValue::Type::Data: return depth + 16 + (v.asData().size() + 2) / 3 * 4 * 2;
    default: return depth + 48;
    }
}

std::vector<std::string> components(const std::string& path) {
    std::vector<std::string> out;
    size_t start = 0;
    while (start <= path.size()) {
        size_t slash = path.find('/', start);
        if (slash == std::string::npos) slash = path.size();
        out.push_back(path.substr(start, slash - start));
        start = slash + 1;
    }
    if (path.empty()) out.clear();
    return out;
}

void removeFilesWithExtension(const std::string& folder, const std::string& extension) {
    auto names = sys::FileManager::contentsOfDirectory(folder);
    if (!names) return;
    for (const auto& name : *names) {
        if (sys::Path::pathExtension(name) == extension) sys::FileManager::removeItem(folder + "/" + name);
    }
}

bool writeState(const sys::PlistDictionary& d) {
    return sys::PropertyList::writeFile(sys::PlistValue(d), LastStatusRestore::getSettingFile());
}

}  // namespace

std::string LastStatusRestore::getSettingFile() { return sys::AppPaths::library() + "/laststatus.lbconfig"; }

std::string LastStatusRestore::getRemoteSettingFile(long level) {
    return sys::AppPaths::library() + "/r_" + std::to_string(level) + ".remotestatus";
}

void LastStatusRestore::setRestoreMode(int mode) { state().restoreMode = mode; }
int LastStatusRestore::getRestoreMode() { return state().restoreMode; }
void LastStatusRestore::setJumpMode(bool on) { state().jumpMode = on; }
bool LastStatusRestore::getJumpMode() { return state().jumpMode; }
void LastStatusRestore::setForceEnableGotoLastFoler(bool on) { state().forceEnableGotoLastFolder = on; }
bool LastStatusRestore::getForceEnableGotoLastFoler() { return state().forceEnableGotoLastFolder; }
void LastStatusRestore::setTryRemoteDoneFlag(bool on) { state().tryRemoteDone = on; }
bool LastStatusRestore::getTryRemoteDoneFlag() { return state().tryRemoteDone; }

void LastStatusRestore::setJumpBook(const std::optional<std::string>& book,
                                    const std::optional<std::string>& remoteFolder,
                                    const std::optional<std::string>& remoteFolderTitle) {
    auto& s = state();
    s.jumpBook.reset();
    s.remoteFolder.reset();
    s.remoteFolderTitle.reset();
    if (!book) return;
    s.tryRemoteDone = false;
    s.jumpBook = BookCommon::getNFDString(*book);
    s.remoteFolder = remoteFolder;
    s.remoteFolderTitle = remoteFolderTitle;
}

std::optional<std::string> LastStatusRestore::getJumpBook() { return state().jumpBook; }
std::optional<std::string> LastStatusRestore::getRemoteFolder() { return state().remoteFolder; }
std::optional<std::string> LastStatusRestore::getRemoteFolderTitle() { return state().remoteFolderTitle; }

void LastStatusRestore::releaseObjects() {
    auto& s = state();
    s.jumpBook.reset();
    s.remoteFolder.reset();
    s.remoteFolderTitle.reset();
}

bool LastStatusRestore::isBookReading() {
    auto last = sys::PropertyList::readArray(BookCommon::getLastBookSettingFilePath());
    return last && !last->empty();
}

void LastStatusRestore::setBookReading(const sys::PlistValue& target) {
    auto d = sys::PropertyList::readDictionary(getSettingFile());
    if (!d) return;
    d->set("readingTarget", target);  // a null value removes the key
    writeState(*d);
}

bool LastStatusRestore::isRestoreRemoteFileList() {
    auto d = sys::PropertyList::readDictionary(getSettingFile());
    return d && d->getInteger("remoteViewCount") > 0;
}

std::optional<std::string> LastStatusRestore::getNextLocalPath(const std::string& pathFromBooks) {
    auto d = sys::PropertyList::readDictionary(getSettingFile());
    std::string stored = d ? d->getString("localPath") : std::string();
    if (pathFromBooks == "*" && stored.compare(0, 1, "*") != 0) return std::string();
    std::vector<std::string> here = components(pathFromBooks);
    std::vector<std::string> target = components(stored);
    if (here.size() >= target.size()) return std::nullopt;
    return target[here.size()];
}

void LastStatusRestore::setLocalTargetPath(const std::string& pathFromBooks) {
    if (state().jumpMode) return;
    writeState(sys::PlistDictionary{{"localPath", sys::PlistValue(pathFromBooks)},
                                    {"status", sys::PlistValue(int64_t(0))},
                                    {"remoteViewCount", sys::PlistValue(int64_t(0))}});
}

void LastStatusRestore::updateLastStatusLocal(const FilelistItem& item) {
    setLocalTargetPath(item.pathFromBooks().value_or(""));
}

long LastStatusRestore::getRemoteListViewStachCount(const RemoteFileListState& screen,
                                                    const std::vector<const RemoteFileListState*>& navigationStack) {
    long count = 0;
    for (const RemoteFileListState* s : navigationStack) {
        if (!s) continue;
        ++count;
        if (s == &screen) return count;
    }
    return 0;
}

void LastStatusRestore::updateLastStatusRemote(const RemoteFileListState& screen) {
    auto d = sys::PropertyList::readDictionary(getSettingFile());
    if (!d) return;
    long level = getRemoteListViewStachCount(screen, screen.navigationStackForStatus());
    if (level < 1) return;
    d->set("status", int64_t(1));
    d->set("remoteViewCount", int64_t(level));
    writeState(*d);

    auto url = screen.targetURL();
    if (!url) return;
    // A list too long to be read back is not written (it would take a
    // copy of the whole list and its text to write, each time the screen
    // shows); the level's file goes, so that no other folder is restored in
    // its place.
    uint64_t bytes = 4096;
    if (!screen.forEachListEntry([&](const std::string& entry, const sys::PlistDictionary& info) {
            bytes += xmlBytes(entry, 3) + xmlBytes(info, 3);
        })) {
        return;
    }
    // A typed password that is remembered is kept once, under its site
    // (the sign-in panel's entry), and found there again by the restore; one
    // the user did not want remembered lives only as long as the screen.
    // The copy earlier runs kept apart from the site goes.
    QNKeyChain::deletePasswordWithAccount(kKeychainAccount, kKeychainService);
    const std::string file = getRemoteSettingFile(level);
    if (bytes > sys::PropertyList::kMaxFileSize) {
        sys::FileManager::removeItem(file);
        return;
    }
    RemoteStackStatus status;
    status.remoteUrl = *url;
    screen.forEachListEntry([&](const std::string& entry, const sys::PlistDictionary& info) {
        status.fileList.push_back(sys::PlistValue(entry));
        status.infoList.push_back(sys::PlistValue(info));
    });
    status.listTitle = screen.listTitle();
    status.otherSetting = screen.otherSetting();
    status.fixUsername = screen.fixUsername();
    status.fixID = screen.fixID();
    status.rawUsername = screen.rawUsername();
    status.useRawPassword = screen.useRawPassword();
    status.siteURL = screen.siteURL();
    sys::PropertyList::writeFile(sys::PlistValue(status.toDictionary()), file);
}

bool LastStatusRestore::restoreRemoteViewController(RemoteFileListState& screen, long tartgetRemoteStackCount) {
    auto d = sys::PropertyList::readDictionary(getSettingFile());
    if (!d) return false;
    if (d->getInteger("remoteViewCount") < tartgetRemoteStackCount) return false;
    auto level = sys::PropertyList::readDictionary(getRemoteSettingFile(tartgetRemoteStackCount));
    if (!level) return false;
    auto status = RemoteStackStatus::fromDictionary(*level);
    if (!status) return false;
    screen.setTargetURL(level->find("remoteUrl") ? std::optional<std::string>(status->remoteUrl) : std::nullopt);
    screen.setFileListArray(status->fileList);
    screen.setInfoListArray(status->infoList);
    screen.setListTitle(status->listTitle);
    screen.setOtherSetting(status->otherSetting);
    screen.setFixUsername(status->fixUsername);
    screen.setRawUsername(status->rawUsername);
    screen.setUseRawPassword(status->useRawPassword);
    screen.setRawPassword(restoredPassword(*status));
    screen.setFixID(status->fixID);
    screen.setSiteURL(status->siteURL);
    return true;
}

std::optional<std::string> LastStatusRestore::restoredPassword(const RemoteStackStatus& status) {
    if (!status.useRawPassword || !status.rawUsername) return std::nullopt;
    const std::string site = status.siteURL ? *status.siteURL : status.remoteUrl;
    QNKeyChain::OptString user, password;
    QNKeyChain::getAccountWithURL(site, &user, &password);
    // Kept apart from its site by an earlier version: moved under the site
    // (unless the site has one of its own), so that it is kept once.
    auto copy = QNKeyChain::getPasswordWithAccount(std::string(kKeychainAccount), std::string(kKeychainService));
    if (user == status.rawUsername && password) {
        if (copy) QNKeyChain::deletePasswordWithAccount(kKeychainAccount, kKeychainService);
        return password;
    }
    if (!copy) return std::nullopt;
    if (QNKeyChain::addOrUpdateAccountWithURL(site, *status.rawUsername, *copy))
        QNKeyChain::deletePasswordWithAccount(kKeychainAccount, kKeychainService);
    return copy;
}

void LastStatusRestore::removeOldConfigFile() { removeFilesWithExtension(BookCommon::getSettingsFolder(), "listcache"); }

void LastStatusRestore::removeRemoteStackFile() { removeFilesWithExtension(sys::AppPaths::library(), "remotestatus"); }

void LastStatusRestore::removeAllLastStatus() {
    removeRemoteStackFile();
    sys::FileManager::removeItem(getSettingFile());
}
