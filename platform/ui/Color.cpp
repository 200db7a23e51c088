#include "platform/ui/Color.h"

#include "platform/ui/Log.h"

#include <map>
#include <mutex>

namespace ui {

namespace {
Color pair(int lr, int lg, int lb, double la, int dr, int dg, int db, double da) {
    return Color(gfx::Rgba{lr / 255.0, lg / 255.0, lb / 255.0, la}, gfx::Rgba{dr / 255.0, dg / 255.0, db / 255.0, da});
}

std::mutex gNamedMutex;
std::map<std::string, Color>& namedTable() {
    static std::map<std::string, Color> t;
    return t;
}
}  // namespace

Color Color::systemBlue() { return pair(0, 122, 255, 1, 10, 132, 255, 1); }
Color Color::systemRed() { return pair(255, 59, 48, 1, 255, 69, 58, 1); }
Color Color::systemGreen() { return pair(52, 199, 89, 1, 48, 209, 88, 1); }
Color Color::systemOrange() { return pair(255, 149, 0, 1, 255, 159, 10, 1); }
Color Color::systemGray() { return pair(142, 142, 147, 1, 142, 142, 147, 1); }
Color Color::systemGray2() { return pair(174, 174, 178, 1, 99, 99, 102, 1); }
Color Color::systemGray3() { return pair(199, 199, 204, 1, 72, 72, 74, 1); }
Color Color::systemGray4() { return pair(209, 209, 214, 1, 58, 58, 60, 1); }
Color Color::systemGray5() { return pair(229, 229, 234, 1, 44, 44, 46, 1); }
Color Color::systemGray6() { return pair(242, 242, 247, 1, 28, 28, 30, 1); }
Color Color::label() { return pair(0, 0, 0, 1, 255, 255, 255, 1); }
Color Color::secondaryLabel() { return pair(60, 60, 67, 0.6, 235, 235, 245, 0.6); }
Color Color::tertiaryLabel() { return pair(60, 60, 67, 0.3, 235, 235, 245, 0.3); }
Color Color::placeholderText() { return pair(60, 60, 67, 0.3, 235, 235, 245, 0.3); }
Color Color::separator() { return pair(60, 60, 67, 0.29, 84, 84, 88, 0.6); }
Color Color::systemBackground() { return pair(255, 255, 255, 1, 0, 0, 0, 1); }
Color Color::secondarySystemBackground() { return pair(242, 242, 247, 1, 28, 28, 30, 1); }
Color Color::systemGroupedBackground() { return pair(242, 242, 247, 1, 0, 0, 0, 1); }
Color Color::systemFill() { return pair(120, 120, 128, 0.2, 120, 120, 128, 0.36); }
Color Color::barBackground() { return pair(249, 249, 249, 0.94, 22, 22, 24, 0.94); }

Color Color::named(const std::string& name) {
    {
        std::lock_guard<std::mutex> g(gNamedMutex);
        auto it = namedTable().find(name);
        if (it != namedTable().end()) return it->second;
    }
    logWarning("no colour named \"" + name + "\"");
    return Color();
}

void Color::setNamed(const std::string& name, const Color& color) {
    std::lock_guard<std::mutex> g(gNamedMutex);
    namedTable()[name] = color;
}

bool Color::hasNamed(const std::string& name) {
    std::lock_guard<std::mutex> g(gNamedMutex);
    return namedTable().count(name) != 0;
}

}  // namespace ui
