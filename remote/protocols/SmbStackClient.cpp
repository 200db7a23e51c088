#include "remote/protocols/SmbStackClient.h"

#include <mutex>

namespace {

std::mutex gMutex;
SmbStackClient::Maker gMaker;
SmbStackClient::Resetter gResetter;

}  // namespace

void SmbStackClient::registerMaker(Maker maker, Resetter resetter) {
    std::lock_guard lock(gMutex);
    gMaker = std::move(maker);
    gResetter = std::move(resetter);
}

std::shared_ptr<SmbStackClient> SmbStackClient::make(int slot) {
    Maker maker;
    {
        std::lock_guard lock(gMutex);
        maker = gMaker;
    }
    return maker ? maker(slot) : nullptr;
}

void SmbStackClient::resetStack(int slot) {
    Resetter resetter;
    {
        std::lock_guard lock(gMutex);
        resetter = gResetter;
    }
    if (resetter) resetter(slot);
}
