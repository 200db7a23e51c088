#pragma once

#include "remote/transfer/HttpDownloadDelegate.h"

namespace bench {

// What a download benchmark waits for: the download's result code.
struct DownloadDone : HttpDownloadDelegate {
    void onFinishConnection(int r) override { result = r; }
    int result = -1;
};

}  // namespace bench
