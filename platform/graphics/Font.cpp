#include "platform/graphics/Font.h"

#include "platform/graphics/TextEngine.h"

namespace gfx {

double Font::lineHeight() const { return TextEngine::current().metrics(*this).lineHeight; }
double Font::ascender() const { return TextEngine::current().metrics(*this).ascender; }
double Font::descender() const { return TextEngine::current().metrics(*this).descender; }

}  // namespace gfx
