#pragma once

#include <compare>

namespace sys {

// A moment in time: seconds since 1970-01-01 00:00:00 UTC, with fractions.
// Property lists count from 2001-01-01 (the reference date); the conversions
// below do that arithmetic in one place.
class Date {
public:
    // Seconds between 1970-01-01 and 2001-01-01.
    static constexpr double kReferenceDateOffset = 978307200.0;

    constexpr Date() = default;
    constexpr explicit Date(double secondsSince1970) : seconds_(secondsSince1970) {}

    // The current wall-clock time (or the installed source, see below).
    static Date now();
    static constexpr Date fromTimeIntervalSinceReferenceDate(double seconds) {
        return Date(seconds + kReferenceDateOffset);
    }

    constexpr double timeIntervalSince1970() const { return seconds_; }
    constexpr double timeIntervalSinceReferenceDate() const { return seconds_ - kReferenceDateOffset; }
    // Positive when this date is later than `other`.
    constexpr double timeIntervalSinceDate(Date other) const { return seconds_ - other.seconds_; }
    double timeIntervalSinceNow() const { return seconds_ - now().seconds_; }
    constexpr Date dateByAddingTimeInterval(double seconds) const { return Date(seconds_ + seconds); }

    constexpr auto operator<=>(const Date&) const = default;
    constexpr bool operator==(const Date&) const = default;

    // Replaces the wall clock for now() (tests that depend on "today"), or
    // restores it with nullptr. The function must be safe to call from any thread.
    using NowSource = double (*)();
    static void setNowSource(NowSource source);

private:
    double seconds_ = 0.0;
};

}  // namespace sys
