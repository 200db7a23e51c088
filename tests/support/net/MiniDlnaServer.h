#pragma once

#include <string>
#include <sys/types.h>

namespace test {

class NetNamespacePair;

// minidlna as a UPnP media server answering SSDP searches inside one side of
// a namespace pair (multicast needs a network of its own), with its
// configuration, database and log in a folder of the test work area.
// Stopped when the object goes away.
class MiniDlnaServer {
public:
    MiniDlnaServer();
    ~MiniDlnaServer();
    MiniDlnaServer(const MiniDlnaServer&) = delete;
    MiniDlnaServer& operator=(const MiniDlnaServer&) = delete;

    static bool installed();

    // Serves an empty media folder under `friendlyName` on the side's veth
    // interface, its description on `port`.
    bool start(const NetNamespacePair& pair, int side, const std::string& friendlyName, int port = 8200);
    void stop();
    bool running() const { return pid_ > 0; }
    const std::string& lastError() const { return error_; }
    std::string log() const;

private:
    std::string dir_, error_;
    pid_t pid_ = -1;
};

}  // namespace test
