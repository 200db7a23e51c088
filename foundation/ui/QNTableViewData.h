#pragma once

#include "platform/core/PlistDictionary.h"
#include "platform/core/PlistValue.h"

#include <any>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace ui {
class Switch;
}

// One row of a table-driven screen: what it shows, which kind of control
// it carries, and optionally the key of a shared settings dictionary that a
// change of its control is written to (through a list that maps the
// control's integer value to the stored object).
class QNTableViewData {
public:
    // Row kinds.
    enum Style : int32_t {
        kStyleDefault = 0,
        kStyleValue1 = 1,
        kStyleValue2 = 2,
        kStyleSubtitle = 3,
        kStyleSwitch = 4,
        kStyleSegment = 5,
        kStyleTextField = 6,
    };
    static constexpr double kTwoLineHeight = 85.0;

    QNTableViewData() = default;

    // Replaces the binding: the dictionary (shared with the screen), its key,
    // and the value list or none.
    void assignDictionary(std::shared_ptr<sys::PlistDictionary> dictionary, const std::string& key,
                          std::vector<sys::PlistValue> valueList = {});
    // Writes a changed value back: the list's element at the value's integer
    // (a value the list does not cover is dropped), or the value itself
    // without a list. Nothing without a dictionary and a key.
    void onValueChangedWithObject(const sys::PlistValue& object);

    const std::shared_ptr<sys::PlistDictionary>& assignDictionary() const { return assignDictionary_; }
    const std::string& assignKey() const { return assignKey_; }
    const std::vector<sys::PlistValue>& assignvalueList() const { return assignvalueList_; }

    bool canDelete() const { return canDelete_; }
    void setCanDelete(bool on) { canDelete_ = on; }
    bool isDisplayedInTwoLines() const { return twoLines_; }
    void setIsDisplayedInTwoLines(bool on) { twoLines_ = on; }
    int32_t style() const { return style_; }
    void setStyle(int32_t s) { style_ = s; }
    const std::string& text() const { return text_; }
    void setText(const std::string& t) { text_ = t; }
    const std::string& detailText() const { return detailText_; }
    void setDetailText(const std::string& t) { detailText_ = t; }
    // Switch state (a boolean) or the selected segment (an integer).
    const sys::PlistValue& value() const { return value_; }
    void setValue(sys::PlistValue v) { value_ = std::move(v); }
    const std::any& userData() const { return userData_; }
    void setUserData(std::any d) { userData_ = std::move(d); }
    const std::string& key() const { return key_; }
    void setKey(const std::string& k) { key_ = k; }
    // The platform's accessory type and selection style numbers.
    int64_t accessoryType() const { return accessoryType_; }
    void setAccessoryType(int64_t t) { accessoryType_ = t; }
    int64_t selectionStyle() const { return selectionStyle_; }
    void setSelectionStyle(int64_t s) { selectionStyle_ = s; }
    // A text-field row whose text is a secret: drawn as dots.
    bool isSecureTextEntry() const { return secureTextEntry_; }
    void setSecureTextEntry(bool on) { secureTextEntry_ = on; }
    const std::vector<std::string>& selectionList() const { return selectionList_; }
    void setSelectionList(std::vector<std::string> l) { selectionList_ = std::move(l); }
    // Point sizes; 0 keeps the cell's own font.
    int64_t textFontSize() const { return textFontSize_; }
    void setTextFontSize(int64_t s) { textFontSize_ = s; }
    int64_t detailTextFontSize() const { return detailTextFontSize_; }
    void setDetailTextFontSize(int64_t s) { detailTextFontSize_ = s; }
    // The switch of the cell that shows this row now.
    const std::shared_ptr<ui::Switch>& sw() const { return sw_; }
    void setSw(std::shared_ptr<ui::Switch> s) { sw_ = std::move(s); }

private:
    std::shared_ptr<sys::PlistDictionary> assignDictionary_;
    std::string assignKey_;
    std::vector<sys::PlistValue> assignvalueList_;
    bool canDelete_ = false;
    bool twoLines_ = false;
    int32_t style_ = kStyleDefault;
    std::string text_;
    std::string detailText_;
    sys::PlistValue value_;
    std::any userData_;
    std::string key_;
    int64_t accessoryType_ = 0;
    int64_t selectionStyle_ = 0;
    bool secureTextEntry_ = false;
    std::vector<std::string> selectionList_;
    int64_t textFontSize_ = 0;
    int64_t detailTextFontSize_ = 0;
    std::shared_ptr<ui::Switch> sw_;
};
