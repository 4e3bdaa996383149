// The shared library's own translation unit; every exported symbol comes from the core.
#include "OstmereEngine.h"
