#pragma once

// Expiry of the per-book caches of books read from servers (the folders
// under Caches/"_st"). The expiry code is the setting "streamExpireDays":
// 0 one day, 1 three days, 2 a week, 3 thirty days, 4 ninety days, 5 a year,
// 6 three years.
class StreamCacheCleaner {
public:
    StreamCacheCleaner() = delete;

    // The code's period in seconds; a code above 6 gives 0 (everything
    // expires); a negative code gives the longest period.
    static double getExpireDateWIthStreamConfigExpireDays(int code);
    // Deletes every book cache whose newest file was modified longer ago
    // than the code's period.
    static void removeStreamConfigWithDays(int code);
};
