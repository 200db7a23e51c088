#include "foundation/StatisticsStore.h"

#include "foundation/BookCommon.h"
#include "platform/core/FileManager.h"
#include "platform/core/PropertyList.h"

namespace {

std::shared_ptr<StatisticsStore>& sharedSlot() {
    static std::shared_ptr<StatisticsStore> store;
    return store;
}

}  // namespace

std::shared_ptr<StatisticsStore> StatisticsStore::sharedStatisticsStore() {
    auto& slot = sharedSlot();
    if (!slot) {
        slot = std::shared_ptr<StatisticsStore>(new StatisticsStore());
        slot->load();
    }
    return slot;
}

void StatisticsStore::releaseSharedStatisticsStore() { sharedSlot().reset(); }

std::string StatisticsStore::filePath() { return BookCommon::getSettingsFolder() + "/.statistics.lbs"; }

void StatisticsStore::load() {
    auto d = sys::PropertyList::readDictionary(filePath());
    if (d) {
        staticticsStartDate_ = d->getDate("staticticsStartDate");
        totalReadBooks_ = d->getInteger("totalReadBooks");
        totalReadPages_ = d->getInteger("totalReadPages");
    }
    if (!staticticsStartDate_) resetStatistics();
}

void StatisticsStore::incrementBookTotal() {
    ++totalReadBooks_;
    update();
}

void StatisticsStore::incrementPageTotal() {
    ++totalReadPages_;
    update();
}

void StatisticsStore::resetStatistics() {
    totalReadBooks_ = 0;
    totalReadPages_ = 0;
    staticticsStartDate_ = sys::Date::now();
    update();
}

void StatisticsStore::update() {
    if (!staticticsStartDate_) return;
    sys::PlistDictionary d{{"totalReadPages", sys::PlistValue(totalReadPages_)},
                           {"totalReadBooks", sys::PlistValue(totalReadBooks_)},
                           {"staticticsStartDate", sys::PlistValue(*staticticsStartDate_)}};
    sys::FileManager::createDirectory(BookCommon::getSettingsFolder(), true);
    sys::PropertyList::writeFile(sys::PlistValue(std::move(d)), filePath());
}
