#pragma once

#include <map>
#include <string>

// Takes a shared link a help page offers ("name" and "link").
class AboutViewControllerExDelegate {
public:
    virtual ~AboutViewControllerExDelegate() = default;
    virtual void receiveQuery(const std::map<std::string, std::string>& query) { (void)query; }
};
