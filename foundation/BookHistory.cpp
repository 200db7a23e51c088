#include "foundation/BookHistory.h"

namespace {

std::optional<std::string> stringFor(const sys::PlistDictionary& d, const char* key) {
    const sys::PlistValue* v = d.find(key);
    if (!v || !v->isString()) return std::nullopt;
    return v->asString();
}

void setIfPresent(sys::PlistDictionary& d, const char* key, const std::optional<std::string>& value) {
    if (value) d.set(key, *value);
}

}  // namespace

bool BookHistory::isSameBook(const BookHistory& other) const {
    if (isRemote_ != other.isRemote_) return false;
    if (isRemote_) return bookUrl_ && other.bookUrl_ && *bookUrl_ == *other.bookUrl_;
    return pathFromBooks_ && other.pathFromBooks_ && *pathFromBooks_ == *other.pathFromBooks_;
}

sys::PlistDictionary BookHistory::toDictionary() const {
    sys::PlistDictionary d;
    d.set("isRemote", isRemote_);
    // Every present value is kept: an entry whose folder URL is unknown
    // still has its title and date.
    if (isRemote_) {
        setIfPresent(d, "bookUrl", bookUrl_);
        setIfPresent(d, "folderUrl", folderUrl_);
        setIfPresent(d, "remoteFolderTitle", remoteFolderTitle_);
        setIfPresent(d, "bookTitle", bookTitle_);
    } else {
        d.set("isLockedFolder", isLockedFolder_);
        setIfPresent(d, "pathFromBooks", pathFromBooks_);
        setIfPresent(d, "bookTitle", bookTitle_);
    }
    if (date_) d.set("date", *date_);
    return d;
}

BookHistory BookHistory::fromDictionary(const sys::PlistDictionary& d) {
    BookHistory h;
    if (const sys::PlistValue* v = d.find("isRemote"); v && v->isNumber()) h.isRemote_ = v->boolValue();
    if (const sys::PlistValue* v = d.find("isLockedFolder"); v && v->isNumber()) h.isLockedFolder_ = v->boolValue();
    h.date_ = d.getDate("date");
    h.bookUrl_ = stringFor(d, "bookUrl");
    h.folderUrl_ = stringFor(d, "folderUrl");
    h.remoteFolderTitle_ = stringFor(d, "remoteFolderTitle");
    h.bookTitle_ = stringFor(d, "bookTitle");
    h.pathFromBooks_ = stringFor(d, "pathFromBooks");
    return h;
}
