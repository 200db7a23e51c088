#include "screens/PassCodeRequet.h"

#include "foundation/BookCommon.h"
#include "platform/core/Path.h"
#include "platform/core/RunLoop.h"

#include <cstdio>
#include <mutex>

namespace {
std::mutex gMutex;
PassCodeRequet::Authenticator gAuthenticator;
}  // namespace

void PassCodeRequet::setAuthenticator(Authenticator authenticator) {
    std::lock_guard<std::mutex> lock(gMutex);
    gAuthenticator = std::move(authenticator);
}

std::string PassCodeRequet::reason() const {
    std::string name = BookCommon::getLockedFolderOriginalName(sys::Path::lastPathComponent(target_.path));
    std::string format = BookCommon::localizedStringWithOnOff("%@ is locked.");
    size_t at = format.find("%@");
    if (at == std::string::npos) return format;
    return format.substr(0, at) + name + format.substr(at + 2);
}

void PassCodeRequet::answer(Outcome outcome) {
    auto self = shared_from_this();
    sys::RunLoop::main().post([self, outcome] {
        auto d = self->delegate_.lock();
        if (!d) return;
        if (outcome == Outcome::Cancelled) d->cancelRequestPasscode(self->target_);
        else d->finishRequestPasscode(self->target_, outcome == Outcome::Success);
    });
}

void PassCodeRequet::requestPasscode() {
    Authenticator auth;
    {
        std::lock_guard<std::mutex> lock(gMutex);
        auth = gAuthenticator;
    }
    if (!auth) {
        answer(Outcome::Failed);
        return;
    }
    auto self = shared_from_this();  // kept until the answer has been posted
    auth(reason(), [self](Outcome outcome) { self->answer(outcome); });
}
