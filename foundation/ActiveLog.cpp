#include "foundation/ActiveLog.h"

#include "foundation/BookCommon.h"
#include "foundation/LibMD5.h"
#include "platform/core/AppPaths.h"
#include "platform/core/UserDefaults.h"
#include "platform/core/WholeWrite.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

const char* const ActiveLog::kCrashReportAddress = "crash-report@leafbright.invalid";

namespace {

const char kLaunchMark[] = "A---------------0\n";
const char kForegroundMark[] = "A---------------1\n";
const char kBackgroundMark[] = "X---------------1\n";
const char kTerminateMark[] = "X---------------0\n";

// One lock for the instance pointer and for every write through it, so that
// lines from several threads never interleave and termination cannot close
// the file under a writer.
std::mutex& logMutex() {
    static std::mutex m;
    return m;
}

std::shared_ptr<ActiveLog>& instanceSlot() {
    static std::shared_ptr<ActiveLog> instance;
    return instance;
}

bool crashLogEnabled() { return sys::UserDefaults::standard().boolForKey("enable_crashlog"); }


// Reads up to `count` bytes at `offset`; fewer at the end of the file.
std::string readAt(int fd, off_t offset, size_t count) {
    std::string out(count, '\0');
    size_t got = 0;
    while (got < count) {
        ssize_t n = ::pread(fd, out.data() + got, count - got, offset + off_t(got));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += size_t(n);
    }
    out.resize(got);
    return out;
}

void writeMark(const char* mark) {
    std::lock_guard<std::mutex> g(logMutex());
    if (auto& inst = instanceSlot()) inst->addLog(mark);
}

}  // namespace

ActiveLog::ActiveLog() {
    std::string path = logFilePath();
    int old = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (old >= 0) {
        struct stat st {};
        if (::fstat(old, &st) == 0) {
            // Only the tail matters: it holds the last line and the report.
            off_t size = st.st_size;
            off_t start = size > off_t(kReportTailBytes) ? size - off_t(kReportTailBytes) : 0;
            prevLog_ = crashReportFromPreviousLog(readAt(old, start, size_t(size - start)));
        }
        ::close(old);
        ::unlink(path.c_str());
    }
    fileHandle_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0600);
}

ActiveLog::~ActiveLog() { closeLogFile(); }

std::string ActiveLog::logFilePath() { return sys::AppPaths::documents() + "/_activelog.txt"; }

std::optional<std::string> ActiveLog::crashReportFromPreviousLog(const std::string& tail) {
    // An empty file means the run died before its first mark was written:
    // there is nothing to report. A file shorter than one line holds only a
    // torn mark, which is no clean end either, so it is reported whole.
    if (tail.empty()) return std::nullopt;
    if (tail.size() >= kLineBytes && tail[tail.size() - kLineBytes] == 'X') return std::nullopt;
    std::string body = tail.size() > kReportTailBytes ? tail.substr(tail.size() - kReportTailBytes) : tail;
    return "\n\n\n[Leafbright " LEAFBRIGHT_VERSION " crash report]\n" + body + "[end]\n";
}

std::string ActiveLog::entryLine(const std::string& message, const std::string& type) {
    LibMD5 md5;
    md5.update(message.data(), message.size());
    uint8_t digest[16];
    md5.final(digest);
    std::string hex = LibMD5::hexString(digest, false);
    return type + hex.substr(0, 16) + "\n";
}

void ActiveLog::createInstance() {
    if (!crashLogEnabled()) return;
    std::lock_guard<std::mutex> g(logMutex());
    auto& inst = instanceSlot();
    if (!inst) inst = std::shared_ptr<ActiveLog>(new ActiveLog());
}

void ActiveLog::applicationdidFinishLaunching() {
    createInstance();
    writeMark(kLaunchMark);
}

void ActiveLog::applicationWillEnterForeground() {
    createInstance();
    writeMark(kForegroundMark);
}

void ActiveLog::applicationDidEnterBackground() { writeMark(kBackgroundMark); }

void ActiveLog::applicationWillTerminate() {
    std::shared_ptr<ActiveLog> dropped;
    {
        std::lock_guard<std::mutex> g(logMutex());
        auto& inst = instanceSlot();
        if (!inst) return;
        inst->addLog(kTerminateMark);
        inst->closeLogFile();
        dropped = std::move(inst);
    }
}

void ActiveLog::writeCheckpoint(const std::string& message) { writeLog(message, "C"); }

void ActiveLog::writeError(const std::string& message) { writeLog(message, "E"); }

void ActiveLog::writeLog(const std::string& message, const std::string& type) {
    std::lock_guard<std::mutex> g(logMutex());
    auto& inst = instanceSlot();
    if (!inst) return;
    inst->addLog(entryLine(message, type));
}

std::string ActiveLog::getActiveLog() {
    if (!crashLogEnabled()) return "[CrashLog is disabled]";
    std::lock_guard<std::mutex> g(logMutex());
    int fd = ::open(logFilePath().c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return "";
    std::string out;
    char buf[4096];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        out.append(buf, size_t(n));
    }
    ::close(fd);
    return out;
}

std::optional<std::string> ActiveLog::pendingCrashReport() {
    std::lock_guard<std::mutex> g(logMutex());
    auto& inst = instanceSlot();
    if (!inst) return std::nullopt;
    return inst->prevLog_;
}

bool ActiveLog::hasInstance() {
    std::lock_guard<std::mutex> g(logMutex());
    return instanceSlot() != nullptr;
}

void ActiveLog::presentCrashLog(std::shared_ptr<CrashReportPresenter> presenter) {
    std::shared_ptr<ActiveLog> inst;
    {
        std::lock_guard<std::mutex> g(logMutex());
        inst = instanceSlot();
    }
    if (inst && presenter) inst->presentCrashLogCheck(std::move(presenter));
}

void ActiveLog::addLog(const std::string& text) {
    if (fileHandle_ < 0) return;
    if (sys::WholeWrite::write(fileHandle_, text.data(), text.size())) ::fdatasync(fileHandle_);
}

void ActiveLog::closeLogFile() {
    if (fileHandle_ >= 0) ::close(fileHandle_);
    fileHandle_ = -1;
}

void ActiveLog::presentCrashLogCheck(std::shared_ptr<CrashReportPresenter> presenter) {
    if (!prevLog_) return;
    viewController_ = std::move(presenter);
    std::weak_ptr<ActiveLog> weak = weak_from_this();
    viewController_->showQuestion(BookCommon::localizedStringWithOnOff("Crash Detected"),
                                  BookCommon::localizedStringWithOnOff("Sorry for the inconvenience.\nPlease send the crash log."),
                                  {BookCommon::localizedStringWithOnOff("Send Crash Log"),
                                   BookCommon::localizedStringWithOnOff("Cancel")},
                                  [weak](int index) {
                                      if (auto self = weak.lock()) self->onQuestionAnswered(index);
                                  });
}

void ActiveLog::onQuestionAnswered(int buttonIndex) {
    constexpr int kCancelIndex = 1;
    std::optional<std::string> report = std::move(prevLog_);
    prevLog_.reset();
    auto presenter = viewController_;
    if (buttonIndex == kCancelIndex || !presenter || !report) return;
    if (!presenter->canSendMail()) {
        presenter->showAlert("Error", "Please configure your Mail account", "OK");
        return;
    }
    std::weak_ptr<ActiveLog> weak = weak_from_this();
    presenter->composeMail("Leafbright Crash report", kCrashReportAddress, *report,
                           [weak, presenter](CrashReportPresenter::MailResult result,
                                             const CrashReportPresenter::MailError& error) {
                               if (result == CrashReportPresenter::MailResult::Failed) {
                                   presenter->showAlert(error.description,
                                                        error.failureReason + "\n" + error.recoverySuggestion,
                                                        "OK");
                                   return;
                               }
                               presenter->dismissMailComposer();
                           });
}
