#include "remote/ServerListViewControllerEx.h"

#include "foundation/EncodeASCIIStringElements.h"
#include "platform/ui/NavigationController.h"

ServerListViewControllerEx::ServerListViewControllerEx(int style) : style_(style) {}

void ServerListViewControllerEx::receiveQuery(const sys::PlistDictionary& query) {
    const sys::PlistValue* name = query.find("name");
    const sys::PlistValue* link = query.find("link");
    if (!name || !link || !name->isString() || !link->isString()) return;
    googleDriveList_.push_back(
        sys::PlistDictionary{{"name", sys::PlistValue(name->asString())},
                             {"link", sys::PlistValue(EncodeASCIIStringElements::stringEncodeASCIIStringElements(
                                          link->asString()))}});
    if (auto* nav = navigationController()) nav->popViewController(true);
}
