#pragma once

#include "engine/PageReader.h"
#include "fuzz/support/FuzzEnvironment.h"
#include "fuzz/support/ImageCheck.h"

#include <memory>
#include <optional>
#include <string>

// Opens a book file with a page reader, lists its folders and inner
// archives, and loads its first pages (rendering the ones that come back
// pending, as PDF pages do), without a password and with the one the seeds
// were made with.
template <typename Reader>
void runPageReader(const std::string& path, int maxPages = 4) {
    for (const std::optional<std::string>& password : {std::optional<std::string>(), std::optional<std::string>("pw")}) {
        auto reader = std::make_shared<Reader>();
        if (!reader->openFile(path, password, std::nullopt, false, false)) continue;
        reader->getFolderList(false);
        reader->getArchiveList(false);
        reader->getGlobalPageNoList();
        const auto names = reader->getPageNameList();
        for (int page = 0; page < int(names.size()) && page < maxPages; ++page) {
            int result = -1;
            gfx::ImageRef image = reader->newLoadAndCreateImage(page, result);
            checkFuzzImage(image);
            if (result == PageReader::kResultPending) {
                gfx::Size size{48, 64};
                checkFuzzImage(reader->newCreatePendingImage(page, size, gfx::Rect(0, 0, 48, 64),
                                                             gfx::Rect(0, 0, 48, 64), true));
            }
        }
        reader->closeFile();
        FuzzEnvironment::settle();
    }
}
