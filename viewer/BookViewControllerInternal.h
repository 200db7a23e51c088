#pragma once

// What the files of the reading screen share: timings of taps and
// functions, and small helpers. Only BookViewController's own files include
// this.

#include "engine/BookReaderEx.h"
#include "foundation/BookCommon.h"
#include "platform/core/RunLoop.h"
#include "platform/ui/ScrollView.h"
#include "viewer/BookViewController.h"

#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace bookviewer {

inline constexpr double kBand = 50;                // the seek bar's thickness
inline constexpr double kFunctionInterval = 0.1;   // at most one function per this
inline constexpr double kSingleTapDelay = 0.3;     // a second tap within this is a double tap
inline constexpr double kSingleTapInterval = 0.5;  // at most one single-tap function per this
inline constexpr double kInvalidTapTick = 1.0;
inline constexpr double kTapSlop = 15;
inline constexpr double kZoomTolerance = 0.01;
inline constexpr double kScrollTick = 1.0 / 60;  // a step of the slideshow's and sound page's slow scroll

// That slow scroll's step: the page one point further down; false once its
// bottom shows.
inline bool scrollDownOnePoint(ui::ScrollView& scroll) {
    const ui::Point o = scroll.contentOffset();
    if (o.y + 1 > scroll.contentSize().height - scroll.bounds().height()) return false;
    scroll.setContentOffset(ui::Point{o.x, o.y + 1});
    return true;
}

// The maker of the streaming overlay the remote sources install.
inline BookViewController::StreamStatusOverlayFactory& overlayFactory() {
    static BookViewController::StreamStatusOverlayFactory f;
    return f;
}

// Brings `blockStatus` (the block map, two bytes an entry) up to the last map
// the stream reported to `session`: blocks that came before the reading
// screen watched the stream (a small book is often whole by then) are only
// known to the session.
inline void takeSessionBlockMap(BookReaderEx& session, std::vector<uint8_t>& blockStatus) {
    bool unitIsPage = false;
    const std::vector<uint16_t> latest = session.lastCacheStatus(&unitIsPage);
    if (latest.empty()) return;
    blockStatus.resize(latest.size() * 2);
    std::memcpy(blockStatus.data(), latest.data(), blockStatus.size());
}

inline std::string tr(const std::string& key) { return BookCommon::localizedStringWithOnOff(key); }

inline bool isPad() { return BookCommon::getDeviceDisplayType() == 1; }

// An owner for work posted from another thread, made without locking it
// there: letting go of the last reference must never end the screen off the
// main thread.
inline sys::LoopOwner ownerFromAnyThread(const std::weak_ptr<ui::ViewController>& weak) {
    sys::LoopOwner o;
    o.ref = weak;
    o.present = true;
    return o;
}

}  // namespace bookviewer
