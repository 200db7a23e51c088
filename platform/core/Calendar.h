#pragma once

#include <optional>

#include "platform/core/Date.h"
#include "platform/core/TimeZone.h"

namespace sys {

// Fields of a moment in the Gregorian calendar. weekday: 1 Sunday to 7 Saturday.
struct DateComponents {
    int year = 0;
    int month = 0;  // 1-12
    int day = 0;    // 1-31
    int hour = 0;
    int minute = 0;
    int second = 0;
    int weekday = 0;
    bool operator==(const DateComponents&) const = default;
};

// The Gregorian calendar in one time zone.
class Calendar {
public:
    Calendar();  // the device's time zone
    explicit Calendar(TimeZone zone);

    const TimeZone& timeZone() const { return zone_; }

    DateComponents components(Date date) const;
    // The moment the fields name (weekday is ignored; fields out of range carry
    // over, so day 32 of January is February 1). nullopt when ICU refuses them.
    std::optional<Date> dateFromComponents(const DateComponents& components) const;

private:
    TimeZone zone_;
};

}  // namespace sys
