#pragma once

#include <cstddef>
#include <cstdint>

// Reading of the lines of an FTP LIST (or MLSD) reply. Servers answer LIST
// in their own formats; the style of a listing is told from its lines and
// each line is then read in that style.
//
// Times come out as 100-ns ticks since 1601-01-01. Formats that list a wall
// time without its zone (Unix, DOS, VMS) are taken to be in the zone
// FtpListTimeZoneHours names: universal time, which is what the common
// servers list unless told otherwise (vsftpd, pyftpdlib); EPLF and MLSD list
// universal time by definition.

// Listing styles.
constexpr int kFtpListStyleUnix = 21;  // ls -l, "Mon DD HH:MM" or "Mon DD YYYY"
constexpr int kFtpListStyleDos = 22;   // Windows / IIS: "MM-DD-YY HH:MMAM <DIR> name"
constexpr int kFtpListStyleEplf = 23;  // "+facts,\tname"
constexpr int kFtpListStyleMlsd = 24;  // "type=file;size=1;modify=YYYYMMDDHHMMSS; name"
constexpr int kFtpListStyleVms = 25;   // "NAME.EXT;1  4/8  1-JAN-2020 12:00:00 [G,O] (RWED,...)"

// Further flags of ftpListParseLine.
constexpr int kFtpListFlagLink = 1;

// 1601-01-01 to 1970-01-01 in 100-ns ticks.
constexpr int64_t kFtpListTicksTo1970 = 116444736000000000LL;

// Laid out as the date record of the platform this code first ran on.
struct FtpListDate {
    uint16_t year = 0, month = 0, dayOfWeek = 0, day = 0, hour = 0, minute = 0, second = 0, milliseconds = 0;
};

// The hours that listed wall times are ahead of universal time: 0.
int FtpListTimeZoneHours();
// The current local date and time (day of week and milliseconds untouched).
void FtpListCurrentDate(FtpListDate* date);
// Just past the first UTF-8 character of `s` (one byte when it is not UTF-8).
const char* FtpListNextChar(const char* s);

// The style of a LIST line, or of the first line of a listing that has one;
// -1 when no style fits.
int ftpListDetectStyle(const char* text);
// Reads one line in `style`: the name (NUL-terminated, cut to nameSize
// bytes at a character boundary), the size (-1 when the line gives none, as
// an MLSD or EPLF line may), the time and flags. Returns 0
// for a folder, 1 for a file (a link counts as a file and sets
// kFtpListFlagLink), -1 when the line does not read in that style.
int ftpListParseLine(const char* line, int style, char* name, size_t nameSize, int64_t* size, int64_t* time,
                     int* flags);
