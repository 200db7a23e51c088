#include "foundation/HistoryCollector.h"

#include "foundation/AppDelegateServices.h"
#include "foundation/BookCommon.h"
#include "foundation/Settings.h"
#include "platform/core/FileManager.h"
#include "platform/core/Path.h"
#include "platform/core/PropertyList.h"

namespace {

std::optional<std::vector<BookHistory>>& historyList() {
    static std::optional<std::vector<BookHistory>> list;
    return list;
}

// The limit the user chose; without a settings store there is none to apply.
std::optional<size_t> historyLimit() {
    auto settings = AppDelegateServices::sharedSettings();
    if (!settings) return std::nullopt;
    int64_t limit = settings->maximumNumberOfHistories();
    return limit > 0 ? size_t(limit) : 0;
}

void trim(std::vector<BookHistory>& list) {
    if (auto limit = historyLimit(); limit && list.size() > *limit) list.resize(*limit);
}

}  // namespace

std::optional<std::vector<BookHistory>> HistoryCollector::getHistory() {
    auto& list = historyList();
    if (!list) loadFromFile();
    if (!list) return std::nullopt;
    trim(*list);
    return list;
}

void HistoryCollector::addHistory(const BookHistory& history) {
    auto& list = historyList();
    if (!list) loadFromFile();
    if (!list) list.emplace();
    for (auto it = list->begin(); it != list->end(); ++it) {
        if (it->isSameBook(history)) {
            list->erase(it);
            break;
        }
    }
    BookHistory entry = history;
    entry.setDate(sys::Date::now());
    list->insert(list->begin(), std::move(entry));
    trim(*list);
    writeToFile();
}

void HistoryCollector::removeHistoryAtIndex(size_t index) {
    auto& list = historyList();
    if (list && index < list->size()) list->erase(list->begin() + long(index));
}

void HistoryCollector::removeAllHistory() {
    historyList().emplace();
    writeToFile();
}

void HistoryCollector::followMove(const std::string& fromPath, const std::string& toPath) {
    // "" is the library's own folder, never a book or a folder moved in it:
    // such a path lies outside the library.
    const std::string from = BookCommon::fromRootToFromBooks(fromPath);
    const std::string to = BookCommon::fromRootToFromBooks(toPath);
    if (from.empty() || to.empty() || from == to) return;
    auto& list = historyList();
    if (!list) loadFromFile();
    if (!list) return;
    bool changed = false;
    for (auto& entry : *list) {
        if (entry.isRemote() || !entry.pathFromBooks()) continue;
        const std::string& path = *entry.pathFromBooks();
        if (path == from) {
            entry.setPathFromBooks(to);
            // The title is the book's file name: a rename changes it.
            entry.setBookTitle(sys::Path::lastPathComponent(to));
        } else if (path.size() > from.size() && path.compare(0, from.size(), from) == 0 && path[from.size()] == '/') {
            entry.setPathFromBooks(to + path.substr(from.size()));
        } else {
            continue;
        }
        changed = true;
    }
    if (!changed) return;
    // An older entry of a book once read under the new name gives way to
    // the book now there (the list is newest first).
    for (size_t i = 0; i < list->size(); ++i)
        for (size_t j = i + 1; j < list->size();) {
            if ((*list)[j].isSameBook((*list)[i])) list->erase(list->begin() + long(j));
            else ++j;
        }
    writeToFile();
}

void HistoryCollector::relaseHistory() { historyList().reset(); }

void HistoryCollector::writeToFile() {
    const auto& list = historyList();
    if (!list) return;
    sys::PlistArray entries;
    for (const auto& h : *list) entries.push_back(h.toDictionary());
    std::string path = BookCommon::getHistoryFilePath();
    sys::FileManager::createDirectory(sys::Path::stringByDeletingLastPathComponent(path), true);
    sys::PropertyList::writeFile(sys::PlistValue(std::move(entries)), path);
}

void HistoryCollector::loadFromFile() {
    auto entries = sys::PropertyList::readArray(BookCommon::getHistoryFilePath());
    if (!entries) return;
    std::vector<BookHistory> list;
    for (const auto& e : *entries) {
        // An entry that is not a dictionary is not a history entry.
        if (e.isDictionary()) list.push_back(BookHistory::fromDictionary(e.asDictionary()));
    }
    historyList() = std::move(list);
}
