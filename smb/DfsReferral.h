#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// A DFS server's answer to a referral request: how much of the path asked
// about it resolved (a DFS link, or a namespace root), and the places that
// part stands for. Every entry and string is checked against the answer's
// bytes before it is read; referrals that name domains or domain
// controllers rather than shares carry no place and are left out.
class DfsReferral {
public:
    using Bytes = std::vector<uint8_t>;

    // A place a link stands for: "\\server\share" and maybe a path in it.
    struct Target {
        std::string server, share;
        std::string path;  // backslashes, none leading; "" for the share's root
    };

    // Bytes of the UTF-16 path asked about that the referral covers.
    size_t pathConsumed = 0;
    std::vector<Target> targets;

    // Nothing when the answer is malformed.
    static std::optional<DfsReferral> parse(const Bytes& answer);
    // "\\server\\share\\more" (one or two leading backslashes) as a target;
    // nothing without a server and a share.
    static std::optional<Target> splitTarget(const std::string& address);
    // The part of `askedPath` (as sent, UTF-8) beyond the first `consumed`
    // bytes of its UTF-16 form, without leading backslashes; nothing when
    // `consumed` is not within it or cuts a name or a character.
    static std::optional<std::string> remainder(const std::string& askedPath, size_t consumed);
};
