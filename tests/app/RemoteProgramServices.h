#pragma once

#include "engine/RemoteStreamRead.h"
#include "engine/UrlListStream.h"
#include "foundation/ui/TransferScreenFactory.h"
#include "library/MediaServerOpener.h"
#include "remote/PushToMediaServer.h"
#include "remote/RemoteTransferScreenFactory.h"
#include "remote/UrlListStreamRead.h"
#include "remote/stream/HTTPURLStreamRead.h"

namespace programtest {

// What the program's entry point registers for books on web servers: the
// stream readers, the remote lists' opener and the transfer screens.
inline void registerRemoteServices() {
    HTTPURLStreamRead::registerWithEngine();
    UrlListStreamRead::registerWithEngine();
    PushToMediaServer::registerWithLibrary();
    RemoteTransferScreenFactory::install();
}

// Takes them back, and the stream cache the run filled.
inline void unregisterRemoteServices() {
    MediaServerOpener::install(nullptr);
    UrlListStream::registerMaker({});
    TransferScreenFactory::install(nullptr);
    RemoteStreamRead::removeCache();
}

}  // namespace programtest
