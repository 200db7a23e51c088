#include "foundation/BookPageInfo.h"

#include <cmath>

namespace {

long integerAt(const sys::PlistArray& a, size_t i) {
    return i < a.size() && a[i].isNumber() ? long(a[i].integerValue()) : 0;
}

// Booleans were also written as integers 0/1 by the now-page update.
bool boolAt(const sys::PlistArray& a, size_t i) { return i < a.size() && a[i].isNumber() && a[i].boolValue(); }

}  // namespace

BookPageInfo BookPageInfo::fromArray(const sys::PlistArray& a) {
    BookPageInfo info;
    info.pageNo = integerAt(a, 0);
    info.isSecound = boolAt(a, 1);
    info.numPages = integerAt(a, 2);
    if (a.size() > 3 && a[3].isString()) info.targetFolder = a[3].asString();
    info.is2PageLoaded = boolAt(a, 4);
    info.isSubReadPage = boolAt(a, 5);
    info.pageNoSub = integerAt(a, 6);
    info.isSecoundSub = boolAt(a, 7);
    if (a.size() > 8 && (a[8].isInteger() || a[8].isReal())) {
        info.date = sys::Date(double(a[8].unsignedIntegerValue()));
    }
    return info;
}

uint64_t BookPageInfo::secondsOf(sys::Date date) {
    double s = date.timeIntervalSince1970();
    return s > 0 ? uint64_t(std::floor(s)) : 0;
}

sys::PlistArray BookPageInfo::toArray() const {
    return {sys::PlistValue(int64_t(pageNo)),
            sys::PlistValue(isSecound),
            sys::PlistValue(int64_t(numPages)),
            sys::PlistValue(targetFolder),
            sys::PlistValue(is2PageLoaded),
            sys::PlistValue(isSubReadPage),
            sys::PlistValue(int64_t(pageNoSub)),
            sys::PlistValue(isSecoundSub),
            sys::PlistValue(secondsOf(date.value_or(sys::Date::now())))};
}
