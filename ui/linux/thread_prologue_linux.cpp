// The Linux face's threads compute as they start: every thread has the same double
// arithmetic, so there is nothing to set up.
#include "session/thread_prologue.h"

void threadPrologue() {}
