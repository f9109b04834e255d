// A hundred sessions in a row, Start clicked and a key pressed as a person would: every
// session shows its window and ends, and the program holds no more threads, handles or
// memory at the end than after its tenth session. Prints the Start-to-window latencies.
#include <gtest/gtest.h>

#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "tests/windows_face/win32_probe.h"
#include "ui/control_table.h"

namespace {

using probe::program;

constexpr int kCycles = 100;
constexpr int kSettledCycle = 10;

bool running()
{
    return IsWindowVisible(program().stimulation) != FALSE;
}

struct Footprint {
    DWORD handles = 0;
    SIZE_T privateBytes = 0;
    size_t threads = 0;
};

Footprint footprint()
{
    Footprint f;
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE,
                                 program().process.dwProcessId);
    if (process != nullptr) {
        GetProcessHandleCount(process, &f.handles);
        PROCESS_MEMORY_COUNTERS_EX memory{};
        if (GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory),
                                 sizeof memory))
            f.privateBytes = memory.PrivateUsage;
        CloseHandle(process);
    }
    f.threads = probe::threadsOf(program().process.dwProcessId).size();
    return f;
}

// The workers of the last session end by themselves within moments of the key.
Footprint settledFootprint()
{
    Footprint before = footprint();
    probe::waitUntil([&before] {
        Sleep(500);
        const Footprint now = footprint();
        const bool same = now.threads == before.threads && now.handles == before.handles;
        before = now;
        return same;
    }, 30000);
    return before;
}

TEST(Soak, HundredStartKeyCycles)
{
    const HWND button = probe::childOfRole(ControlRole::StartButton);
    RECT r{};
    GetWindowRect(button, &r);
    std::vector<double> startMs;
    Footprint settled;
    for (int cycle = 1; cycle <= kCycles; ++cycle) {
        LARGE_INTEGER frequency, clicked, shown;
        QueryPerformanceFrequency(&frequency);
        QueryPerformanceCounter(&clicked);
        probe::click((r.left + r.right) / 2, (r.top + r.bottom) / 2);
        ASSERT_TRUE(probe::waitUntil(running)) << "session " << cycle << " never showed";
        QueryPerformanceCounter(&shown);
        startMs.push_back(1000.0 * static_cast<double>(shown.QuadPart - clicked.QuadPart) /
                          static_cast<double>(frequency.QuadPart));
        Sleep(50 + 37 * (cycle % 7)); // hold times over whole and partial blocks
        probe::pressKey(VK_SPACE);
        ASSERT_TRUE(probe::waitUntil([] { return !running(); })) << "session " << cycle << " never ended";
        ASSERT_TRUE(probe::waitUntil([] { return IsWindowEnabled(program().control) != FALSE; }));
        if (cycle == kSettledCycle)
            settled = settledFootprint();
    }
    const Footprint end = settledFootprint();
    EXPECT_LE(end.threads, settled.threads) << "threads left behind";
    EXPECT_LE(end.handles, settled.handles + 8) << "handles left behind";
    EXPECT_LE(end.privateBytes, settled.privateBytes + 2 * 1024 * 1024) << "memory grew";

    std::sort(startMs.begin(), startMs.end());
    const auto at = [&startMs](double p) {
        return startMs[static_cast<size_t>(p * static_cast<double>(startMs.size() - 1))];
    };
    std::printf("[ SOAK     ] %d cycles: Start to window p50 %.0f ms, p95 %.0f ms, p99 %.0f ms; "
                "threads %zu -> %zu, handles %lu -> %lu, private bytes %lu KiB -> %lu KiB\n",
                kCycles, at(0.50), at(0.95), at(0.99), settled.threads, end.threads,
                static_cast<unsigned long>(settled.handles), static_cast<unsigned long>(end.handles),
                static_cast<unsigned long>(settled.privateBytes / 1024),
                static_cast<unsigned long>(end.privateBytes / 1024));
}

} // namespace
