#pragma once

#include "foundation/PageTapConfig.h"

#include <array>
#include <cstdint>

// The typed form of the settings, converted once per load or change. The store
// publishes each conversion as an immutable whole, so a reader on another
// thread sees one consistent set of values.
struct SettingsValues {
    PageTapConfig tapConfig;
    std::array<int32_t, 5> zoomModeOrder{0, 1, 2, 3, 4};
    int32_t zoomModeEnableNum = 0;

    bool isSilentResume = false;
    bool isGotoTheLastFolder = false;
    bool isBookshelfMode = false;
    bool isExistBookSetting = false;

    bool isSwapTapLeftRight = false;
    bool isSwipeToPage = false;
    bool isDivisionPage = false;
    bool isNoAspectFill = false;
    bool isPreRead = false;
    bool isOptimizeFilename = false;
    bool isDisableAutoScroll = false;
    bool isShowBadge = false;
    bool isDisplayZoomMode = false;
    bool isDisableBounce = false;
    bool isDoubleTruck = false;
    bool isSingleViewFirstPage = false;
    bool isShowStatusbar = false;
    bool isEnableSnap = false;
    bool isNotSelectOneFolder = false;
    bool isSelectFolder = false;
    bool isSwitchSplitLeftRight = false;
    bool isDisplayFoldername = false;
    bool isEnablePagePreview = false;
    bool isDoNotStorePasswords = false;
    bool isEnableStreaming = false;
    bool isEnableMediaServer = false;
    bool isExchangeDoublePage = false;
    bool isPageVerticalScroll = false;

    bool isSwapTapLeftRight_Local = false;
    bool isDivisionPage_Local = false;
    bool isNoAspectFill_Local = false;
    bool isDoubleTruck_Local = false;
    bool isSingleViewFirstPage_Local = false;
    bool isSwitchSplitLeftRight_Local = false;
    bool isPageVerticalScroll_Local = false;

    bool iCloudEnable = false;
    bool isStatusbarBlack = false;
    bool isHideDotFileSMB = false;
    bool isMultipleSelectDownload = false;
    bool isFileDownloadOnlyDownloadFolder = false;

    int32_t pageDirection = 0;
    int32_t animation = 0;
    int32_t imageFilter1 = 0;
    int32_t imageFilter2 = 0;
    int32_t imageFilter3 = 0;
    int32_t volumeButton = 0;
    int32_t doubleTruckZoomMode = 0;
    int32_t backgroundColor = 0;
    int32_t pdfOptimize = 0;
    int32_t localizeSelect = 0;
    int32_t downloadListType = 0;
    int32_t showBookOpenActionSelect = 0;
    int32_t filelistRootMode = 0;
    int32_t overWriteMode = 0;
    int32_t overWriteModeiTunes = 0;
    int32_t pdfTrimming = 0;
    int32_t bookToolView = 0;
    int32_t defaultZoomMode = 0;
    int32_t bookListStyle = 0;

    int32_t pageDirection_Local = 0;
    int32_t pdfTrimming_Local = 0;
    int32_t imageFilter_Local1 = 0;
    int32_t imageFilter_Local2 = 0;
    int32_t imageFilter_Local3 = 0;
    int32_t pdfOptimize_Local = 0;
    int32_t clipBlankSpace_Local = 0;

    int32_t streamConfigExpireDays = 0;
    int32_t micDetectMode = 0;
    int32_t defaultSmbLibrary = 0;
    int32_t remoteThumbsAutoLoad = 0;
    int32_t clipBlankSpace = 0;
    int32_t directorySortMode = 0;
    int32_t sortMode = 0;
    int32_t startupLock = 0;

    double centerSpace = 0;
    double centerSpace_Local = 0;
    double tapMargin = 0;
    double micThreshold = 0;

    int64_t maximumNumberOfHistories = 0;

    bool operator==(const SettingsValues&) const = default;
};
