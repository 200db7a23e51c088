#include "platform/ui/Biometrics.h"

#include "platform/core/RunLoop.h"

#include <mutex>

namespace ui {

namespace {
std::mutex& sharedMutex() {
    static std::mutex m;
    return m;
}
std::shared_ptr<Biometrics>& sharedBiometrics() {
    static std::shared_ptr<Biometrics> b;
    return b;
}
}  // namespace

std::shared_ptr<Biometrics> Biometrics::shared() {
    std::lock_guard<std::mutex> lock(sharedMutex());
    if (!sharedBiometrics()) sharedBiometrics() = std::make_shared<Biometrics>();
    return sharedBiometrics();
}

void Biometrics::setShared(std::shared_ptr<Biometrics> b) {
    std::lock_guard<std::mutex> lock(sharedMutex());
    sharedBiometrics() = std::move(b);
}

void Biometrics::evaluate(const std::string&, Completion completion) {
    if (completion) sys::RunLoop::main().post([completion] { completion(false, kUnavailable); });
}

}  // namespace ui
