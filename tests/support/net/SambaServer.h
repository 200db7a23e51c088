#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

namespace test {

class NetNamespacePair;

// Samba's daemons as test peers, each with a private configuration, state
// and logs in a folder of the test work area (nothing of the system's Samba
// set-up is read or changed, except that users get a Unix account, which
// Samba's password database requires).
//
// smbd listens on 127.0.0.1 at an unprivileged port with the given shares
// and users; nmbd answers name queries inside one side of a namespace pair,
// where broadcasts can reach it. Both stop when the object goes away.
//
// smbd's RPC services (the share list through srvsvc) run in samba-dcerpcd,
// which smbd would start on demand as a daemon of its own that outlives the
// test: here it is started beside smbd as our child and stopped with it, and
// stop() makes sure that no process of this configuration is left running.
// Share folders are opened to the users smbd acts as, whatever the umask.
class SambaServer {
public:
    struct Share {
        std::string name;
        std::string path;
        bool writable = false;
        bool guestOk = false;
        std::string lines;  // more settings of the share, each line ending in "\n"
    };
    struct User {
        std::string name;      // a Unix account of this name is made when missing
        std::string password;  // the SMB password
    };

    SambaServer();
    ~SambaServer();
    SambaServer(const SambaServer&) = delete;
    SambaServer& operator=(const SambaServer&) = delete;

    // "" when smbd, nmbd and smbpasswd are installed, else what is missing.
    static std::string missingPrograms();

    // Before startSmbd: the loopback address smbd listens on (127.0.0.1
    // unless told; 127.0.0.2 makes a second server at the same port).
    void setAddress(const std::string& address) { address_ = address; }
    const std::string& address() const { return address_; }

    // `globalLines` go into [global] after our own settings, so they can
    // override them (for example "ntlm auth = ntlmv2-only" or "raw NTLMv2
    // auth = yes"). Port 0 picks a free one.
    bool startSmbd(const std::string& globalLines, int port, const std::vector<Share>& shares,
                   const std::vector<User>& users);
    // Without samba-dcerpcd smbd serves no RPC pipe (srvsvc is refused;
    // its own RAP share list still answers). Set before startSmbd.
    void setRpcServices(bool on) { rpcServices_ = on; }
    // nmbd as `netbiosName` on the side's veth interface.
    bool startNmbd(const NetNamespacePair& pair, int side, const std::string& netbiosName,
                   const std::string& globalLines = {});
    void stop();

    bool running() const { return pid_ > 0; }
    // Processes still running with this server's configuration (smbd's
    // children and helpers included).
    std::vector<pid_t> processes() const;
    int port() const { return port_; }
    const std::string& dir() const { return dir_; }
    const std::string& configFile() const { return conf_; }
    const std::string& lastError() const { return error_; }
    // The daemon's own log (its standard output), for failure messages.
    std::string log() const;

private:
    // Whether smbd at `port` answers a negotiate (an old-style one that also
    // names the SMB2 dialects, so that servers of either kind answer).
    static bool answersNegotiate(int port, const std::string& address);
    bool prepare(const std::string& tag);
    bool writeConfig(const std::string& globalLines, const std::vector<Share>& shares);
    bool addUser(const User& user);

    bool startRpcDaemon();

    std::string dir_, conf_, logFile_, error_;
    std::string address_ = "127.0.0.1";
    int port_ = 0;
    pid_t pid_ = -1;
    pid_t rpcPid_ = -1;
    bool rpcServices_ = true;
};

}  // namespace test
