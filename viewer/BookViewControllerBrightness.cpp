// The brightness panel opened from the menu sheet's tool bar.
#include "platform/ui/Window.h"
#include "viewer/BookViewControllerInternal.h"
#include "viewer/BrightnessSetting.h"

void BookViewController::showBrightnessPanel() {
    ui::View* host = view()->window() ? static_cast<ui::View*>(view()->window()) : view();
    BrightnessSetting::getBrightnessSetting()->showBrightnessSettingView(*host, 0);
}
