#pragma once

#include "platform/core/Date.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

// Pages and books read since a start date, kept in ".statistics.lbs" of the
// settings folder. One shared instance; main thread.
class StatisticsStore {
public:
    // Made on first use; reads the file, and starts counting afresh (and
    // writes) when the file is missing or has no start date.
    static std::shared_ptr<StatisticsStore> sharedStatisticsStore();
    // Forgets the shared instance (the next use reads the file again).
    static void releaseSharedStatisticsStore();
    static std::string filePath();

    const std::optional<sys::Date>& staticticsStartDate() const { return staticticsStartDate_; }
    int64_t totalReadBooks() const { return totalReadBooks_; }
    int64_t totalReadPages() const { return totalReadPages_; }

    // Each adds one and writes.
    void incrementBookTotal();
    void incrementPageTotal();
    // 0 books, 0 pages, from now; writes.
    void resetStatistics();
    // Writes; nothing while no start date is set.
    void update();

private:
    StatisticsStore() = default;
    void load();

    std::optional<sys::Date> staticticsStartDate_;
    int64_t totalReadBooks_ = 0;
    int64_t totalReadPages_ = 0;
};
