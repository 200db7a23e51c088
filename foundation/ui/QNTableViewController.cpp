#include "foundation/ui/QNTableViewController.h"
