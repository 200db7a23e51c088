#pragma once

#include <string>

namespace shell {

// The steps of a script that only the application can carry out: it knows
// its alerts, sheets, navigation and life cycle. Each returns false with a
// reason when the step cannot be done.
class ScriptHost {
public:
    virtual ~ScriptHost() = default;
    // Presses button `index` of the alert (or action sheet) on screen.
    virtual bool pressAlertButton(int index, std::string* error) = 0;
    virtual bool pressSheetButton(int index, std::string* error) = 0;
    // Goes back one screen: closes what is presented, else pops.
    virtual bool goBack(std::string* error) = 0;
    virtual void enterBackground() = 0;
    virtual void enterForeground() = 0;
    // Hands a URL to the application as the system would.
    virtual bool openURL(const std::string& url, std::string* error) = 0;
};

}  // namespace shell
