#include "platform/ui/InFrontKeyScope.h"

namespace ui {

namespace {
bool inFront = false;
}  // namespace

InFrontKeyScope::InFrontKeyScope() : was_(inFront) { inFront = true; }

InFrontKeyScope::~InFrontKeyScope() { inFront = was_; }

bool InFrontKeyScope::active() { return inFront; }

}  // namespace ui
