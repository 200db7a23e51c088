#include "platform/ui/Pasteboard.h"

namespace ui {

namespace {

class MemoryStore : public Pasteboard::Store {
public:
    std::string text(Pasteboard::Kind kind) override {
        return kind == Pasteboard::Kind::Clipboard ? clipboard_ : selection_;
    }
    void setText(Pasteboard::Kind kind, const std::string& text) override {
        (kind == Pasteboard::Kind::Clipboard ? clipboard_ : selection_) = text;
    }

private:
    std::string clipboard_;
    std::string selection_;
};

std::shared_ptr<Pasteboard::Store>& current() {
    static std::shared_ptr<Pasteboard::Store> store = std::make_shared<MemoryStore>();
    return store;
}

}  // namespace

std::string Pasteboard::text(Kind kind) { return current()->text(kind); }

void Pasteboard::setText(const std::string& text, Kind kind) { current()->setText(kind, text); }

void Pasteboard::setStore(std::shared_ptr<Store> store) {
    current() = store ? std::move(store) : std::make_shared<MemoryStore>();
}

void Pasteboard::reset() { current() = std::make_shared<MemoryStore>(); }

}  // namespace ui
