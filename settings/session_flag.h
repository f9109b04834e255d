#pragma once
// The one value that changes under the workers' eyes: 1 while a session runs, 0 when
// none runs or the running one must stop. Written only by the session controller on
// the UI thread; polled by both workers, which get its address as their argument.
#include <atomic>
#include <cstdint>

using SessionFlagType = std::atomic<std::uint8_t>;
static_assert(SessionFlagType::is_always_lock_free, "the flag must be a plain atomic byte");

extern SessionFlagType SessionFlag;

inline bool sessionRunning(const SessionFlagType* flag)
{
    return flag->load(std::memory_order_acquire) == 1;
}
