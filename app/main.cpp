#include "app/LeafbrightProgram.h"
#include "app/ProgramOptions.h"
#include "remote/PushToMediaServer.h"
#include "remote/RemoteTransferScreenFactory.h"
#include "remote/StreamStatusView.h"
#include "remote/StreamStatusViewBlockMap.h"
#include "remote/UrlListStreamRead.h"
#include "remote/protocols/QNNbns.h"
#include "remote/stream/FtpStreamRead.h"
#include "remote/stream/HTTPURLStreamRead.h"
#include "remote/stream/SmbStreamRead.h"
#include "smb/CIFSStackClient.h"
#include "platform/core/Unicode.h"

#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    std::string error;
    auto options = ProgramOptions::parse(args, &error);
    if (!options) {
        std::fprintf(stderr, "leafbright: %s\n", sys::Unicode::displaySafe(error).c_str());
        return 2;
    }
    QNNbns::initCacheWithTime(3600);
    // Books on web servers are read in place through these readers.
    HTTPURLStreamRead::registerWithEngine();
    UrlListStreamRead::registerWithEngine();
    SmbStreamRead::registerWithEngine();
    // The reading screen's menu shows a streamed book's block map.
    StreamStatusViewBlockMap::registerWithViewer();
    // A page of a streamed book that is still on its way shows the stream's
    // progress, with a way to give up.
    StreamStatusView::registerWithViewer();
    // Stored sites and shortcuts open as remote lists; the transfer screens
    // start with the site list.
    PushToMediaServer::registerWithLibrary();
    RemoteTransferScreenFactory::install();
    FtpStreamRead::registerWithEngine();
    // SMB2/3 listings and downloads go through the SMB stack's client.
    CIFSStackClient::registerWithRemote();
    LeafbrightProgram program(*options);
    return program.run();
}
