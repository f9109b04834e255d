#include "ui/windows/thread_arithmetic.h"

#include <float.h>

#include <atomic>

namespace {
// The main thread's precision and rounding control; MinGW's start-up value until
// remembered, so a thread started before that still gets the same arithmetic.
std::atomic<unsigned> gMainThreadControl{_PC_64 | _RC_NEAR};
constexpr unsigned kMask = _MCW_PC | _MCW_RC;
}

void rememberMainThreadArithmetic()
{
    gMainThreadControl.store(_controlfp(0, 0) & kMask, std::memory_order_release);
}

void adoptMainThreadArithmetic()
{
    _controlfp(gMainThreadControl.load(std::memory_order_acquire), kMask);
}
