#pragma once

#include <functional>
#include <string>

namespace ui {

// Modifier flags of a key press (the platform's bit values).
enum KeyModifier : unsigned {
    KeyModifierAlphaShift = 1u << 16,
    KeyModifierShift = 1u << 17,
    KeyModifierControl = 1u << 18,
    KeyModifierAlternate = 1u << 19,
    KeyModifierCommand = 1u << 20,
    KeyModifierNumericPad = 1u << 21,
};

// Inputs of keys that type no character. Typing keys use their character:
// "a", " ", "\r" (return), "\x08" (backspace), "\t".
namespace KeyInput {
inline constexpr const char* upArrow = "UpArrow";
inline constexpr const char* downArrow = "DownArrow";
inline constexpr const char* leftArrow = "LeftArrow";
inline constexpr const char* rightArrow = "RightArrow";
inline constexpr const char* escape = "Escape";
inline constexpr const char* pageUp = "PageUp";
inline constexpr const char* pageDown = "PageDown";
inline constexpr const char* home = "Home";
inline constexpr const char* end = "End";
inline constexpr const char* deleteForward = "Delete";
inline constexpr const char* insert = "Insert";
inline constexpr const char* returnKey = "\r";
inline constexpr const char* backspace = "\x08";
inline constexpr const char* tab = "\t";
}  // namespace KeyInput

// A hardware key combination that a responder answers: an input and exact
// modifier flags, with the action to run when it is pressed.
struct KeyCommand {
    std::string input;
    unsigned modifierFlags = 0;
    std::function<void(const KeyCommand&)> action;
    std::string discoverabilityTitle;
    bool wantsPriorityOverSystemBehavior = false;

    static KeyCommand make(std::string input, unsigned modifiers, std::function<void(const KeyCommand&)> action) {
        KeyCommand k;
        k.input = std::move(input);
        k.modifierFlags = modifiers;
        k.action = std::move(action);
        return k;
    }

    // Caps lock and the numeric pad flag do not count.
    bool matches(const std::string& in, unsigned modifiers) const {
        const unsigned mask = KeyModifierShift | KeyModifierControl | KeyModifierAlternate | KeyModifierCommand;
        return in == input && (modifiers & mask) == (modifierFlags & mask);
    }
};

// A key going down, as the window delivers it.
struct KeyPress {
    std::string input;
    unsigned modifierFlags = 0;
};

}  // namespace ui
