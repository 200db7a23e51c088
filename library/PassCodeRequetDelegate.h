#pragma once

#include <cstdint>
#include <string>

// A locked folder the user wants into, as the passcode screens carry it
// from the list that asked to the answer.
struct PassCodeTarget {
    std::string passCodeHash;
    std::string path;           // full path of the folder
    std::string pathFromBooks;  // the same below the books root
    int64_t actionID = 0;       // what the asking screen does on success
};

// Answers of the biometric passcode request, on the main thread.
class PassCodeRequetDelegate {
public:
    virtual ~PassCodeRequetDelegate() = default;
    virtual void finishRequestPasscode(const PassCodeTarget& request, bool isSuccess) = 0;
    virtual void cancelRequestPasscode(const PassCodeTarget& request) = 0;
};

// Answers of the passcode entry screen.
class PassCodeInputViewExDelegate {
public:
    virtual ~PassCodeInputViewExDelegate() = default;
    virtual void passCodeInputComplete(int64_t actionID, const std::string& path, const std::string& pathFromBooks,
                                       const std::string& passCode) = 0;
    virtual void passCodeInputCancel(int64_t actionID) = 0;
};
