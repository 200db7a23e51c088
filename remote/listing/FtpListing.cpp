#include "remote/listing/FtpListing.h"

#include "cloud/HttpEasy.h"
#include "foundation/BookCommon.h"
#include "foundation/QNTextEncoding.h"
#include "foundation/QNUrl.h"
#include "foundation/UrlPercent.h"
#include "platform/core/PlistValue.h"
#include "platform/core/RunLoop.h"
#include "platform/core/Unicode.h"
#include "remote/protocols/FtpListRead.h"
#include "remote/protocols/QNFtpRequestSync.h"

#include <cstring>

FtpListing::FtpListing() = default;

FtpListing::~FtpListing() { cancel(); }

void FtpListing::fetch(const std::string& url, const std::string& user, const std::string& password,
                       size_t maxBytes, Completion done) {
    cancel();
    cancelled_ = std::make_shared<std::atomic<bool>>(false);
    client_ = std::make_shared<QNFtpRequestSync>();
    auto u = QNUrl::URLWithString(url);
    std::string host, path, login = user, pass = password;
    int port = 21;
    if (u) {
        host = u->host();
        if (u->port()) port = int(*u->port());
        path = UrlPercent::decoded(u->path());
        if (!u->user().empty()) login = UrlPercent::decoded(u->user());
        if (!u->password().empty()) pass = UrlPercent::decoded(u->password());
    }
    if (login.empty()) login = kAnonymousUser;
    if (pass.empty()) pass = kAnonymousPassword;
    auto client = client_;
    auto cancelled = cancelled_;
    auto meter = meter_;
    worker_ = sys::Thread(
        [=](const std::atomic<bool>&) {
            std::optional<net::ReceiveMeter::Scope> counted;
            if (meter) counted.emplace(meter);
            Result r;
            if (host.empty() || port <= 0 || port > 65535) {
                r.status = QNFtpRequestSync::kConnectFailed;
            } else {
                r.status = client->connectToFtp(host, port, login, pass);
                if (r.status == QNFtpRequestSync::kUserRefused || r.status == QNFtpRequestSync::kPasswordRefused) {
                    r.outcome = Outcome::LoginRefused;
                } else if (r.status == QNFtpRequestSync::kServerBusy) {
                    r.outcome = Outcome::Busy;
                } else if (r.status == QNFtpRequestSync::kLoggedOn) {
                    // As in every ftp URL, the path starts at the log-on folder.
                    const std::string dir = path.empty() ? path : path.substr(1);
                    if (!dir.empty()) r.status = client->changeDir(dir);
                    if (r.status == QNFtpRequestSync::kDirChanged) {
                        r.status = client->getList(&r.text, maxBytes);
                        if (r.status == QNFtpRequestSync::kTransferDone) r.outcome = Outcome::Listed;
                        if (r.status == QNFtpRequestSync::kListTooLarge) r.outcome = Outcome::TooLarge;
                    }
                    if (r.status == QNFtpRequestSync::kServerBusy) r.outcome = Outcome::Busy;
                    client->disconnect();
                }
            }
            sys::RunLoop::main().post([cancelled, done, r = std::move(r)] {
                if (!*cancelled) done(r);
            });
        },
        "ftp-listing");
}

void FtpListing::cancel() {
    if (cancelled_) *cancelled_ = true;
    if (client_) client_->cancel();
    // The worker may be inside a name lookup, which no cancel reaches: the
    // caller (the main thread) does not wait for it. It holds nothing of
    // this object, and its result is dropped.
    if (worker_.joinable()) sys::Thread::leaveToFinish(std::move(worker_));
    client_.reset();
}

RemoteFileEntry FtpListing::getListFromFtpList(const std::string& body, const std::string& listedURL,
                                               const std::string& charset, bool* isListEncodeError) {
    if (isListEncodeError) *isListEncodeError = false;
    RemoteFileEntry out;
    if (!QNUrl::URLWithString(listedURL)) return out;
    // In its normal form (non-ASCII escaped, as in a typed or saved
    // address): the entries' URLs are made from it and must lie inside it.
    std::string folder = HttpEasy::resolve(HttpEasy::withoutCredentials(listedURL), "");
    if (folder.empty() || folder.back() != '/') folder += '/';

    // A line holding a zero byte names nothing a server could mean: it is
    // left out, and the lines after it are read as ever.
    std::string bytes;
    bytes.reserve(body.size());
    for (size_t b = 0; b < body.size();) {
        size_t e = body.find('\n', b);
        e = e == std::string::npos ? body.size() : e + 1;
        if (std::memchr(body.data() + b, 0, e - b) == nullptr) bytes.append(body, b, e - b);
        b = e;
    }
    std::optional<std::string> text;
    std::string encoding;
    if (!charset.empty() && charset != "Default") {
        text = QNTextEncoding::stringWithCString(bytes.c_str(), charset);
        if (text) encoding = charset;
    }
    if (!text && sys::Unicode::isValidUtf8(bytes)) {
        text = bytes;
        encoding = QNTextEncoding::kUTF8;
    }
    if (!text) text = QNTextEncoding::stringWithCString(bytes.c_str(), &encoding);
    if (!text) {
        if (isListEncodeError) *isListEncodeError = true;
        return out;
    }
    const bool utf8 = encoding == QNTextEncoding::kUTF8;

    for (size_t b = 0; b < text->size();) {
        size_t e = text->find('\n', b);
        e = e == std::string::npos ? text->size() : e + 1;
        const std::string line = text->substr(b, e - b);
        b = e;
        const auto record = FtpListRead::GetFileListWithFtpListData(line);
        if (!record || !record->contains("name")) continue;
        const std::string name = record->getString("name");
        // A name is one entry of this folder, never a way out of it.
        if (name.empty() || name == "." || name == ".." ||
            name.find_first_of(std::string("/\r\n\0", 4)) != std::string::npos) {
            continue;
        }
        const auto nameBytes = utf8 ? std::optional<std::string>(name) : QNTextEncoding::dataWithString(name, encoding);
        if (!nameBytes) continue;
        const std::string url = HttpEasy::resolve(folder, UrlPercent::encoded(*nameBytes));
        const bool isFolder = record->getBool("isFolder");
        if (url.empty() || url.compare(0, folder.size(), folder) != 0) continue;
        if (!isFolder && !BookCommon::isBookorPDFFileorThemeWithFilename(url)) continue;
        sys::PlistDictionary info;
        info.set(RemoteFileEntry::kName, sys::PlistValue(name));
        // A line without a size (MLSD and EPLF facts are optional) tells none.
        if (record->contains("size")) info.set(RemoteFileEntry::kBookSize, sys::PlistValue(record->getInteger("size")));
        if (record->contains("date")) {
            info.set(RemoteFileEntry::kBookDate, RemoteFileEntry::dateValue(record->getInteger("date")));
        }
        if (isFolder) {
            info.set(RemoteFileEntry::kIsFolder, sys::PlistValue(true));
        } else {
            info.set(RemoteFileEntry::kIsBook, sys::PlistValue(true));
        }
        out.add(url, std::move(info));
    }
    return out;
}
