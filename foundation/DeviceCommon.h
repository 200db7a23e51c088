#pragma once

#include <string>

// The device model: its identifier ("iPhone7,2"), a type code from the
// model table and the code's display name. Newer devices are told apart by
// their screen size instead (BookCommon's screen classes), so they give 0.
class DeviceCommon {
public:
    DeviceCommon() = delete;

    // The model identifier of the current device profile (the machine name
    // on a desktop).
    static std::string getDeviceName();
    // 1-22 from the model table, 0 for any other identifier.
    static int getDeviceType();
    static int getDeviceTypeWithName(const std::string& modelIdentifier);
    // The code's display name; the identifier itself for codes outside 1-22.
    static std::string getDeviceDisplayName();
    static std::string getDeviceDisplayNameWithType(int type, const std::string& modelIdentifier);
};
