#include "library/DocumentBrowserViewController.h"

#include "foundation/ArraySort.h"
#include "foundation/BookCommon.h"
#include "foundation/ui/ColorDefine.h"
#include "platform/core/FileManager.h"
#include "platform/core/Path.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/TableViewCell.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>

namespace {

constexpr const char* kCellIdentifier = "Cell";

std::string tr(const char* key) { return BookCommon::localizedStringWithOnOff(key); }

std::string realPath(const std::string& path) {
    char resolved[PATH_MAX];
    if (!::realpath(path.c_str(), resolved)) return {};
    return resolved;
}

}  // namespace

DocumentBrowserViewController::DocumentBrowserViewController(std::string root, std::string folder)
    : ui::TableViewController(ui::TableViewStyle::Plain), root_(std::move(root)), folder_(std::move(folder)) {
    if (folder_.empty()) folder_ = root_;
}

std::string DocumentBrowserViewController::homeFolder() {
    if (const char* home = std::getenv("HOME"); home && *home == '/') return home;
    if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) return pw->pw_dir;
    return "/";
}

bool DocumentBrowserViewController::isInside(const std::string& root, const std::string& path) {
    const std::string top = realPath(root);
    const std::string real = realPath(path);
    if (top.empty() || real.empty()) return false;
    if (real == top) return true;
    const std::string prefix = top == "/" ? top : top + "/";
    return real.compare(0, prefix.size(), prefix) == 0;
}

std::vector<DocumentBrowserViewController::Entry> DocumentBrowserViewController::readEntries(const std::string& root,
                                                                                           const std::string& folder) {
    std::vector<Entry> out;
    if (!isInside(root, folder)) return out;
    auto names = sys::FileManager::contentsOfDirectory(folder);
    if (!names) return out;
    std::vector<std::string> folders;
    std::vector<std::string> files;
    for (const auto& name : *names) {
        if (name.empty() || name[0] == '.') continue;
        const std::string full = sys::Path::stringByAppendingPathComponent(folder, name);
        struct stat st {};
        if (::stat(full.c_str(), &st) != 0) continue;
        const bool isFolder = S_ISDIR(st.st_mode);
        if (!isFolder && (!S_ISREG(st.st_mode) || !BookCommon::isBookorPDFFileWithExtension(sys::Path::pathExtension(name))))
            continue;
        if (!isInside(root, full)) continue;
        (isFolder ? folders : files).push_back(name);
    }
    ArraySort::sortFileListArrayNSString(folders, nullptr);
    ArraySort::sortFileListArrayNSString(files, nullptr);
    for (const auto& name : folders) out.push_back(Entry{name, true, 0});
    for (const auto& name : files)
        out.push_back(
            Entry{name, false, sys::FileManager::fileSize(sys::Path::stringByAppendingPathComponent(folder, name)).value_or(0)});
    return out;
}

void DocumentBrowserViewController::viewDidLoad() {
    ui::TableViewController::viewDidLoad();
    setTitle(folder_ == root_ ? tr("Home") : sys::Path::lastPathComponent(folder_));
    entries_ = readEntries(root_, folder_);
}

void DocumentBrowserViewController::openEntry(size_t index) {
    if (index >= entries_.size()) return;
    const Entry entry = entries_[index];
    const std::string full = sys::Path::stringByAppendingPathComponent(folder_, entry.name);
    // Looked at again: what the row showed may have changed since.
    bool isDirectory = false;
    if (!sys::FileManager::fileExists(full, &isDirectory) || isDirectory != entry.isFolder || !isInside(root_, full))
        return;
    if (entry.isFolder) {
        auto* nav = navigationController();
        if (!nav) return;
        auto next = std::make_shared<DocumentBrowserViewController>(root_, full);
        next->delegate_ = delegate_;
        nav->pushViewController(next, true);
        return;
    }
    auto keep = shared_from_this();
    if (auto d = delegate_.lock()) d->documentBrowserDidPickDocument(*this, full);
}

int DocumentBrowserViewController::tableViewNumberOfRowsInSection(ui::TableView&, int) {
    return static_cast<int>(entries_.size());
}

std::shared_ptr<ui::TableViewCell> DocumentBrowserViewController::tableViewCellForRowAtIndexPath(
    ui::TableView& tv, const ui::IndexPath& ip) {
    auto cell = tv.dequeueReusableCell(kCellIdentifier);
    if (!cell) cell = std::make_shared<ui::TableViewCell>(ui::TableViewCellStyle::Subtitle, kCellIdentifier);
    if (size_t(ip.row) >= entries_.size()) return cell;
    const Entry& entry = entries_[size_t(ip.row)];
    ui::Label* title = cell->textLabel();
    title->setFont(gfx::Font::system(14));
    title->setLineBreakMode(ui::LineBreakMode::TruncateMiddle);
    title->setText(entry.name);
    if (entry.isFolder) {
        title->setTextColor(ColorDefine::blueTextColor());
        cell->imageView()->setImage(BookCommon::imageNamed("folder"));
        cell->setAccessoryType(ui::TableViewCellAccessoryType::DisclosureIndicator);
        if (ui::Label* sub = cell->detailTextLabel()) sub->setText("");
    } else {
        title->setTextColor(ColorDefine::label());
        cell->imageView()->setImage(BookCommon::imageNamed("book_new"));
        cell->setAccessoryType(ui::TableViewCellAccessoryType::None);
        if (ui::Label* sub = cell->detailTextLabel()) {
            sub->setFont(gfx::Font::system(12));
            sub->setText(BookCommon::strSizeFormatFromValue(int64_t(entry.size)));
        }
    }
    return cell;
}

std::optional<std::string> DocumentBrowserViewController::tableViewTitleForFooterInSection(ui::TableView&, int) {
    if (entries_.empty()) return tr("No folders or books to show here.");
    return std::nullopt;
}

void DocumentBrowserViewController::tableViewDidSelectRowAtIndexPath(ui::TableView& tv, const ui::IndexPath& ip) {
    tv.deselectRowAtIndexPath(ip, true);
    openEntry(size_t(ip.row));
}
