#include "foundation/ui/QNMultiViewChild.h"
