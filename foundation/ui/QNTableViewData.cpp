#include "foundation/ui/QNTableViewData.h"

void QNTableViewData::assignDictionary(std::shared_ptr<sys::PlistDictionary> dictionary, const std::string& key,
                                       std::vector<sys::PlistValue> valueList) {
    assignDictionary_ = std::move(dictionary);
    assignKey_ = key;
    assignvalueList_ = std::move(valueList);
}

void QNTableViewData::onValueChangedWithObject(const sys::PlistValue& object) {
    if (!assignDictionary_ || assignKey_.empty()) return;
    if (assignvalueList_.empty()) {
        assignDictionary_->set(assignKey_, object);
        return;
    }
    const int64_t index = object.integerValue();
    // A value the list does not cover stores nothing rather than whatever
    // lies past the list.
    if (index < 0 || uint64_t(index) >= assignvalueList_.size()) return;
    assignDictionary_->set(assignKey_, assignvalueList_[size_t(index)]);
}
