#pragma once

#include "platform/graphics/Canvas.h"
#include "platform/graphics/Image.h"
#include "platform/ui/WebLayoutBudget.h"
#include "platform/ui/WebPageBounds.h"

#include <litehtml/litehtml.h>

#include <functional>
#include <map>
#include <memory>
#include <set>
#include <unordered_map>
#include <string>
#include <vector>

namespace ui {

// What litehtml asks of the program it renders for, answered with our
// canvas: fonts through the current text engine (pango), images and style
// sheets from local files only (and only for a page that is itself a file of
// this computer), backgrounds, borders and list markers drawn with cairo.
// The elements it makes count their work against the container's budget. A
// web view owns one per document; the container outlives its document.
class WebDocumentContainer final : public litehtml::document_container {
public:
    WebDocumentContainer();
    ~WebDocumentContainer();

    // The shared context with our default style sheet.
    static litehtml::context& context();

    void setViewport(int width, int height) {
        viewportWidth_ = width;
        viewportHeight_ = height;
    }
    // The address relative references resolve against.
    void setBaseURL(const std::string& url) { baseURL_ = url; }
    const std::string& baseURL() const { return baseURL_; }
    const std::string& caption() const { return caption_; }
    void setLanguage(const std::string& language, const std::string& culture) {
        language_ = language;
        culture_ = culture;
    }

    // Whether the page may use files of this computer (pictures, style
    // sheets): only a page that is such a file itself may. Off by default.
    void setLocalFilesAllowed(bool allowed) { localFilesAllowed_ = allowed; }
    bool localFilesAllowed() const { return localFilesAllowed_; }
    WebLayoutBudget& budget() { return budget_; }
    // What the sheets the page links to or imports may hold in all (their
    // selectors and bytes); a sheet past it ends at a rule
    // (WebPageBounds::styleSheetWithin).
    void setStyleSheetAllowance(const WebPageBounds::StyleSheetAllowance& left) { sheetsLeft_ = left; }

    // A link was followed: its href as written and its target attribute.
    std::function<void(const std::string& href, const std::string& target)> onAnchorClick;

    // Style sheets and images read at most this large.
    static constexpr size_t kMaxStyleSheetBytes = 2u << 20;
    static constexpr size_t kMaxImages = 64;
    // Style sheets (linked or imported) read for one document: each address
    // once, so that sheets importing each other end.
    static constexpr size_t kMaxStyleSheets = 32;

    // --- litehtml::document_container ---
    litehtml::uint_ptr create_font(const litehtml::tchar_t* faceName, int size, int weight,
                                   litehtml::font_style italic, unsigned int decoration,
                                   litehtml::font_metrics* fm) override;
    void delete_font(litehtml::uint_ptr hFont) override;
    int text_width(const litehtml::tchar_t* text, litehtml::uint_ptr hFont) override;
    void draw_text(litehtml::uint_ptr hdc, const litehtml::tchar_t* text, litehtml::uint_ptr hFont,
                   litehtml::web_color color, const litehtml::position& pos) override;
    int pt_to_px(int pt) const override;
    int get_default_font_size() const override { return 16; }
    const litehtml::tchar_t* get_default_font_name() const override { return "sans-serif"; }
    void draw_list_marker(litehtml::uint_ptr hdc, const litehtml::list_marker& marker) override;
    void load_image(const litehtml::tchar_t* src, const litehtml::tchar_t* baseurl, bool redraw_on_ready) override;
    void get_image_size(const litehtml::tchar_t* src, const litehtml::tchar_t* baseurl, litehtml::size& sz) override;
    void draw_background(litehtml::uint_ptr hdc, const litehtml::background_paint& bg) override;
    void draw_borders(litehtml::uint_ptr hdc, const litehtml::borders& borders, const litehtml::position& draw_pos,
                      bool root) override;
    void set_caption(const litehtml::tchar_t* caption) override;
    void set_base_url(const litehtml::tchar_t* base_url) override;
    void link(const std::shared_ptr<litehtml::document>& doc, const litehtml::element::ptr& el) override;
    void on_anchor_click(const litehtml::tchar_t* url, const litehtml::element::ptr& el) override;
    void set_cursor(const litehtml::tchar_t*) override {}
    void transform_text(litehtml::tstring& text, litehtml::text_transform tt) override;
    void import_css(litehtml::tstring& text, const litehtml::tstring& url, litehtml::tstring& baseurl) override;
    void set_clip(const litehtml::position& pos, const litehtml::border_radiuses& bdr_radius, bool valid_x,
                  bool valid_y) override;
    void del_clip() override;
    void get_client_rect(litehtml::position& client) const override;
    std::shared_ptr<litehtml::element> create_element(const litehtml::tchar_t* tag, const litehtml::string_map&,
                                                      const std::shared_ptr<litehtml::document>& doc) override;
    void get_media_features(litehtml::media_features& media) const override;
    void get_language(litehtml::tstring& language, litehtml::tstring& culture) const override;

    // Draws the document into `canvas` (document coordinates in the
    // canvas's present space) within `clip`.
    void draw(litehtml::document& doc, gfx::Canvas& canvas, const gfx::Rect& clip);

private:
    struct FontEntry {
        gfx::Font font;
        unsigned decoration = 0;
        int ascent = 0;
    };
    gfx::ImageRef imageFor(const std::string& src, const std::string& base);
    std::string readLocal(const std::string& url, size_t limit) const;
    // The sheet at `url` when it has not been read for this document yet
    // and the budget allows; "" otherwise.
    std::string readStyleSheet(const std::string& url);
    gfx::Canvas* canvasOf(litehtml::uint_ptr hdc) const { return reinterpret_cast<gfx::Canvas*>(hdc); }

    std::vector<std::unique_ptr<FontEntry>> fonts_;
    std::map<std::string, gfx::ImageRef> images_;
    std::unordered_map<std::string, int> widths_;  // text_width's answers, by font and text
    static constexpr size_t kMaxMeasuredTexts = 200000;
    std::set<std::string> styleSheets_;
    std::string baseURL_;
    std::string caption_;
    std::string language_ = "en";
    std::string culture_ = "en-US";
    int viewportWidth_ = 320;
    int viewportHeight_ = 480;
    gfx::Canvas* canvas_ = nullptr;
    int clipDepth_ = 0;
    bool localFilesAllowed_ = false;
    WebPageBounds::StyleSheetAllowance sheetsLeft_;
    WebLayoutBudget budget_;
};

}  // namespace ui
