#include "remote/protocols/FtpListParser.h"

#include "platform/core/Date.h"

#include <cstring>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

namespace {

struct Token {
    std::string_view text;
    size_t end = 0;  // offset just past the token in the line
};

bool isSpace(char c) { return c == ' ' || c == '\t'; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

bool allDigits(std::string_view s) {
    if (s.empty()) return false;
    for (char c : s) {
        if (!isDigit(c)) return false;
    }
    return true;
}

// A decimal number of at most 18 digits (no overflow); -1 otherwise.
int64_t number(std::string_view s) {
    if (!allDigits(s) || s.size() > 18) return -1;
    int64_t v = 0;
    for (char c : s) v = v * 10 + (c - '0');
    return v;
}

// The line without its end of line.
std::string_view body(const char* line) {
    std::string_view s(line);
    const size_t eol = s.find_first_of("\r\n");
    return eol == std::string_view::npos ? s : s.substr(0, eol);
}

std::vector<Token> tokens(std::string_view s, size_t max) {
    std::vector<Token> out;
    size_t i = 0;
    while (i < s.size() && out.size() < max) {
        while (i < s.size() && isSpace(s[i])) ++i;
        if (i >= s.size()) break;
        const size_t b = i;
        while (i < s.size() && !isSpace(s[i])) ++i;
        out.push_back({s.substr(b, i - b), i});
    }
    return out;
}

int monthOf(std::string_view s) {
    static const char* const kMonths[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                          "jul", "aug", "sep", "oct", "nov", "dec"};
    if (s.size() != 3) return 0;
    for (int m = 0; m < 12; ++m) {
        bool same = true;
        for (int k = 0; k < 3; ++k) {
            if ((s[k] | 0x20) != kMonths[m][k]) same = false;
        }
        if (same) return m + 1;
    }
    return 0;
}

int64_t daysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = unsigned(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + int64_t(doe) - 719468;
}

bool validDate(int y, int mo, int d, int h, int mi, int s) {
    return y >= 1601 && y <= 9999 && mo >= 1 && mo <= 12 && d >= 1 && d <= 31 && h >= 0 && h <= 23 && mi >= 0 &&
           mi <= 59 && s >= 0 && s <= 60;
}

// Ticks since 1601 of a wall time read as universal time.
int64_t ticksOf(int y, int mo, int d, int h, int mi, int s) {
    const int64_t secs = daysFromCivil(y, unsigned(mo), unsigned(d)) * 86400 + h * 3600 + mi * 60 + s;
    return secs * 10'000'000 + kFtpListTicksTo1970;
}

int64_t localTicks(int y, int mo, int d, int h, int mi, int s) {
    return ticksOf(y, mo, d, h, mi, s) - int64_t(FtpListTimeZoneHours()) * 36'000'000'000LL;
}

void copyName(std::string_view n, char* out, size_t cap) {
    if (!out || cap == 0) return;
    const std::string tmp(n);
    const char* p = tmp.c_str();
    const char* end = p + tmp.size();
    size_t len = 0;
    while (p < end) {
        const char* next = FtpListNextChar(p);
        if (next > end) next = end;
        const size_t step = size_t(next - p);
        if (len + step > cap - 1) break;
        len += step;
        p = next;
    }
    std::memcpy(out, tmp.data(), len);
    out[len] = '\0';
}

// The name as the line has it, from `from` to the end of line (with the end
// of line kept: the listing's reader removes it).
std::string_view restOf(const char* line, size_t from) {
    std::string_view s(line);
    while (from < s.size() && isSpace(s[from])) ++from;
    return from < s.size() ? s.substr(from) : std::string_view();
}

bool hhmm(std::string_view t, int* h, int* m) {
    const size_t colon = t.find(':');
    if (colon == std::string_view::npos || colon == 0 || colon > 2 || t.size() - colon - 1 != 2) return false;
    const int64_t hh = number(t.substr(0, colon)), mm = number(t.substr(colon + 1));
    if (hh < 0 || hh > 23 || mm < 0 || mm > 59) return false;
    *h = int(hh);
    *m = int(mm);
    return true;
}

struct Entry {
    std::string_view name;
    int64_t size = -1;  // none given
    int64_t time = 0;
    int kind = 1;  // 0 folder, 1 file
    int flags = 0;
};

// ls -l: type and permissions, links, owner, [group,] size, date, name.
bool parseUnix(const char* line, Entry* e) {
    const std::string_view s = body(line);
    const auto t = tokens(s, 9);
    if (t.size() < 6) return false;
    const std::string_view perm = t[0].text;
    if (perm.size() < 10 || std::strchr("-dlbcpsD", perm[0]) == nullptr) return false;
    for (size_t i = 1; i < 10; ++i) {
        if (std::strchr("rwxsStTlL-", perm[i]) == nullptr) return false;
    }
    // The month names the date; the size stands just before it.
    for (size_t m = 3; m + 2 < t.size(); ++m) {
        const int month = monthOf(t[m].text);
        if (!month) continue;
        const int64_t size = number(t[m - 1].text);
        const int64_t day = number(t[m + 1].text);
        if (size < 0 || day < 1 || day > 31) continue;
        int year = 0, hour = 0, minute = 0;
        if (hhmm(t[m + 2].text, &hour, &minute)) {
            // Recent files carry no year: this year, or the last one for a
            // date that would lie ahead of today.
            FtpListDate now;
            FtpListCurrentDate(&now);
            year = now.year;
            if (month * 100 + day > now.month * 100 + now.day + 1) --year;
        } else {
            const int64_t y = number(t[m + 2].text);
            if (t[m + 2].text.size() != 4 || y < 1601) continue;
            year = int(y);
        }
        if (!validDate(year, month, int(day), hour, minute, 0)) continue;
        std::string_view name = restOf(line, t[m + 2].end);
        if (name.empty() || name.find_first_not_of("\r\n") == std::string_view::npos) return false;
        e->kind = perm[0] == 'd' ? 0 : 1;
        if (perm[0] == 'l') {
            e->flags |= kFtpListFlagLink;
            const size_t arrow = name.find(" -> ");
            if (arrow != std::string_view::npos) name = name.substr(0, arrow);
        }
        e->name = name;
        e->size = size;
        e->time = localTicks(year, month, int(day), hour, minute, 0);
        return true;
    }
    return false;
}

// "MM-DD-YY  HH:MM[AM|PM]  <DIR>|size  name" (also four-digit years, "/"
// separators and year-first dates).
bool parseDos(const char* line, Entry* e) {
    const std::string_view s = body(line);
    const auto t = tokens(s, 4);
    if (t.size() < 4) return false;
    const std::string_view d = t[0].text;
    if (d.size() < 8 || d.size() > 10) return false;
    const char sep = d[2] == '-' || d[2] == '/' ? d[2] : d[4] == '-' || d[4] == '/' ? d[4] : 0;
    if (!sep) return false;
    std::vector<std::string_view> parts;
    for (size_t b = 0;;) {
        const size_t p = d.find(sep, b);
        parts.push_back(d.substr(b, p == std::string_view::npos ? std::string_view::npos : p - b));
        if (p == std::string_view::npos) break;
        b = p + 1;
    }
    if (parts.size() != 3) return false;
    int64_t y, mo, dd;
    if (parts[0].size() == 4) {
        y = number(parts[0]), mo = number(parts[1]), dd = number(parts[2]);
    } else {
        mo = number(parts[0]), dd = number(parts[1]), y = number(parts[2]);
        if (parts[2].size() == 2 && y >= 0) y += y < 70 ? 2000 : 1900;
    }
    std::string_view tm = t[1].text;
    int ampm = 0;
    if (tm.size() > 2) {
        const char a = char(tm[tm.size() - 2] | 0x20), b = char(tm[tm.size() - 1] | 0x20);
        if (b == 'm' && (a == 'a' || a == 'p')) {
            ampm = a == 'a' ? 1 : 2;
            tm = tm.substr(0, tm.size() - 2);
        }
    }
    int h = 0, mi = 0;
    if (!hhmm(tm, &h, &mi)) return false;
    if (ampm) {
        if (h < 1 || h > 12) return false;
        h = h % 12 + (ampm == 2 ? 12 : 0);
    }
    if (!validDate(int(y), int(mo), int(dd), h, mi, 0)) return false;
    const std::string_view what = t[2].text;
    if (what == "<DIR>") {
        e->kind = 0;
        e->size = 0;
    } else {
        std::string digits;
        for (char c : what) {
            if (c != ',') digits += c;
        }
        const int64_t size = number(digits);
        if (size < 0) return false;
        e->kind = 1;
        e->size = size;
    }
    e->name = restOf(line, t[2].end);
    if (e->name.empty()) return false;
    e->time = localTicks(int(y), int(mo), int(dd), h, mi, 0);
    return true;
}

// 9999-12-31 23:59:59 in seconds since 1970, the last time listings give.
constexpr int64_t kEplfLastSecond = 253'402'300'799;

// Easily parsed LIST format: "+fact,fact,...\tname".
bool parseEplf(const char* line, Entry* e) {
    const std::string_view s(line);
    if (s.empty() || s[0] != '+') return false;
    const size_t tab = s.find('\t');
    if (tab == std::string_view::npos || tab + 1 >= s.size()) return false;
    const std::string_view facts = s.substr(1, tab - 1);
    bool known = false;
    e->kind = 1;
    for (size_t b = 0; b < facts.size();) {
        size_t c = facts.find(',', b);
        if (c == std::string_view::npos) c = facts.size();
        const std::string_view f = facts.substr(b, c - b);
        if (f == "/") e->kind = 0, known = true;
        else if (f == "r") e->kind = 1, known = true;
        else if (!f.empty() && f[0] == 's' && number(f.substr(1)) >= 0) e->size = number(f.substr(1));
        else if (!f.empty() && f[0] == 'm' && number(f.substr(1)) >= 0) {
            // Seconds since 1970; past the year 9999 they are no time (and
            // would overflow the ticks).
            const int64_t seconds = number(f.substr(1));
            if (seconds <= kEplfLastSecond) e->time = seconds * 10'000'000 + kFtpListTicksTo1970;
        }
        b = c + 1;
    }
    e->name = s.substr(tab + 1);
    return known;
}

// MLSD: "fact=value;...; name". The current and parent folder entries are
// listed as "." and "..".
bool parseMlsd(const char* line, Entry* e) {
    const std::string_view s(line);
    const size_t sp = s.find("; ");
    if (sp == std::string_view::npos || s.find('=') > sp) return false;
    const std::string_view facts = s.substr(0, sp + 1);
    bool typed = false;
    for (size_t b = 0; b < facts.size();) {
        size_t c = facts.find(';', b);
        if (c == std::string_view::npos) c = facts.size();
        const std::string_view f = facts.substr(b, c - b);
        const size_t eq = f.find('=');
        if (eq == std::string_view::npos) return false;
        std::string key(f.substr(0, eq));
        for (char& ch : key) ch = char(ch | 0x20);
        std::string value(f.substr(eq + 1));
        for (char& ch : value) ch = key == "type" ? char(ch | 0x20) : ch;
        if (key == "type") {
            typed = true;
            e->kind = value == "dir" || value == "cdir" || value == "pdir" ? 0 : 1;
        } else if (key == "size" && number(value) >= 0) {
            e->size = number(value);
        } else if (key == "modify" && value.size() >= 14 && allDigits(std::string_view(value).substr(0, 14))) {
            auto n = [&](size_t at, size_t len) { return int(number(std::string_view(value).substr(at, len))); };
            const int y = n(0, 4), mo = n(4, 2), d = n(6, 2), h = n(8, 2), mi = n(10, 2), se = n(12, 2);
            if (validDate(y, mo, d, h, mi, se)) e->time = ticksOf(y, mo, d, h, mi, se);
        }
        b = c + 1;
    }
    e->name = s.substr(sp + 2);
    if (e->name.empty()) return false;
    return typed;
}

// VMS: "NAME.EXT;1  used/allocated  DD-MON-YYYY HH:MM[:SS]  [group,owner]  (protection)".
bool parseVms(const char* line, Entry* e) {
    const std::string_view s = body(line);
    const auto t = tokens(s, 4);
    if (t.size() < 4) return false;
    const std::string_view fn = t[0].text;
    const size_t semi = fn.rfind(';');
    if (semi == std::string_view::npos || semi == 0 || !allDigits(fn.substr(semi + 1))) return false;
    const std::string_view blocks = t[1].text.substr(0, t[1].text.find('/'));
    const int64_t used = number(blocks);
    if (used < 0) return false;
    const std::string_view d = t[2].text;
    const size_t d1 = d.find('-'), d2 = d.rfind('-');
    if (d1 == std::string_view::npos || d1 == d2) return false;
    const int64_t day = number(d.substr(0, d1)), year = number(d.substr(d2 + 1));
    const int month = monthOf(d.substr(d1 + 1, d2 - d1 - 1));
    int h = 0, mi = 0, se = 0;
    std::string_view tm = t[3].text;
    if (tm.size() > 5 && tm[tm.size() - 3] == ':') {
        se = int(number(tm.substr(tm.size() - 2)));
        tm = tm.substr(0, tm.size() - 3);
    }
    if (!month || !hhmm(tm, &h, &mi) || !validDate(int(year), month, int(day), h, mi, se)) return false;
    std::string_view name = fn.substr(0, semi);
    e->kind = 1;
    if (name.size() > 4 && name.substr(name.size() - 4) == ".DIR") {
        name = name.substr(0, name.size() - 4);
        e->kind = 0;
    }
    e->name = name;
    e->size = used > INT64_MAX / 512 ? 0 : used * 512;
    e->time = localTicks(int(year), month, int(day), h, mi, se);
    return true;
}

bool parseStyle(const char* line, int style, Entry* e) {
    switch (style) {
    case kFtpListStyleUnix: return parseUnix(line, e);
    case kFtpListStyleDos: return parseDos(line, e);
    case kFtpListStyleEplf: return parseEplf(line, e);
    case kFtpListStyleMlsd: return parseMlsd(line, e);
    case kFtpListStyleVms: return parseVms(line, e);
    default: return false;
    }
}

}  // namespace

int FtpListTimeZoneHours() { return 0; }

void FtpListCurrentDate(FtpListDate* date) {
    if (!date) return;
    const time_t now = time_t(sys::Date::now().timeIntervalSince1970());
    struct tm tmv {};
    localtime_r(&now, &tmv);
    date->year = uint16_t(tmv.tm_year + 1900);
    date->month = uint16_t(tmv.tm_mon + 1);
    date->day = uint16_t(tmv.tm_mday);
    date->hour = uint16_t(tmv.tm_hour);
    date->minute = uint16_t(tmv.tm_min);
    date->second = uint16_t(tmv.tm_sec);
}

const char* FtpListNextChar(const char* s) {
    if (!s || !*s) return s;
    const unsigned char c = static_cast<unsigned char>(s[0]);
    size_t n = c < 0x80 ? 1 : (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 0;
    if (n == 0 || (n == 2 && c < 0xC2) || (n == 4 && c > 0xF4)) return s + 1;
    for (size_t k = 1; k < n; ++k) {
        if ((static_cast<unsigned char>(s[k]) & 0xC0) != 0x80) return s + 1;
    }
    return s + n;
}

int ftpListDetectStyle(const char* text) {
    if (!text) return -1;
    std::string_view all(text);
    // EPLF and MLSD first: their lines could never read as the others.
    static const int kOrder[] = {kFtpListStyleEplf, kFtpListStyleMlsd, kFtpListStyleUnix, kFtpListStyleDos,
                                 kFtpListStyleVms};
    for (size_t b = 0; b < all.size();) {
        size_t e = all.find('\n', b);
        if (e == std::string_view::npos) e = all.size();
        const std::string line(all.substr(b, e - b));
        for (int style : kOrder) {
            Entry entry;
            if (parseStyle(line.c_str(), style, &entry)) return style;
        }
        b = e + 1;
    }
    return -1;
}

int ftpListParseLine(const char* line, int style, char* name, size_t nameSize, int64_t* size, int64_t* time,
                     int* flags) {
    if (!line) return -1;
    Entry e;
    if (!parseStyle(line, style, &e)) return -1;
    copyName(e.name, name, nameSize);
    if (size) *size = e.size;
    if (time) *time = e.time;
    if (flags) *flags = e.flags;
    return e.kind;
}
