#include "platform/core/DateFormatter.h"

#include <unicode/datefmt.h>
#include <unicode/smpdtfmt.h>

#include "platform/core/DeviceProfile.h"

namespace sys {

namespace {

icu::DateFormat::EStyle icuStyle(DateFormatter::Style s) {
    switch (s) {
    case DateFormatter::Style::None: return icu::DateFormat::kNone;
    case DateFormatter::Style::Short: return icu::DateFormat::kShort;
    case DateFormatter::Style::Medium: return icu::DateFormat::kMedium;
    case DateFormatter::Style::Long: return icu::DateFormat::kLong;
    case DateFormatter::Style::Full: return icu::DateFormat::kFull;
    }
    return icu::DateFormat::kNone;
}

}  // namespace

DateFormatter::DateFormatter() : locale_(DeviceProfile::current().localeIdentifier), zone_(TimeZone::local()) {}

DateFormatter::~DateFormatter() = default;

DateFormatter::DateFormatter(const DateFormatter& other) : zone_(other.zone_) {
    std::lock_guard lock(other.mutex_);
    pattern_ = other.pattern_;
    usePattern_ = other.usePattern_;
    dateStyle_ = other.dateStyle_;
    timeStyle_ = other.timeStyle_;
    locale_ = other.locale_;
    zone_ = other.zone_;
}

DateFormatter& DateFormatter::operator=(const DateFormatter& other) {
    if (this == &other) return *this;
    std::scoped_lock lock(mutex_, other.mutex_);
    pattern_ = other.pattern_;
    usePattern_ = other.usePattern_;
    dateStyle_ = other.dateStyle_;
    timeStyle_ = other.timeStyle_;
    locale_ = other.locale_;
    zone_ = other.zone_;
    format_.reset();
    return *this;
}

void DateFormatter::setDateFormat(std::string pattern) {
    std::lock_guard lock(mutex_);
    pattern_ = std::move(pattern);
    usePattern_ = true;
    format_.reset();
}

void DateFormatter::setDateStyle(Style style) {
    std::lock_guard lock(mutex_);
    dateStyle_ = style;
    usePattern_ = false;
    format_.reset();
}

void DateFormatter::setTimeStyle(Style style) {
    std::lock_guard lock(mutex_);
    timeStyle_ = style;
    usePattern_ = false;
    format_.reset();
}

void DateFormatter::setLocale(std::string identifier) {
    std::lock_guard lock(mutex_);
    locale_ = std::move(identifier);
    format_.reset();
}

void DateFormatter::setTimeZone(TimeZone zone) {
    std::lock_guard lock(mutex_);
    zone_ = std::move(zone);
    format_.reset();
}

icu::DateFormat* DateFormatter::formatter() const {
    if (format_) return format_.get();
    icu::Locale loc(locale_.c_str());
    std::unique_ptr<icu::DateFormat> f;
    if (usePattern_) {
        if (pattern_.empty()) return nullptr;
        UErrorCode status = U_ZERO_ERROR;
        auto sdf = std::make_unique<icu::SimpleDateFormat>(
            icu::UnicodeString::fromUTF8(icu::StringPiece(pattern_.data(), int32_t(pattern_.size()))), loc, status);
        if (U_FAILURE(status)) return nullptr;
        f = std::move(sdf);
    } else {
        if (dateStyle_ == Style::None && timeStyle_ == Style::None) return nullptr;
        f.reset(icu::DateFormat::createDateTimeInstance(icuStyle(dateStyle_), icuStyle(timeStyle_), loc));
        if (!f) return nullptr;
    }
    f->setTimeZone(zone_.icuZone());
    f->setLenient(false);
    format_ = std::move(f);
    return format_.get();
}

std::string DateFormatter::stringFromDate(Date date) const {
    std::lock_guard lock(mutex_);
    icu::DateFormat* f = formatter();
    if (!f) return {};
    icu::UnicodeString out;
    f->format(date.timeIntervalSince1970() * 1000.0, out);
    std::string text;
    out.toUTF8String(text);
    return text;
}

std::optional<Date> DateFormatter::dateFromString(std::string_view text) const {
    std::lock_guard lock(mutex_);
    icu::DateFormat* f = formatter();
    if (!f || text.empty()) return std::nullopt;
    icu::UnicodeString input = icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), int32_t(text.size())));
    icu::ParsePosition pos(0);
    UDate ms = f->parse(input, pos);
    if (pos.getErrorIndex() >= 0 || pos.getIndex() != input.length()) return std::nullopt;
    return Date(ms / 1000.0);
}

}  // namespace sys
