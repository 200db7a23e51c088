#include "foundation/ui/QNViewController.h"
