#pragma once

namespace test {

// A name lookup that hangs, as one does when the name server never answers,
// with no network at all: while an object of this class lives, every lookup
// (getaddrinfo) of kName blocks until release() or the object goes, and then
// fails. Other names are looked up as ever. No cancel reaches such a lookup,
// which is the point: code that must not wait for one can be tested.
class StuckNameLookup {
public:
    static constexpr const char* kName = "stuck-lookup.invalid";

    StuckNameLookup();
    ~StuckNameLookup();
    StuckNameLookup(const StuckNameLookup&) = delete;
    StuckNameLookup& operator=(const StuckNameLookup&) = delete;

    // Lets every blocked lookup (and later ones) fail at once.
    void release();
    // Waits, in real time, until a lookup of kName is blocked; true when one is.
    bool waitForLookup(double seconds);
    // Waits, in real time, until no lookup of kName is blocked (a released
    // one leaves on a thread of its own); true when none is.
    bool waitUntilNoneBlocked(double seconds);
    // Lookups of kName blocked now.
    int blocked() const;
};

}  // namespace test
