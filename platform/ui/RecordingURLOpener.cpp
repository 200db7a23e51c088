#include "platform/ui/RecordingURLOpener.h"

#include "platform/ui/Application.h"
#include "platform/ui/SystemURLOpener.h"

namespace ui {

std::shared_ptr<RecordingURLOpener> RecordingURLOpener::install(std::set<std::string> schemes) {
    auto r = std::make_shared<RecordingURLOpener>();
    r->schemes = std::move(schemes);
    std::weak_ptr<RecordingURLOpener> weak = r;
    Application::shared().setURLOpener(
        {[weak](const std::string& url) {
             auto self = weak.lock();
             if (!self) return false;
             self->asked.push_back(url);
             return self->schemes.count(SystemURLOpener::scheme(url)) > 0;
         },
         [weak](const std::string& url) {
             auto self = weak.lock();
             if (!self || !self->schemes.count(SystemURLOpener::scheme(url))) return false;
             self->opened.push_back(url);
             return !self->failOpen;
         },
         {}});
    return r;
}

}  // namespace ui
