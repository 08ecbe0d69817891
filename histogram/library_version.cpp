// The version compiled into the library, for callers that must know which
// one they run against rather than which headers they were built with.
#include "varrow.h"

const char *hist_version(void) { return VARROW_VERSION_STRING; }
