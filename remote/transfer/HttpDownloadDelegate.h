#pragma once

#include <cstdint>
#include <string>

// What an HttpDownload tells the transfer queue, always on the main thread.
class HttpDownloadDelegate {
public:
    virtual ~HttpDownloadDelegate() = default;
    // 0, 0 when connected; 1 and the bytes received on this connection as
    // they arrive.
    virtual void onChangeHttpDownloadStatus(int status, int64_t sizeDownload) { (void)status, (void)sizeDownload; }
    // The file name and its whole length (-1 when the server gave none).
    virtual void onConnected(const std::string& fileName, int64_t fileSize) { (void)fileName, (void)fileSize; }
    // Bytes already in the temporary file that this connection continues.
    virtual void setStartOffset(int64_t offset) { (void)offset; }
    // Once, with one of HttpDownload's result codes.
    virtual void onFinishConnection(int result) = 0;
};
