#pragma once

#include "remote/TransferItem.h"

#include <memory>
#include <vector>

// The screen that watches the transfer queue; one at a time, told on the
// main thread.
class BookTransferDelegate {
public:
    using Items = std::vector<std::shared_ptr<TransferItem>>;
    virtual ~BookTransferDelegate() = default;
    // One-item form when exactly the item at removeOneIndex left the queue.
    virtual void onChangeCue(const Items& cue, bool isChangeOneItem, int removeOneIndex) = 0;
    // changeType 0: one item on top; 1: one on top and the oldest dropped;
    // 2: the item at removeOneIndex removed; 3: anything else.
    virtual void onChangeRecentCue(const Items& recent, int changeType, int removeOneIndex) = 0;
    // An item started, or nothing runs (null).
    virtual void onChangeTransferItem(const std::shared_ptr<TransferItem>& item) = 0;
    virtual void onChangeTransferProgress(const std::shared_ptr<TransferItem>& item) = 0;
};
