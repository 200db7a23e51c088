#pragma once

#include <cstdint>

class QNNoticeView;

// Hears which button closed a notice box.
class QNNoticeViewDelegate {
public:
    virtual ~QNNoticeViewDelegate() = default;
    virtual void didCloseNoticeView(int64_t buttonIndex) = 0;
};
