#include "foundation/DeviceCommon.h"

#include "platform/core/DeviceProfile.h"

#include <sys/utsname.h>

namespace {

struct Model {
    const char* identifier;
    int type;
};

const Model kModels[] = {
    {"iPhone1,1", 1}, {"iPhone1,2", 2}, {"iPhone2,1", 3}, {"iPhone3,1", 4}, {"iPhone3,2", 4},
    {"iPhone3,3", 4}, {"iPhone4,1", 5}, {"iPhone4,2", 5}, {"iPhone4,3", 5}, {"iPhone5,1", 6},
    {"iPhone5,2", 6}, {"iPhone6,1", 7}, {"iPhone6,2", 7}, {"iPhone5,3", 8}, {"iPhone5,4", 8},
    {"iPhone7,2", 9}, {"iPhone7,1", 10}, {"iPad1,1", 11}, {"iPad1,2", 11}, {"iPad2,1", 12},
    {"iPad2,2", 12},  {"iPad2,3", 12},  {"iPad2,4", 12},  {"iPad2,5", 13}, {"iPad2,6", 13},
    {"iPad2,7", 13},  {"iPad3,1", 14},  {"iPad3,2", 14},  {"iPad3,3", 14}, {"iPad3,4", 15},
    {"iPad3,5", 15},  {"iPad3,6", 15},  {"iPad4,1", 15},  {"iPad4,2", 15}, {"iPad4,3", 15},
    {"iPad4,4", 15},  {"iPad4,5", 15},  {"iPad4,6", 15},  {"iPod1,1", 18}, {"iPod2,1", 19},
    {"iPod3,1", 20},  {"iPod4,1", 21},  {"iPod5,1", 22},
};

const char* const kDisplayNames[] = {
    "iPhone",           "iPhone 3G",          "iPhone 3GS",         "iPhone 4",           "iPhone 4S",
    "iPhone 5",         "iPhone 5S",          "iPhone 5C",          "iPhone 6",           "iPhone 6 Plus",
    "iPad",             "iPad2",              "iPad mini",          "iPad 3rd-gen",       "iPad 4th-gen",
    "iPad mini Retina", "iPad Air",           "iPod touch 1st-gen", "iPod touch 2nd-gen", "iPod touch 3rd-gen",
    "iPod touch 4th-gen", "iPod touch 5th-gen",
};

}  // namespace

std::string DeviceCommon::getDeviceName() {
    std::string id = sys::DeviceProfile::current().modelIdentifier;
    if (!id.empty()) return id;
    struct utsname u {};
    if (::uname(&u) == 0) return u.machine;
    return "";
}

int DeviceCommon::getDeviceTypeWithName(const std::string& modelIdentifier) {
    for (const auto& m : kModels)
        if (modelIdentifier == m.identifier) return m.type;
    return 0;
}

int DeviceCommon::getDeviceType() { return getDeviceTypeWithName(getDeviceName()); }

std::string DeviceCommon::getDeviceDisplayNameWithType(int type, const std::string& modelIdentifier) {
    if (type >= 1 && type <= 22) return kDisplayNames[type - 1];
    return modelIdentifier;
}

std::string DeviceCommon::getDeviceDisplayName() {
    std::string id = getDeviceName();
    return getDeviceDisplayNameWithType(getDeviceTypeWithName(id), id);
}
