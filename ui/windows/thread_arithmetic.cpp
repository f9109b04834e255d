#include "ui/windows/thread_arithmetic.h"

#include <float.h>

#include <atomic>

#if defined(__x86_64__)
// 64-bit Windows's _controlfp sets only the SSE unit's controls and leaves the x87 unit's
// precision alone, yet MinGW's sin and cos still compute on the x87 unit there. So the
// x87 control word's precision and rounding fields are read and set directly.
namespace {
constexpr unsigned short kX87Mask = 0x0F00; // precision (bits 8-9) and rounding (10-11)
constexpr unsigned short kX87Start = 0x0300; // 64-bit precision, round to nearest

unsigned short x87Control()
{
    unsigned short word = 0;
    __asm__ volatile("fnstcw %0" : "=m"(word));
    return word;
}

// The main thread's fields; MinGW's start-up value until remembered, so a thread
// started before that still gets the same arithmetic.
std::atomic<unsigned short> gMainThreadControl{kX87Start};
}

void rememberMainThreadArithmetic()
{
    gMainThreadControl.store(x87Control() & kX87Mask, std::memory_order_release);
}

void adoptMainThreadArithmetic()
{
    const unsigned short word = static_cast<unsigned short>(
        (x87Control() & ~kX87Mask) | gMainThreadControl.load(std::memory_order_acquire));
    __asm__ volatile("fldcw %0" : : "m"(word));
}
#else
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
#endif
