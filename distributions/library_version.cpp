// The version compiled into the library, for callers that must know which
// one they run against rather than which headers they were built with.
#include "distfn.h"

const char *distfn_version(void) { return DISTFN_VERSION_STRING; }
