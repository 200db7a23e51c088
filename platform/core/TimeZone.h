#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/core/Date.h"

#include <unicode/uversion.h>

U_NAMESPACE_BEGIN
class TimeZone;
U_NAMESPACE_END

namespace sys {

// A time zone by its IANA name ("Asia/Tokyo") or by a common abbreviation
// ("JST"), with the platform's meaning of the abbreviations: "EST" is New York
// with its summer time, not a fixed offset.
class TimeZone {
public:
    // An IANA name, a "GMT+09:00"-style offset, or an abbreviation; nullopt
    // when none of these is known.
    static std::optional<TimeZone> named(std::string_view nameOrAbbreviation);
    // An abbreviation only ("JST", "PST", "UTC"…).
    static std::optional<TimeZone> abbreviated(std::string_view abbreviation);
    // The device's zone: the current device profile's, else the system's.
    static TimeZone local();
    static TimeZone utc();

    const std::string& name() const { return name_; }
    // Offset from UTC at `date`, in seconds (summer time included).
    int secondsFromGMT(Date date) const;
    bool isDaylightSavingTime(Date date) const;

    bool operator==(const TimeZone& other) const { return name_ == other.name_; }

    // The underlying ICU zone (shared, never modified).
    const icu::TimeZone& icuZone() const { return *zone_; }

private:
    TimeZone(std::string name, std::shared_ptr<const icu::TimeZone> zone);
    std::string name_;
    std::shared_ptr<const icu::TimeZone> zone_;
};

}  // namespace sys
