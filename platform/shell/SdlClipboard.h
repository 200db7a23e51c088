#pragma once

#include "platform/ui/Pasteboard.h"

namespace shell {

// The desktop's clipboard and primary selection through SDL, as the text
// fields' pasteboard store. Used while SDL's video is up.
class SdlClipboard : public ui::Pasteboard::Store {
public:
    std::string text(ui::Pasteboard::Kind kind) override;
    void setText(ui::Pasteboard::Kind kind, const std::string& text) override;
};

}  // namespace shell
