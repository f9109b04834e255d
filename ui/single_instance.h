#pragma once
// One instance per user and display: a second start hands over to the first, which
// comes to the front, and ends. Each face supplies the two tries (a named mutex and a
// window message on Windows; a lock file and a local socket on Linux); the patience
// between them is the same everywhere.
#include <chrono>
#include <thread>

enum class InstanceClaim {
    First,      // no other instance holds the display: this one runs
    HandedOver, // the running instance was asked to come to the front and said so
    NoAnswer,   // another instance holds the claim but never answered
};

// How long a second start keeps trying: the first may be starting up (its claim taken,
// its window not there yet) or ending (its window gone, its claim not yet let go).
constexpr std::chrono::milliseconds kInstanceAnswerWait{10000};

// Tries to become the first instance, else to hand over to the running one, until one
// of the two succeeds or the wait is over. A claim left by a killed instance is let go
// by the system with the process, so `becomeFirst` then succeeds at once.
template <typename BecomeFirst, typename HandOver>
InstanceClaim claimInstance(BecomeFirst becomeFirst, HandOver handOver)
{
    const auto deadline = std::chrono::steady_clock::now() + kInstanceAnswerWait;
    for (;;) {
        if (becomeFirst())
            return InstanceClaim::First;
        if (handOver())
            return InstanceClaim::HandedOver;
        if (std::chrono::steady_clock::now() >= deadline)
            return InstanceClaim::NoAnswer;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}
