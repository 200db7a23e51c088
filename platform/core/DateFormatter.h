#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "platform/core/Date.h"
#include "platform/core/TimeZone.h"

#include <unicode/uversion.h>

U_NAMESPACE_BEGIN
class DateFormat;
U_NAMESPACE_END

namespace sys {

// Dates to text and back, with ICU patterns ("yyyy/MM/dd HH:mm:ss") or the
// locale's styles. Note that "yyyy" is the calendar year and "YYYY" the year
// of the week, which differs around New Year.
//
// Starts with the device's locale and time zone. Whichever of a pattern or the
// styles was set last applies. Parsing is strict: the whole text must match.
// Configure first, then format from any thread.
class DateFormatter {
public:
    enum class Style { None, Short, Medium, Long, Full };

    DateFormatter();
    ~DateFormatter();
    // Copies take the settings, not the prepared ICU formatter.
    DateFormatter(const DateFormatter& other);
    DateFormatter& operator=(const DateFormatter& other);

    void setDateFormat(std::string pattern);
    const std::string& dateFormat() const { return pattern_; }
    void setDateStyle(Style style);
    void setTimeStyle(Style style);
    // An ICU locale identifier: "en_US_POSIX", "ja_JP", "en_US".
    void setLocale(std::string identifier);
    const std::string& locale() const { return locale_; }
    void setTimeZone(TimeZone zone);
    const TimeZone& timeZone() const { return zone_; }

    // Empty when nothing is set to format (no pattern, both styles None).
    std::string stringFromDate(Date date) const;
    std::optional<Date> dateFromString(std::string_view text) const;

private:
    icu::DateFormat* formatter() const;  // with mutex_ held

    std::string pattern_;
    bool usePattern_ = false;
    Style dateStyle_ = Style::None;
    Style timeStyle_ = Style::None;
    std::string locale_;
    TimeZone zone_;

    mutable std::mutex mutex_;
    mutable std::unique_ptr<icu::DateFormat> format_;
};

}  // namespace sys
