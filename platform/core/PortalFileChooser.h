#pragma once

#include "platform/core/Thread.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace sys {

// The desktop's own file chooser, asked through the XDG desktop portal
// (org.freedesktop.portal.FileChooser's OpenFile on the session bus, the
// answer coming as the Response signal of the request object). The
// question runs on a worker thread of its own with its own GLib main
// context, so the run loop never waits for the user; the answer comes back
// on the main thread. Where no portal answers (no session bus, no portal,
// a portal without a file chooser), the answer says so at once and the
// caller shows its own screen instead.
class PortalFileChooser {
public:
    static constexpr const char* kService = "org.freedesktop.portal.Desktop";
    static constexpr const char* kPath = "/org/freedesktop/portal/desktop";
    static constexpr const char* kInterface = "org.freedesktop.portal.FileChooser";
    static constexpr const char* kRequestInterface = "org.freedesktop.portal.Request";
    // How long the portal may take to take the question (it may have to be
    // started first); the user then has all the time they need.
    static constexpr double kCallTimeout = 10.0;

    enum class Outcome {
        Picked,      // the user chose; `paths` holds the local files
        Cancelled,   // the user closed the chooser without choosing
        Unavailable  // no portal took the question
    };
    using Completion = std::function<void(Outcome outcome, const std::vector<std::string>& paths)>;

    // The kinds of file offered: MIME types and glob patterns ("*.cbz").
    struct Filter {
        std::string name;
        std::vector<std::string> mimeTypes;
        std::vector<std::string> patterns;
    };

    // `busAddress` empty: the session bus of the environment.
    explicit PortalFileChooser(std::string busAddress = {});
    // Closes an open chooser and waits for its worker.
    ~PortalFileChooser();
    PortalFileChooser(const PortalFileChooser&) = delete;
    PortalFileChooser& operator=(const PortalFileChooser&) = delete;

    // Asks for one file. `parentWindow` is the portal's window handle
    // ("x11:1a00003"), or empty. False, and nothing called, while a question
    // is open; otherwise `completion` runs once on the main thread (never
    // after this object is gone or after cancel()).
    bool openFile(const std::string& title, const Filter& filter, const std::string& parentWindow,
                  Completion completion);
    bool isOpen() const;
    // The program's window as the portal names it ("x11:1a00007"), for
    // callers that do not know it themselves.
    void setParentWindow(std::string handle) { parentWindow_ = std::move(handle); }
    const std::string& parentWindow() const { return parentWindow_; }
    // Closes the open chooser (its answer is dropped).
    void cancel();

    // The request object's path for a connection's unique name and a handle
    // token, as the portal forms it (":1.42", "t" -> ".../request/1_42/t").
    static std::string requestPath(const std::string& uniqueName, const std::string& token);
    // The local paths among the file URIs of an answer (others are left out).
    static std::vector<std::string> localPaths(const std::vector<std::string>& uris);

    // The chooser of a windowed run (none in headless runs and tests).
    static void install(std::shared_ptr<PortalFileChooser> chooser);
    static std::shared_ptr<PortalFileChooser> installed();

private:
    struct Question;
    void finish();

    std::string busAddress_;
    std::string parentWindow_;
    std::shared_ptr<Question> question_;
    Thread worker_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace sys
