#pragma once

#include <memory>
#include <string>

namespace ui {

// The desktop's clipboard and its primary selection (the text last
// selected, which the middle button pastes), as text. The shell hands the
// desktop's own store at start-up; without one (headless runs, tests) both
// are kept in this process.
class Pasteboard {
public:
    enum class Kind { Clipboard, PrimarySelection };

    class Store {
    public:
        virtual ~Store() = default;
        virtual std::string text(Kind kind) = 0;
        virtual void setText(Kind kind, const std::string& text) = 0;
    };

    static std::string text(Kind kind = Kind::Clipboard);
    static void setText(const std::string& text, Kind kind = Kind::Clipboard);
    // Null goes back to the process's own store.
    static void setStore(std::shared_ptr<Store> store);
    // The process's own store, emptied.
    static void reset();
};

}  // namespace ui
