#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

typedef struct _GDBusConnection GDBusConnection;
typedef struct _GVariant GVariant;
typedef struct _GDBusMethodInvocation GDBusMethodInvocation;

namespace test {

class BusServiceThread;

// A stand-in for the XDG desktop portal on a test's own session bus: it
// owns org.freedesktop.portal.Desktop and answers FileChooser's OpenFile as
// the test orders, and Settings' Read of the desktop's colour scheme and
// contrast (as the portal does, the value in two variants), from a thread
// of its own with its own main context, recording what it was asked.
class FakePortal {
public:
    enum class Answer {
        Pick,             // the files given, after the reply (as a portal does)
        PickBeforeReply,  // the files given, the signal sent before the reply
        Cancel,           // the user closed the dialog (response 1)
        Fail,             // the interaction ended otherwise (response 2)
        Never,            // no answer until the request is closed
        Leave             // the portal leaves the bus without answering
    };
    struct Call {
        std::string parentWindow;
        std::string title;
        std::string token;
        bool multiple = true;
        std::vector<std::pair<uint32_t, std::string>> filter;  // the first filter's kinds
    };

    // `fileChooser` false: the portal object is there without a file chooser.
    explicit FakePortal(const std::string& busAddress, bool fileChooser = true);
    ~FakePortal();
    bool owned() const { return owned_; }

    void answer(Answer how, std::vector<std::string> uris = {});
    // org.freedesktop.appearance's color-scheme (none: the setting is not
    // there); a change is announced with SettingChanged, as the portal does.
    void setColorScheme(std::optional<uint32_t> scheme);
    // org.freedesktop.appearance's contrast (1 asks for higher contrast), likewise.
    void setContrast(std::optional<uint32_t> contrast);
    // Announces a setting's new value (any namespace and key) as the portal does.
    void announce(const std::string& space, const std::string& key, uint32_t value);
    // How often the colour scheme was read.
    int colorSchemeReads() const { return reads_; }
    std::vector<Call> calls();
    // The request paths whose Close was called.
    std::vector<std::string> closes();

private:
    static void onCall(GDBusConnection*, const char* sender, const char* path, const char*, const char* method,
                       GVariant* parameters, GDBusMethodInvocation* invocation, void* self);

    std::mutex mutex_;
    std::atomic<bool> owned_{false};
    std::atomic<GDBusConnection*> bus_{nullptr};
    std::atomic<int> reads_{0};
    // Whether the value changed (and is there to announce).
    bool set(std::optional<uint32_t>& setting, std::optional<uint32_t> value);

    std::optional<uint32_t> scheme_;
    std::optional<uint32_t> contrast_;
    Answer answer_ = Answer::Cancel;
    std::vector<std::string> uris_;
    std::vector<Call> calls_;
    std::vector<std::string> closes_;
    std::unique_ptr<BusServiceThread> service_;  // last: it goes first
};

}  // namespace test
