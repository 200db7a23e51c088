#pragma once

// The list of remote-book caches. For now only its class operations: the
// settings store expires old caches at every load.
class StreamConfigListViewController {
public:
    StreamConfigListViewController() = delete;

    static double getExpireDateWIthStreamConfigExpireDays(int code);
    static void removeStreamConfigWithDays(int code);
};
