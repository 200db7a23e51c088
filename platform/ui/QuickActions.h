#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace ui {

// The application's home-screen quick actions. The desktop has no home
// screen: the items are kept here for the shell to offer (a menu, a
// command-line switch) and picking one runs the handler the application
// installed. Main thread only.
class QuickActions {
public:
    struct Item {
        std::string type;
        std::string title;
        std::string subtitle;
        std::string iconName;
        std::map<std::string, std::string> userInfo;
        bool operator==(const Item&) const = default;
    };
    using Handler = std::function<bool(const Item&)>;

    static QuickActions& shared();

    const std::vector<Item>& items() const { return items_; }
    // Replaces the list (the platform keeps at most four).
    void setItems(std::vector<Item> items);
    // How many times the list was set (tests).
    int updateCount() const { return updates_; }

    void setHandler(Handler h) { handler_ = std::move(h); }
    // The user picked the item of this type: false when there is none or
    // the handler did not take it.
    bool perform(const std::string& type);

    void reset();

    static constexpr size_t kMaxItems = 4;

private:
    QuickActions() = default;
    std::vector<Item> items_;
    Handler handler_;
    int updates_ = 0;
};

}  // namespace ui
