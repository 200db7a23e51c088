#pragma once

#include "foundation/ui/QNTableViewController.h"
#include "platform/core/RunLoop.h"
#include "remote/protocols/QNSsdpDelegate.h"

#include <memory>
#include <string>
#include <vector>

class QNSsdp;
class QNNetworkInfo;
class MediaServerAutodetectionControllerDelegate;

// The server search: lists the media servers that answer on the local
// network while the screen is shown. The "Browser Types" switches are read
// each time a search starts; of their four methods only SSDP has a searcher
// in this program, so with SSDP switched off nothing is searched and the
// screen says so. A search lasts as long as the SSDP search time; the
// refresh button starts a new one. Picking a server tells the delegate.
class MediaServerAutodetectionController : public QNTableViewController, public QNSsdpDelegate {
public:
    struct FoundServer {
        std::string address;
        std::string name;
    };
    enum class State { Idle, Searching, Finished, NoMethod };

    explicit MediaServerAutodetectionController(ui::TableViewStyle style = ui::TableViewStyle::Grouped);
    ~MediaServerAutodetectionController() override;

    void setDelegate(std::weak_ptr<MediaServerAutodetectionControllerDelegate> d) { delegate_ = std::move(d); }
    // The interfaces to search on in place of the system's (tests).
    void setNetworkInfo(std::shared_ptr<const QNNetworkInfo> info) { networkInfo_ = std::move(info); }

    // Reads the discovery switches and starts every method that is on; a
    // search already running is stopped first and the list emptied.
    void startSearch();
    void stopSearch();
    State state() const { return state_; }
    const std::vector<FoundServer>& foundServers() const { return found_; }

    void didFindDevice(const std::string& address, const std::string& modelName) override;

    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;
    void viewWillDisappear(bool animated) override;
    void viewWillTransitionToSize(ui::Size size, const std::shared_ptr<ui::TransitionCoordinator>& coordinator) override;
    int numberOfSectionsInTableView(ui::TableView&) override { return 1; }
    int tableViewNumberOfRowsInSection(ui::TableView&, int) override;
    std::shared_ptr<ui::TableViewCell> tableViewCellForRowAtIndexPath(ui::TableView&, const ui::IndexPath&) override;
    void tableViewDidSelectRowAtIndexPath(ui::TableView&, const ui::IndexPath&) override;

    // The row text shown while the list is empty.
    std::string statusText() const;

private:
    void searchTimeUp();
    void reload();

    std::weak_ptr<MediaServerAutodetectionControllerDelegate> delegate_;
    std::shared_ptr<const QNNetworkInfo> networkInfo_;
    std::unique_ptr<QNSsdp> ssdp_;
    sys::RunLoop::TimerRef timer_;
    State state_ = State::Idle;
    std::vector<FoundServer> found_;
};
