#include "engine/ArchiveStream.h"

#include "engine/RemoteStreamRead.h"

std::shared_ptr<RemoteStreamRead> ArchiveStream::newForUrl(const std::string& url) {
    return RemoteStreamRead::newStreamWithProtocol(RemoteStreamRead::getProtocolWithURL(url));
}

std::shared_ptr<RemoteStreamRead> ArchiveStream::newForCheck(const std::string& url,
                                                             const sys::PlistDictionary& fileInfo,
                                                             const std::string& remoteUser,
                                                             const std::string& remotePassword,
                                                             const std::shared_ptr<Settings>& settings,
                                                             const sys::PlistDictionary& otherSetting) {
    auto stream = newForUrl(url);
    if (!stream) return nullptr;
    stream->setUserName(remoteUser);
    stream->setPassword(remotePassword);
    stream->setOtherSettingForRemote(otherSetting);
    stream->setSettings(settings);
    stream->setFileInfo(fileInfo);
    stream->setIsThumbsCreateMode(false);
    return stream;
}

std::shared_ptr<RemoteStreamRead> ArchiveStream::get() const {
    std::lock_guard lock(mutex_);
    return stream_;
}

void ArchiveStream::set(std::shared_ptr<RemoteStreamRead> stream) {
    std::lock_guard lock(mutex_);
    stream_ = std::move(stream);
}

void ArchiveStream::cancel() const {
    if (auto s = get()) s->cancelStreaming();
}

void ArchiveStream::close() {
    std::shared_ptr<RemoteStreamRead> s;
    {
        std::lock_guard lock(mutex_);
        s = std::move(stream_);
        stream_.reset();
    }
    if (s) s->closeURL();
}
