#pragma once

#include <string>

// What the SMB server asks the application before it shows a file or a
// folder to its clients.
class CIFSStackManagerDataSource {
public:
    virtual ~CIFSStackManagerDataSource() = default;
    virtual bool isAccessibleFileWithPath(const std::string& path) = 0;
    virtual bool isAccessibleDirectoryWithPath(const std::string& path) = 0;
};
