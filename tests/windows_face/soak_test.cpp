// A hundred sessions in a row, Start clicked and a key pressed as a person would: every
// session shows its window and ends, and the program holds no more threads, handles or
// memory at the end than after its tenth session. Prints the Start-to-window latencies.
#include <gtest/gtest.h>

#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "tests/windows_face/win32_probe.h"
#include "ui/control_table.h"

namespace {

using probe::program;

constexpr int kCycles = 100;
constexpr int kSettledCycle = 10;
constexpr int kLostKeysAllowed = 1;

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
        // PagefileUsage is the private commit, as PrivateUsage; Wine fills only the first.
        if (GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory),
                                 sizeof memory))
            f.privateBytes = memory.PagefileUsage;
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

// Which windows hold the foreground, the activation and the keyboard focus: where a key
// went that ended nothing.
std::string keyboardOwners()
{
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    const DWORD thread = GetWindowThreadProcessId(program().control, nullptr);
    GetGUIThreadInfo(thread, &info);
    const auto name = [](HWND w) {
        if (w == nullptr)
            return std::string("none");
        if (w == program().stimulation)
            return std::string("the stimulation window");
        if (w == program().control)
            return std::string("the control window");
        char text[64];
        std::snprintf(text, sizeof text, "window %p", static_cast<void*>(w));
        return std::string(text);
    };
    return "foreground: " + name(GetForegroundWindow()) + ", active: " + name(info.hwndActive) +
           ", focus: " + name(info.hwndFocus);
}

TEST(Soak, HundredStartKeyCycles)
{
    const HWND button = probe::childOfRole(ControlRole::StartButton);
    RECT r{};
    GetWindowRect(button, &r);
    std::vector<double> startMs;
    std::vector<double> answerMs;
    Footprint settled;
    int lostKeys = 0;
    for (int cycle = 1; cycle <= kCycles; ++cycle) {
        LARGE_INTEGER frequency, clicked, shown;
        QueryPerformanceFrequency(&frequency);
        QueryPerformanceCounter(&clicked);
        probe::click((r.left + r.right) / 2, (r.top + r.bottom) / 2);
        // While the Start takes effect (or waits for the last session's workers) the
        // control window's thread goes on answering: a message sent now is answered.
        LARGE_INTEGER asked, answered;
        QueryPerformanceCounter(&asked);
        DWORD_PTR ignored = 0;
        ASSERT_NE(SendMessageTimeoutW(program().control, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &ignored), 0)
            << "the control window did not answer during Start " << cycle;
        QueryPerformanceCounter(&answered);
        answerMs.push_back(1000.0 * static_cast<double>(answered.QuadPart - asked.QuadPart) /
                           static_cast<double>(frequency.QuadPart));
        ASSERT_TRUE(probe::waitUntil(running)) << "session " << cycle << " never showed";
        QueryPerformanceCounter(&shown);
        startMs.push_back(1000.0 * static_cast<double>(shown.QuadPart - clicked.QuadPart) /
                          static_cast<double>(frequency.QuadPart));
        Sleep(50 + 37 * (cycle % 7)); // hold times over whole and partial blocks
        // Keys go to the foreground window. Under Wine with a window manager the
        // foreground passes through the desktop while the manager hands the focus from
        // the control window to the stimulation window, and a key sent then reaches no
        // window of the program; a person presses once the window is in front.
        ASSERT_TRUE(probe::waitUntil([] { return GetForegroundWindow() == program().stimulation; }))
            << "session " << cycle << " never came to the front; " << keyboardOwners();
        probe::pressKey(VK_SPACE);
        if (!probe::waitUntil([] { return !running(); }, 3000) && lostKeys < kLostKeysAllowed) {
            // Wine can still route a key by the window manager's late focus events after
            // it reports the stimulation window in front (about once in 400 cycles, more
            // often where programs run slowly); a person would press again. Once per soak
            // is let pass; a program that ignores keys loses every one and fails below.
            ++lostKeys;
            std::printf("[ SOAK     ] session %d: the key went astray (%s); pressed again\n",
                        cycle, keyboardOwners().c_str());
            probe::pressKey(VK_SPACE);
        }
        ASSERT_TRUE(probe::waitUntil([] { return !running(); }))
            << "session " << cycle << " never ended; " << keyboardOwners();
        ASSERT_TRUE(probe::waitUntil([] { return IsWindowEnabled(program().control) != FALSE; }));
        // The control window has the keyboard again, as a person sees it before the next
        // Start.
        ASSERT_TRUE(probe::waitUntil([] { return GetForegroundWindow() == program().control; }))
            << "after session " << cycle << " the control window never came back to the front; "
            << keyboardOwners();
        if (cycle == kSettledCycle)
            settled = settledFootprint();
    }
    const Footprint end = settledFootprint();
    EXPECT_LE(end.threads, settled.threads) << "threads left behind";
    // A live process always holds handles; a count of 0 means the system does not count
    // them (Wine), and there is nothing to compare.
    if (settled.handles != 0) {
        EXPECT_LE(end.handles, settled.handles + 8) << "handles left behind";
    }
    EXPECT_GT(settled.privateBytes, 0u) << "the program's memory could not be read";
    // A session that leaked one block's buffer (48 kB) would add 4.2 MiB over the 90
    // cycles after cycle 10. Wine's own sound client was seen holding 2.5 MiB more, once,
    // after the server came back from a freeze on the emulated machine.
    EXPECT_LE(end.privateBytes, settled.privateBytes + 4 * 1024 * 1024) << "memory grew";

    std::sort(startMs.begin(), startMs.end());
    std::sort(answerMs.begin(), answerMs.end());
    const auto at = [](const std::vector<double>& sorted, double p) {
        return sorted[static_cast<size_t>(p * static_cast<double>(sorted.size() - 1))];
    };
    std::printf("[ SOAK     ] %d cycles: Start to window p50 %.0f ms, p95 %.0f ms, p99 %.0f ms; "
                "the control window answering during Start p50 %.1f ms, p99 %.1f ms, max %.1f ms; "
                "threads %zu -> %zu, handles %lu -> %lu, private bytes %lu KiB -> %lu KiB\n",
                kCycles, at(startMs, 0.50), at(startMs, 0.95), at(startMs, 0.99),
                at(answerMs, 0.50), at(answerMs, 0.99), answerMs.back(), settled.threads, end.threads,
                static_cast<unsigned long>(settled.handles), static_cast<unsigned long>(end.handles),
                static_cast<unsigned long>(settled.privateBytes / 1024),
                static_cast<unsigned long>(end.privateBytes / 1024));
}

} // namespace
