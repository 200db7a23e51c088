#include "platform/core/TimeZone.h"

#include <unicode/timezone.h>
#include <unicode/unistr.h>

#include <array>
#include <utility>

#include "platform/core/DeviceProfile.h"

namespace sys {

namespace {

// The abbreviations the platform knows, with the zone each one stands for.
constexpr std::array<std::pair<std::string_view, std::string_view>, 48> kAbbreviations{{
    {"ADT", "America/Halifax"},     {"AKDT", "America/Juneau"},
    {"AKST", "America/Juneau"},     {"ART", "America/Argentina/Buenos_Aires"},
    {"AST", "America/Halifax"},     {"BDT", "Asia/Dhaka"},
    {"BRST", "America/Sao_Paulo"},  {"BRT", "America/Sao_Paulo"},
    {"BST", "Europe/London"},       {"CAT", "Africa/Harare"},
    {"CDT", "America/Chicago"},     {"CEST", "Europe/Paris"},
    {"CET", "Europe/Paris"},        {"CLST", "America/Santiago"},
    {"CLT", "America/Santiago"},    {"COT", "America/Bogota"},
    {"CST", "America/Chicago"},     {"EAT", "Africa/Addis_Ababa"},
    {"EDT", "America/New_York"},    {"EEST", "Europe/Athens"},
    {"EET", "Europe/Athens"},       {"EST", "America/New_York"},
    {"GMT", "GMT"},                 {"GST", "Asia/Dubai"},
    {"HKT", "Asia/Hong_Kong"},      {"HST", "Pacific/Honolulu"},
    {"ICT", "Asia/Bangkok"},        {"IRST", "Asia/Tehran"},
    {"IST", "Asia/Kolkata"},        {"JST", "Asia/Tokyo"},
    {"KST", "Asia/Seoul"},          {"MDT", "America/Denver"},
    {"MSD", "Europe/Moscow"},       {"MSK", "Europe/Moscow"},
    {"MST", "America/Denver"},      {"NZDT", "Pacific/Auckland"},
    {"NZST", "Pacific/Auckland"},   {"PDT", "America/Los_Angeles"},
    {"PET", "America/Lima"},        {"PHT", "Asia/Manila"},
    {"PKT", "Asia/Karachi"},        {"PST", "America/Los_Angeles"},
    {"SGT", "Asia/Singapore"},      {"UTC", "UTC"},
    {"WAT", "Africa/Lagos"},        {"WEST", "Europe/Lisbon"},
    {"WET", "Europe/Lisbon"},       {"WIT", "Asia/Jakarta"},
}};

std::string toUtf8(const icu::UnicodeString& s) {
    std::string out;
    s.toUTF8String(out);
    return out;
}

std::shared_ptr<const icu::TimeZone> makeZone(std::string_view id) {
    icu::UnicodeString uid = icu::UnicodeString::fromUTF8(icu::StringPiece(id.data(), int32_t(id.size())));
    std::unique_ptr<icu::TimeZone> zone(icu::TimeZone::createTimeZone(uid));
    if (!zone) return nullptr;
    // ICU answers an unknown name with the "Etc/Unknown" zone instead of failing.
    icu::UnicodeString got;
    zone->getID(got);
    if (got == UNICODE_STRING_SIMPLE("Etc/Unknown")) return nullptr;
    return std::shared_ptr<const icu::TimeZone>(zone.release());
}

}  // namespace

TimeZone::TimeZone(std::string name, std::shared_ptr<const icu::TimeZone> zone)
    : name_(std::move(name)), zone_(std::move(zone)) {}

std::optional<TimeZone> TimeZone::abbreviated(std::string_view abbreviation) {
    for (const auto& [abbr, id] : kAbbreviations) {
        if (abbr == abbreviation) {
            if (auto zone = makeZone(id)) return TimeZone(std::string(id), std::move(zone));
        }
    }
    return std::nullopt;
}

std::optional<TimeZone> TimeZone::named(std::string_view nameOrAbbreviation) {
    if (nameOrAbbreviation.empty()) return std::nullopt;
    // Abbreviations first: ICU also knows some of them as legacy names with
    // other meanings ("EST" as a fixed offset).
    if (auto byAbbreviation = abbreviated(nameOrAbbreviation)) return byAbbreviation;
    if (auto zone = makeZone(nameOrAbbreviation)) {
        icu::UnicodeString id;
        zone->getID(id);
        return TimeZone(toUtf8(id), std::move(zone));
    }
    return std::nullopt;
}

TimeZone TimeZone::utc() { return *named("UTC"); }

TimeZone TimeZone::local() {
    std::string profileZone = DeviceProfile::current().timeZoneName;
    if (!profileZone.empty()) {
        if (auto zone = named(profileZone)) return *zone;
    }
    std::unique_ptr<icu::TimeZone> host(icu::TimeZone::detectHostTimeZone());
    if (host) {
        icu::UnicodeString id;
        host->getID(id);
        std::string name = toUtf8(id);
        if (name != "Etc/Unknown") return TimeZone(name, std::shared_ptr<const icu::TimeZone>(host.release()));
    }
    return utc();
}

int TimeZone::secondsFromGMT(Date date) const {
    int32_t raw = 0, dst = 0;
    UErrorCode status = U_ZERO_ERROR;
    zone_->getOffset(date.timeIntervalSince1970() * 1000.0, false, raw, dst, status);
    if (U_FAILURE(status)) return 0;
    return (raw + dst) / 1000;
}

bool TimeZone::isDaylightSavingTime(Date date) const {
    int32_t raw = 0, dst = 0;
    UErrorCode status = U_ZERO_ERROR;
    zone_->getOffset(date.timeIntervalSince1970() * 1000.0, false, raw, dst, status);
    return U_SUCCESS(status) && dst != 0;
}

}  // namespace sys
