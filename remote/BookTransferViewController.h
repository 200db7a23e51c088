#pragma once

#include "foundation/ui/QNViewController.h"
#include "platform/ui/TableView.h"
#include "remote/BookTransferDelegate.h"

#include <memory>
#include <string>

class BookTransfer;
class QNProgressView;
class Settings;

namespace ui {
class Button;
class ImageView;
class Label;
}  // namespace ui

// The file transfer screen: the running download with its progress, the
// waiting downloads and the recent ones with their results. It watches the
// queue while its view is loaded and shown, and keeps its own copies of the
// queue's lists, replaced on every change the queue reports.
class BookTransferViewController : public QNViewController,
                                   public ui::TableViewDataSource,
                                   public ui::TableViewDelegate {
public:
    BookTransferViewController() = default;
    ~BookTransferViewController() override;

    void setSettings_(std::shared_ptr<Settings> settings) { settings_ = std::move(settings); }
    const std::shared_ptr<Settings>& settings() const { return settings_; }
    void setBookTransfer_(std::shared_ptr<BookTransfer> transfer) { bookTransfer_ = std::move(transfer); }
    const std::shared_ptr<BookTransfer>& bookTransfer() const { return bookTransfer_; }
    void setReturnToViewController_(std::weak_ptr<ui::ViewController> vc) { returnTo_ = std::move(vc); }
    void setNoTabarea(bool noTabarea) { noTabarea_ = noTabarea; }
    bool noTabarea() const { return noTabarea_; }
    ui::TableView* tableView() const { return tableView_.get(); }
    int mode() const { return mode_; }

    void onChangeCue(const BookTransferDelegate::Items& cue, bool isChangeOneItem, int removeOneIndex);
    void onChangeRecentCue(const BookTransferDelegate::Items& recent, int changeType, int removeOneIndex);
    void onChangeTransferItem(const std::shared_ptr<TransferItem>& item);
    void onChangeTransferProgress(const std::shared_ptr<TransferItem>& item);

    void onCancelTransfer();
    void onCancelTransferAll();
    void onClearHistory();
    void onReturnBtn();
    void onTab1();
    void onTab2();

    // The text after the last "/", percent-decoded; "(Unknown character
    // set)" when it is not readable text.
    static std::string filenameFromURL(const std::string& url);
    // The second tab's caption: with failed entries, their count follows.
    static std::string recentTabTitle(const BookTransferDelegate::Items& recent);

    // Fills the progress panel for the running item, or for none.
    static void drawProgress(const TransferItem* item, QNProgressView* progress, ui::Label* labelSaveName,
                             ui::Label* labelTransferSize, ui::Label* labelTime, ui::Label* labelMessage,
                             ui::Button* cancelButton, ui::Button* cancelAllButton, ui::ImageView* icon,
                             double now);

    // ui::TableViewDataSource / ui::TableViewDelegate
    int numberOfSectionsInTableView(ui::TableView&) override { return 2; }
    int tableViewNumberOfRowsInSection(ui::TableView&, int section) override;
    std::shared_ptr<ui::TableViewCell> tableViewCellForRowAtIndexPath(ui::TableView&, const ui::IndexPath& ip) override;
    std::optional<std::string> tableViewTitleForHeaderInSection(ui::TableView&, int section) override;
    bool tableViewCanEditRowAtIndexPath(ui::TableView&, const ui::IndexPath& ip) override { return ip.section == 1; }
    bool tableViewCommitsEditingStyle(ui::TableView&) override { return true; }
    void tableViewCommitEditingStyle(ui::TableView&, ui::TableViewCellEditingStyle style,
                                     const ui::IndexPath& ip) override;
    double tableViewHeightForRowAtIndexPath(ui::TableView&, const ui::IndexPath& ip) override;
    void tableViewDidSelectRowAtIndexPath(ui::TableView&, const ui::IndexPath& ip) override;

protected:
    void viewDidLoad() override;
    void viewWillLayoutSubviews() override;
    void viewWillAppear(bool animated) override;
    void viewWillDisappear(bool animated) override;

private:
    class Observer;

    void selectTab(int tab);
    // The tab strip's pictures for the present appearance.
    void setTabPictures();
    void openFinished(const TransferItem& item);
    void redrawProgressPanel();
    std::shared_ptr<ui::TableViewCell> progressCell();
    std::shared_ptr<ui::TableViewCell> clearHistoryCell();
    std::shared_ptr<ui::TableViewCell> itemCell(const TransferItem& item, bool recent);
    double contentWidth() const;
    double tableTop();
    double barsHeight();

    std::weak_ptr<ui::ViewController> returnTo_;
    std::shared_ptr<BookTransfer> bookTransfer_;
    int mode_ = 0;
    std::shared_ptr<Settings> settings_;
    BookTransferDelegate::Items cue_;
    BookTransferDelegate::Items recentCue_;
    std::shared_ptr<TransferItem> transferItem_;
    std::shared_ptr<ui::TableView> tableView_;
    std::shared_ptr<ui::View> bkTabView_;
    std::shared_ptr<ui::View> bkTabSelectView_;
    std::shared_ptr<ui::View> bkTabLineViewLeft_;
    std::shared_ptr<ui::View> bkTabLineViewRight_;
    std::shared_ptr<ui::Label> tab1Label_;
    std::shared_ptr<ui::Label> tab2Label_;
    std::shared_ptr<ui::Button> tab1_;
    std::shared_ptr<ui::Button> tab2_;
    std::shared_ptr<Observer> observer_;
    std::shared_ptr<ui::TableViewCell> progressCell_;
    // The width the rows were last drawn for.
    double rowsWidth_ = -1;
    bool noTabarea_ = false;
    bool tabPicturesSet_ = false;
    bool tabPicturesDark_ = false;
};
