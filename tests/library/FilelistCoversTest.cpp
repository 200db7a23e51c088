// Covers of books of every kind, packed at test time by the real tools, in
// the list and on the shelf of the local library.
#include "LibraryTestSupport.h"

#include "engine/ThumbsCreate.h"
#include "library/FilelistBaseViewItemCell.h"
#include "library/LocalFilelistViewController.h"
#include "platform/graphics/JpegEncoder.h"

#include <map>

using librarytest::LibraryTest;

namespace {

class FilelistCoversTest : public LibraryTest {
protected:
    void SetUp() override {
        LibraryTest::SetUp();
        const std::string src = work.file("src");
        mkdir(src);
        std::vector<uint32_t> px(size_t(300) * 400, 0xFF3070C0u);
        auto bytes = gfx::JpegEncoder::encode(*gfx::Image::make(300, 400, std::move(px), 1.0), 0.9);
        touch(src + "/001.jpg", std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
        const std::string docs = documents();
        auto pack = [&](const std::string& tool, const std::string& command, const std::string& name) {
            if (!test::haveProgram(tool)) return;
            ASSERT_EQ(test::shell("cd '" + src + "' && " + command + " '" + docs + "/" + name + "' 001.jpg >/dev/null 2>&1"), 0)
                << name;
            books.push_back(name);
        };
        pack("zip", "zip -q", "a.cbz");
        pack("rar", "rar a -idq", "b.cbr");
        pack("7z", "7z a -bd", "c.cb7");
        if (test::haveProgram("img2pdf")) {
            ASSERT_EQ(test::shell("cd '" + src + "' && img2pdf 001.jpg -o '" + docs + "/d.pdf'"), 0);
            books.push_back("d.pdf");
        }
    }

    void showRoot() {
        root = std::make_shared<LocalFilelistViewController>();
        root->setIsRootViewController(true);
        root->setDontRestoreLastStatus(true);
        nav = std::make_shared<ui::NavigationController>(root);
        window->setRootViewController(nav);
        settle();
    }
    void settle() {
        driver->advance(0.6);
        ASSERT_TRUE(ThumbsCreate::thumbsCreate()->waitUntilIdle(30));
        driver->advance(0.6);
    }
    // The books shown with a cover, by name.
    std::map<std::string, bool> shown() {
        std::map<std::string, bool> out;
        for (ui::TableViewCell* cell : root->tableView()->visibleCells()) {
            auto* row = dynamic_cast<FilelistBaseViewItemCell*>(cell);
            if (!row) continue;
            for (const auto& slot : row->book()) {
                if (!slot.item() || slot.isInvalidItem() || slot.item()->type() == 0) continue;
                out[slot.item()->filename().value_or("")] = slot.thumbs() && slot.thumbs()->image();
            }
        }
        return out;
    }

    test::TempDir work{"coversrc"};
    std::vector<std::string> books;
    std::shared_ptr<LocalFilelistViewController> root;
    std::shared_ptr<ui::NavigationController> nav;
};

TEST_F(FilelistCoversTest, EveryKindOfBookShowsItsCoverInTheListAndOnTheShelf) {
    showRoot();
    std::map<std::string, bool> expected;
    for (const auto& name : books) expected[name] = true;
    EXPECT_EQ(shown(), expected);

    // The presentation selector is in the header, above the first row.
    root->tableView()->setContentOffset(root->tableView()->minimumContentOffset(), false);
    driver->advance(0.6);
    ASSERT_TRUE(tapText("Bookshelf"));
    settle();
    EXPECT_EQ(root->fileListViewMode(), 1);
    EXPECT_EQ(shown(), expected);
}

}  // namespace
