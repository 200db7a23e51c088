#include "tests/support/net/SmbPeer.h"

#include "tests/support/net/ServerProcess.h"

#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace fs = std::filesystem;

namespace test {

SmbPeer::SmbPeer() : root_("smbpeer") {
    std::error_code ec;
    for (const char* d : {"books", "public", "locked", "sealed", "shelf"}) fs::create_directories(root_.path() + "/" + d, ec);
}

SmbPeer::~SmbPeer() { stop(); }

std::string SmbPeer::skipReason() {
    std::string missing = SambaServer::missingPrograms();
    if (!missing.empty()) return "Samba is not installed (" + missing + ")";
    if (::geteuid() != 0) return "smbd's test user needs a Unix account, which only root can make";
    return {};
}

bool SmbPeer::start(const std::string& globalLines) {
    const std::string root = root_.path();
    std::vector<SambaServer::Share> shares = {
        {"books", root + "/books", false, false, "  valid users = " + std::string(kUser) + "\n"},
        {"public", root + "/public", false, true, ""},
        {"locked", root + "/locked", false, false, "  valid users = nosuchperson\n"},
        {"sealed", root + "/sealed", false, false, "  smb encrypt = required\n"},
        {kShelfShare, root + "/shelf", false, false, "  valid users = " + std::string(kUser) + "\n"},
    };
    if (!smbd_.startSmbd(globalLines, 0, shares, {{kUser, kPassword}})) {
        error_ = smbd_.lastError();
        return false;
    }
    return true;
}

void SmbPeer::stop() { smbd_.stop(); }

void SmbPeer::openUp() const { ServerProcess::openUp(root_.path()); }

std::string SmbPeer::server() const { return "127.0.0.1:" + std::to_string(smbd_.port()); }

void SmbPeer::writeFile(const std::string& dir, const std::string& relative, const std::vector<uint8_t>& bytes) {
    const fs::path p = fs::path(dir) / relative;
    std::error_code ec;
    fs::create_directories(p.parent_path(), ec);
    {
        std::ofstream out(p, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    }
    // smbd reads as the share's user, whatever the umask made of the file
    // and its folders (the share's own folders are opened at start).
    fs::permissions(p, fs::perms(0644), ec);
    for (fs::path at = p.parent_path(); at.string().size() > dir.size(); at = at.parent_path()) {
        fs::permissions(at, fs::perms(0755), ec);
    }
}

std::vector<uint8_t> SmbPeer::noise(size_t n, uint32_t seed) {
    std::vector<uint8_t> out(n);
    uint32_t x = seed * 2654435761u + 1;
    for (auto& b : out) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = uint8_t(x);
    }
    return out;
}

}  // namespace test
