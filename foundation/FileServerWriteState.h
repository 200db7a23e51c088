#pragma once

#include <memory>
#include <string>

// What the built-in file server tells the lower layers about the files it
// is writing, so that nothing reads a book while a client uploads it. The
// file server implements it and is installed at start-up.
class FileServerWriteState {
public:
    virtual ~FileServerWriteState() = default;

    // True when the path is, as a string, one of the files open for writing.
    virtual bool isOpenForWriteWithPath(const std::string& path) = 0;

    static void install(std::shared_ptr<FileServerWriteState> state);
    static std::shared_ptr<FileServerWriteState> installed();
    // The installed server's answer; false when none is installed.
    static bool isOpenForWrite(const std::string& path);
};
