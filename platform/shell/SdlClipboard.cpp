#include "platform/shell/SdlClipboard.h"

#include <SDL.h>

namespace shell {

std::string SdlClipboard::text(ui::Pasteboard::Kind kind) {
    char* t = nullptr;
    if (kind == ui::Pasteboard::Kind::Clipboard) {
        t = SDL_GetClipboardText();
    } else {
#if SDL_VERSION_ATLEAST(2, 26, 0)
        t = SDL_GetPrimarySelectionText();
#endif
    }
    if (!t) return {};
    std::string out(t);
    SDL_free(t);
    return out;
}

void SdlClipboard::setText(ui::Pasteboard::Kind kind, const std::string& text) {
    if (kind == ui::Pasteboard::Kind::Clipboard) {
        SDL_SetClipboardText(text.c_str());
        return;
    }
#if SDL_VERSION_ATLEAST(2, 26, 0)
    SDL_SetPrimarySelectionText(text.c_str());
#endif
}

}  // namespace shell
