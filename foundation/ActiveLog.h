#pragma once

#include "foundation/CrashReportPresenter.h"

#include <memory>
#include <optional>
#include <string>

// The activity log: fixed 18-byte lines in Documents/_activelog.txt marking
// the life cycle and the reading engine's checkpoints and errors. When the
// previous run did not end on a clean mark (background or termination), its
// tail becomes a crash report offered to the user. Only while the user
// default "enable_crashlog" is on.
//
// Entries may come from any thread; each is written whole, under one lock,
// and reaches the file at once.
class ActiveLog : public std::enable_shared_from_this<ActiveLog> {
public:
    // Longest crash report body, in bytes (the last 50 lines).
    static constexpr size_t kReportTailBytes = 900;
    static constexpr size_t kLineBytes = 18;

    // Makes the instance when there is none and the log is enabled.
    static void createInstance();

    static void applicationdidFinishLaunching();
    static void applicationWillEnterForeground();
    static void applicationDidEnterBackground();
    static void applicationWillTerminate();

    static void writeCheckpoint(const std::string& message);
    static void writeError(const std::string& message);
    // `type` is "C" or "E"; the entry keeps only a digest of the message.
    static void writeLog(const std::string& message, const std::string& type);

    // The whole current file, or "[CrashLog is disabled]".
    static std::string getActiveLog();

    // Offers the previous run's crash report, when one is held.
    static void presentCrashLog(std::shared_ptr<CrashReportPresenter> presenter);

    // The report held from the previous run, if any (the instance's).
    static std::optional<std::string> pendingCrashReport();
    static bool hasInstance();
    static std::string logFilePath();
    // The entry line written for a message ("C" or "E" + 16 hex digits + "\n").
    static std::string entryLine(const std::string& message, const std::string& type);
    // The report built from a previous log's contents, or nothing when that
    // run ended cleanly.
    static std::optional<std::string> crashReportFromPreviousLog(const std::string& contents);

    // Where the report is mailed.
    static const char* const kCrashReportAddress;

    ~ActiveLog();

    // Appends the bytes and flushes them to disk.
    void addLog(const std::string& text);
    void closeLogFile();
    void presentCrashLogCheck(std::shared_ptr<CrashReportPresenter> presenter);

private:
    ActiveLog();
    void onQuestionAnswered(int buttonIndex);

    int fileHandle_ = -1;
    std::optional<std::string> prevLog_;
    std::shared_ptr<CrashReportPresenter> viewController_;
};
