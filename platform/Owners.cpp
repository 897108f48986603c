// The owners are header-only; this unit keeps the core library non-empty on
// every build and checks that the header stands alone.
#include "platform/Owners.h"
