#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

typedef struct _GDBusConnection GDBusConnection;
typedef struct _GVariant GVariant;
typedef struct _GDBusMethodInvocation GDBusMethodInvocation;

namespace test {

class BusServiceThread;

// Stand-ins for the desktop's notification area and its launcher on a
// test's own session bus: it owns org.freedesktop.Notifications (unless
// told not to), answers GetCapabilities with the capabilities it is given
// (by default those of a service that reads markup; or, told so, never
// answers it) and Notify with ids 1, 2...; and it listens, as a
// dock does, for com.canonical.Unity.LauncherEntry's Update signals. It
// runs on a thread of its own with its own main context and records what
// it was told.
class FakeDesktopServices {
public:
    struct Notice {
        std::string application, icon, summary, body, desktopEntry;
        uint32_t replaces = 0;
        int timeout = 0;
    };
    struct LauncherUpdate {
        std::string appUri;
        bool hasCount = false;
        int64_t count = 0;
        bool countVisible = false;
    };

    explicit FakeDesktopServices(const std::string& busAddress, bool notifications = true,
                                 std::vector<std::string> capabilities = {"body", "body-markup"});
    ~FakeDesktopServices();
    bool ready() const { return ready_; }
    // From now on GetCapabilities gets no answer at all (a service that hangs there).
    void stopAnsweringCapabilities() { answerCapabilities_ = false; }

    std::vector<Notice> notices();
    std::vector<LauncherUpdate> launcherUpdates();
    // Told of each record as it comes (from the service's thread).
    void setRecorder(std::function<void(const std::string& line)> recorder);

private:
    static void onCall(GDBusConnection*, const char* sender, const char* path, const char*, const char* method,
                       GVariant* parameters, GDBusMethodInvocation* invocation, void* self);
    static void onSignal(GDBusConnection*, const char* sender, const char* path, const char* interface,
                         const char* signal, GVariant* parameters, void* self);
    void record(const std::string& line);

    std::mutex mutex_;
    bool ready_ = false;
    std::atomic<bool> answerCapabilities_{true};
    // Calls left unanswered, answered by nobody until the object goes.
    std::vector<GDBusMethodInvocation*> unanswered_;
    uint32_t nextId_ = 1;
    std::vector<std::string> capabilities_;
    std::vector<Notice> notices_;
    std::vector<LauncherUpdate> updates_;
    std::function<void(const std::string&)> recorder_;
    std::unique_ptr<BusServiceThread> service_;  // last: it goes first
};

}  // namespace test
