#pragma once

#include "library/FilelistBaseViewItemCell.h"
#include "platform/ui/ImageView.h"
#include "platform/ui/Label.h"

#include <memory>
#include <optional>
#include <string>

class Settings;

// A row of the list presentation: the entry's icon or cover, its name, an
// info line, the reading page and the dates; in the simple style a small
// icon and the name only.
class FilelistBaseViewItemListModeCell : public FilelistBaseViewItemCell {
public:
    explicit FilelistBaseViewItemListModeCell(const std::string& reuseIdentifier);

    void setupCellViews(FilelistBaseViewController* controller) override;
    void updateCellItem(bool createThumbs) override;
    void updateCellThumbs(bool createThumbs) override;
    void modeChangeWithAnimation() override;
    void updateInfoLabel();
    void setupSelectedImage();
    void setSubViewsPos();
    void layoutSubviews() override;

    int lineCount() const { return lineCount_; }
    bool isInfoLine() const { return isInfoLine_; }
    bool loadThumbs() const { return loadThumbs_; }
    ui::Label* filenameLabel() const { return filename_.get(); }
    ui::Label* infoLabel() const { return infoLabel_.get(); }
    ui::Label* pageLabel() const { return pageLabel_.get(); }
    ui::Label* bookmarkDateLabel() const { return bookmarkDateLabel_.get(); }
    ui::Label* fileDateLabel() const { return fileDateLabel_.get(); }
    ui::ImageView* thumbsImageView() const { return thumbsImageView_.get(); }
    ui::ImageView* statusIconImageView() const { return statusIconImageView_.get(); }
    ui::ImageView* downloadIconView() const { return downloadIconView_.get(); }
    ui::ImageView* cacheStatusImageView() const { return cacheStatusImageView_.get(); }
    ui::ImageView* selectIconImageView() const { return selectIconImageView_.get(); }
    ui::Label* fileSizeView() const { return fileSizeView_.get(); }
    ui::View* selectedItemBackgroundView() const { return selectedItemBackgroundView_.get(); }
    // The cache badge of a streamed entry: none, part of it, all of it.
    static std::string cacheStatusImageName(int64_t cacheStatus);

    // The reading-state icon name of a file entry (without the style suffix).
    static std::string statusIconName(const FilelistItem& item);
    // The icon of a folder-like entry, with the style's prefix.
    static std::string folderIconName(const FilelistItem& item, bool detailStyle);

private:
    bool isSimpleStyle() const;
    bool isOpenable(const FilelistItem& item) const;
    void setThumbnail(bool createThumbs);

    int lineCount_ = 1;
    bool isInfoLine_ = false;
    std::shared_ptr<Settings> settings_;
    std::shared_ptr<ui::View> separator_;
    bool loadThumbs_ = false;
    std::shared_ptr<ui::Label> filename_;
    std::shared_ptr<ui::ImageView> thumbsImageView_;
    std::shared_ptr<ui::ImageView> downloadIconView_;
    std::shared_ptr<ui::Label> infoLabel_;
    std::shared_ptr<ui::Label> pageLabel_;
    std::shared_ptr<ui::Label> bookmarkDateLabel_;
    std::shared_ptr<ui::Label> fileDateLabel_;
    std::optional<std::string> infoLabelTextDefault_;
    std::optional<std::string> infoLabelTextTitileAux_;
    std::shared_ptr<ui::ImageView> selectIconImageView_;
    std::shared_ptr<ui::ImageView> statusIconImageView_;
    std::shared_ptr<ui::ImageView> cacheStatusImageView_;
    std::shared_ptr<ui::Label> fileSizeView_;
    std::shared_ptr<ui::View> selectedItemBackgroundView_;
    bool hasPageInfo_ = false;
};
