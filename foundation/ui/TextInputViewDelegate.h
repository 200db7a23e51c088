#pragma once

#include <string>

class TextInputViewController;

// Hears an edited text; answering true closes the text screen.
class TextInputViewDelegate {
public:
    virtual ~TextInputViewDelegate() = default;
    virtual bool onFinishTextInput(TextInputViewController& sender, const std::string& editTo,
                                   const std::string& original) {
        (void)sender;
        (void)editTo;
        (void)original;
        return true;
    }
};
