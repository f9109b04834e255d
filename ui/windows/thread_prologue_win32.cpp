// Every thread the session starts takes the main thread's floating-point control
// before it computes a sample or a grey level (see thread_arithmetic.h).
#include "session/thread_prologue.h"

#include "ui/windows/thread_arithmetic.h"

void threadPrologue()
{
    adoptMainThreadArithmetic();
}
