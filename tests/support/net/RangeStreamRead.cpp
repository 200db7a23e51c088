#include "tests/support/net/RangeStreamRead.h"

#include "tests/support/net/HttpGetRequest.h"

#include <algorithm>
#include <vector>

namespace test {

namespace {

// "bytes a-b/total" or "bytes */total".
bool parseContentRange(const std::string& v, int64_t* first, int64_t* last, int64_t* total) {
    if (v.compare(0, 6, "bytes ") != 0) return false;
    size_t slash = v.find('/');
    if (slash == std::string::npos) return false;
    std::string span = v.substr(6, slash - 6);
    std::string tot = v.substr(slash + 1);
    if (tot.empty() || tot.find_first_not_of("0123456789") != std::string::npos) return false;
    *total = std::stoll(tot);
    if (span == "*") {
        *first = *last = -1;
        return true;
    }
    size_t dash = span.find('-');
    if (dash == std::string::npos || dash == 0 || dash + 1 >= span.size()) return false;
    *first = std::stoll(span.substr(0, dash));
    *last = std::stoll(span.substr(dash + 1));
    return true;
}

}  // namespace

RangeStreamRead::RangeStreamRead(Fetch fetch) : fetch_(fetch) {}

RangeStreamRead::~RangeStreamRead() { closeURL(); }

void RangeStreamRead::registerForHttp(Fetch fetch) {
    for (int protocol : {kHTTP, kHTTPURL}) {
        registerStreamClass(protocol, [fetch] { return std::make_shared<RangeStreamRead>(fetch); });
    }
}

void RangeStreamRead::stopLoader() {
    loader_.requestStop();
    wakeLoader();
    if (!loader_.isCurrent()) loader_.join();
}

void RangeStreamRead::closeURL() {
    RemoteStreamRead::closeURL();
    stopLoader();
}

void RangeStreamRead::cancelStreaming() {
    RemoteStreamRead::cancelStreaming();
    stopLoader();
}

bool RangeStreamRead::openURL(const std::string& url) {
    setTargetURL(url);
    if (isOfflineMode()) {
        // Only what an earlier download completed.
        return isCacheComplete() && prepareCacheFiles();
    }

    HttpGetRequest probe;
    if (!probe.open(url, {"Range: bytes=0-0"}, [this] { return isExitStream(); })) return false;
    int64_t first = 0, last = 0, total = -1;
    if (probe.status() == 200) {
        setIsUnsupportedServer(true);
        return false;
    }
    if ((probe.status() != 206 && probe.status() != 416) ||
        !parseContentRange(probe.header("content-range"), &first, &last, &total)) {
        return false;
    }
    // 416 on the first byte: the file is empty.
    if (probe.status() == 416 && total != 0) return false;

    std::string etag = probe.header("etag");
    validatorIsETag_ = !etag.empty();
    setValidator(validatorIsETag_ ? etag : probe.header("last-modified"));
    setContentLength(total);
    if (!prepareCacheFiles()) return false;
    loader_ = sys::Thread([this](const std::atomic<bool>& stop) { run(stop); }, "range-loader");
    return true;
}

int64_t RangeStreamRead::neededBlock() const {
    if (!waitForReadByte()) return -1;
    const uint64_t end = std::min<uint64_t>(blockNeedEnd(), blockLength() ? blockLength() - 1 : 0);
    for (uint64_t b = blockNeed(); b <= end && b < blockLength(); ++b) {
        if (!isBlockCached(b)) return int64_t(b);
    }
    return -1;
}

void RangeStreamRead::run(const std::atomic<bool>& stop) {
    int failures = 0;
    while (!stop && !isExitStream()) {
        int64_t block;
        if (fetch_ == Fetch::OnDemand) {
            if (!waitForReader(60.0)) continue;
            block = neededBlock();
            if (block < 0) continue;
        } else {
            block = findNextBlock();
            if (block < 0) {
                markCacheComplete();
                return;
            }
        }
        switch (fetchBlock(uint64_t(block), stop)) {
        case Outcome::Done:
            failures = 0;
            break;
        case Outcome::Retry:
            if (++failures >= kAttempts) {
                setIsError();
                return;
            }
            break;
        case Outcome::Fatal:
            if (!isExitStream() && !stop) setIsError();
            return;
        }
    }
}

RangeStreamRead::Outcome RangeStreamRead::fetchBlock(uint64_t block, const std::atomic<bool>& stop) {
    const int64_t first = int64_t(block * kBlockSize);
    const int64_t last = std::min<int64_t>(contentLength(), first + int64_t(kBlockSize)) - 1;
    ++blockRequests_;
    HttpGetRequest req;
    auto stopped = [this, &stop] { return stop.load() || isExitStream(); };
    if (!req.open(targetURL(), {"Range: bytes=" + std::to_string(first) + "-" + std::to_string(last)}, stopped)) {
        return stopped() ? Outcome::Fatal : Outcome::Retry;
    }
    if (req.status() == 200) {
        setIsUnsupportedServer(true);
        return Outcome::Fatal;
    }
    if (req.status() == 416) return Outcome::Fatal;
    if (req.status() != 206) return Outcome::Retry;
    int64_t f = 0, l = 0, total = 0;
    if (!parseContentRange(req.header("content-range"), &f, &l, &total) || f != first || l != last ||
        total != contentLength()) {
        return Outcome::Fatal;
    }
    // Another version of the file must not be mixed into the cached one.
    if (validatorIsETag_ && req.header("etag") != validator()) return Outcome::Fatal;

    beginTransfer(block);
    std::vector<char> buf(65536);
    int64_t got = 0;
    const int64_t expected = last - first + 1;
    while (got < expected) {
        int64_t r = req.read(buf.data(), size_t(std::min<int64_t>(int64_t(buf.size()), expected - got)));
        if (r <= 0) {
            endTransfer();
            return stopped() ? Outcome::Fatal : Outcome::Retry;
        }
        if (!appendTransferBytes(buf.data(), size_t(r))) {
            endTransfer();
            return Outcome::Fatal;
        }
        got += r;
    }
    endTransfer();
    return Outcome::Done;
}

}  // namespace test
