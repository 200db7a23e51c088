#include "platform/core/Calendar.h"

#include <unicode/gregocal.h>

#include <cmath>
#include <memory>

namespace sys {

namespace {

std::unique_ptr<icu::GregorianCalendar> makeCalendar(const TimeZone& zone) {
    UErrorCode status = U_ZERO_ERROR;
    auto cal = std::make_unique<icu::GregorianCalendar>(zone.icuZone().clone(), icu::Locale::getRoot(), status);
    if (U_FAILURE(status)) return nullptr;
    return cal;
}

}  // namespace

Calendar::Calendar() : zone_(TimeZone::local()) {}

Calendar::Calendar(TimeZone zone) : zone_(std::move(zone)) {}

DateComponents Calendar::components(Date date) const {
    DateComponents c;
    auto cal = makeCalendar(zone_);
    if (!cal) return c;
    UErrorCode status = U_ZERO_ERROR;
    // Whole seconds toward the past, so 23:59:59.9 stays in its day.
    cal->setTime(std::floor(date.timeIntervalSince1970()) * 1000.0, status);
    c.year = cal->get(UCAL_EXTENDED_YEAR, status);
    c.month = cal->get(UCAL_MONTH, status) + 1;
    c.day = cal->get(UCAL_DATE, status);
    c.hour = cal->get(UCAL_HOUR_OF_DAY, status);
    c.minute = cal->get(UCAL_MINUTE, status);
    c.second = cal->get(UCAL_SECOND, status);
    c.weekday = cal->get(UCAL_DAY_OF_WEEK, status);
    if (U_FAILURE(status)) return DateComponents{};
    return c;
}

std::optional<Date> Calendar::dateFromComponents(const DateComponents& c) const {
    auto cal = makeCalendar(zone_);
    if (!cal) return std::nullopt;
    cal->clear();
    cal->set(UCAL_EXTENDED_YEAR, c.year);
    cal->set(UCAL_MONTH, c.month - 1);
    cal->set(UCAL_DATE, c.day);
    cal->set(UCAL_HOUR_OF_DAY, c.hour);
    cal->set(UCAL_MINUTE, c.minute);
    cal->set(UCAL_SECOND, c.second);
    UErrorCode status = U_ZERO_ERROR;
    UDate ms = cal->getTime(status);
    if (U_FAILURE(status)) return std::nullopt;
    return Date(ms / 1000.0);
}

}  // namespace sys
