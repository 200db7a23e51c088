#include "foundation/ui/QNBadge.h"

#include "platform/ui/Application.h"
#include "platform/ui/UserNotificationCenter.h"

void QNBadge::requireBadge() {
    auto centre = ui::UserNotificationCenter::shared();
    if (!centre) return;
    centre->requestAuthorization(ui::UserNotificationCenter::OptionBadge | ui::UserNotificationCenter::OptionAlert,
                                 [](bool) {});
}

bool QNBadge::canChangeBadge() {
    auto centre = ui::UserNotificationCenter::shared();
    return centre && (centre->authorizedOptions() & ui::UserNotificationCenter::OptionBadge) != 0;
}

void QNBadge::changeBadge(long number) {
    if (!canChangeBadge()) return;
    ui::Application::shared().setApplicationIconBadgeNumber(number);
}
