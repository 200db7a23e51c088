#include "remote/ServerListViewControllerEx.h"

#include "foundation/EncodeASCIIStringElements.h"
#include "platform/ui/NavigationController.h"

ServerListViewControllerEx::ServerListViewControllerEx(int style)
    : QNTableViewController(style == 1 ? ui::TableViewStyle::Grouped : ui::TableViewStyle::Plain) {}

void ServerListViewControllerEx::receiveQuery(const std::map<std::string, std::string>& query) {
    auto name = query.find("name");
    auto link = query.find("link");
    if (name == query.end() || link == query.end()) return;
    googleDriveList_.push_back(
        sys::PlistDictionary{{"name", sys::PlistValue(name->second)},
                             {"link", sys::PlistValue(EncodeASCIIStringElements::stringEncodeASCIIStringElements(
                                          link->second))}});
    // The About screen lies on the tab container's navigation stack.
    if (auto nav = qnNavigationController()) {
        nav->popViewController(true);
    } else if (auto* own = navigationController()) {
        own->popViewController(true);
    }
}
