#pragma once

#include "tests/support/TestHome.h"
#include "tests/support/net/SambaServer.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace test {

// smbd on loopback with the shares the SMB tests use: "books" for the test
// user, "public" for guests, "locked" that the test user may not enter,
// "sealed" that demands encryption and "本棚" (a name outside any single-byte
// code page) for the test user. The caller fills the folders.
class SmbPeer {
public:
    static constexpr const char* kUser = "lbsmbuser";
    static constexpr const char* kPassword = "Smb-Pass-1";

    SmbPeer();
    ~SmbPeer();

    // Why SMB tests cannot run here ("" when they can).
    static std::string skipReason();

    // The folders exist from construction on; start() may come later.
    bool start(const std::string& globalLines);
    void stop();
    const std::string& error() const { return error_; }
    std::string log() const { return smbd_.log(); }
    int port() const { return smbd_.port(); }
    // "127.0.0.1:port"
    std::string server() const;
    std::string booksDir() const { return root_.path() + "/books"; }
    std::string publicDir() const { return root_.path() + "/public"; }
    // The folder of the share "本棚".
    std::string shelfDir() const { return root_.path() + "/shelf"; }
    static constexpr const char* kShelfShare = "本棚";
    // Without smbd's RPC services: the share list through srvsvc is refused
    // (before start()).
    void setRpcServices(bool on) { smbd_.setRpcServices(on); }

    // Lets smbd read what a test made in the share folders by other means
    // than writeFile, whatever the umask made of it.
    void openUp() const;
    // Writes `bytes` at `relative` under `dir`, making folders.
    static void writeFile(const std::string& dir, const std::string& relative, const std::vector<uint8_t>& bytes);
    // Reproducible noise.
    static std::vector<uint8_t> noise(size_t n, uint32_t seed);

private:
    TempDir root_;
    SambaServer smbd_;
    std::string error_;
};

}  // namespace test
