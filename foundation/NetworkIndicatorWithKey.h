#pragma once

#include <memory>
#include <set>
#include <string>

// A counted network-activity mark: each activity under way holds a key, and
// the system's indicator shows while any key is held.
class NetworkIndicatorWithKey {
public:
    // The shared instance, made on first use.
    static std::shared_ptr<NetworkIndicatorWithKey> networkIndicatorWithKey();
    // Hides the indicator and drops the shared instance with its keys.
    static void releaseNetworkIndicatorWithKey();

    // Runs later on the main loop (callable from any thread): true records
    // the key and shows the indicator; false removes it and hides the
    // indicator once no key remains.
    void visible(bool flag, const std::string& key);

    // Keys held now (main thread).
    size_t keyCount() const { return keys_.size(); }

private:
    NetworkIndicatorWithKey() = default;
    std::set<std::string> keys_;
};
