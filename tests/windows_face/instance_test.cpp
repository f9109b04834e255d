// One instance at a time: zarvelin.exe started again while the program runs ends with
// 0 and leaves the first instance in front: its control window, restored, when idle;
// its running session, which a key still ends, when not. An instance killed outright leaves nothing
// that keeps a new start from running.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "tests/windows_face/win32_probe.h"
#include "ui/control_table.h"

namespace {

using probe::program;

bool running()
{
    return IsWindowVisible(program().stimulation) != FALSE;
}

void clickStart()
{
    RECT r{};
    GetWindowRect(probe::childOfRole(ControlRole::StartButton), &r);
    probe::click((r.left + r.right) / 2, (r.top + r.bottom) / 2);
}

// Windows of a class anywhere on the desktop: `visibleOnly` counts only those shown.
int windowsOfClass(const wchar_t* cls, bool visibleOnly)
{
    int n = 0;
    for (HWND w = FindWindowExW(nullptr, nullptr, cls, nullptr); w != nullptr;
         w = FindWindowExW(nullptr, w, cls, nullptr))
        n += !visibleOnly || IsWindowVisible(w) ? 1 : 0;
    return n;
}

// Starts the program once more and waits for that start to end; its exit code, or
// STILL_ACTIVE if it had not ended within 30 s (then it is killed).
DWORD startAgain()
{
    std::wstring command = L"\"" + program().path + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION second{};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &second))
        return 0xFFFFFFFF;
    DWORD code = STILL_ACTIVE;
    if (WaitForSingleObject(second.hProcess, 30000) == WAIT_OBJECT_0)
        GetExitCodeProcess(second.hProcess, &code);
    else
        TerminateProcess(second.hProcess, 99);
    CloseHandle(second.hThread);
    CloseHandle(second.hProcess);
    return code;
}

struct SecondStartCase {
    const char* name;
    bool minimised; // the control window minimised before the second start
    bool session;   // a session running at the second start
};

TEST(SecondStart, BringsTheFirstForwardAndEnds)
{
    const SecondStartCase cases[] = {
        {"idle, minimised", true, false},
        {"idle, in front", false, false},
        {"a session running", false, true},
    };
    for (const SecondStartCase& c : cases) {
        SCOPED_TRACE(c.name);
        const HWND control = program().control;
        if (c.minimised) {
            ShowWindowAsync(control, SW_MINIMIZE);
            ASSERT_TRUE(probe::waitUntil([control] { return IsIconic(control) != FALSE; }));
        }
        if (c.session) {
            clickStart();
            ASSERT_TRUE(probe::waitUntil(running)) << "the session did not start";
        }
        EXPECT_EQ(startAgain(), 0u) << "the second start did not end with 0";
        EXPECT_EQ(windowsOfClass(L"ZarvelinWindow", false), 1) << "a second control window";
        EXPECT_LE(windowsOfClass(L"PaintWindow", true), 1) << "a second session on the screen";
        // The running instance's front: its session, or its control window.
        const HWND front = c.session ? program().stimulation : control;
        EXPECT_TRUE(probe::waitUntil([front] { return GetForegroundWindow() == front; }))
            << "the first instance is not in front";
        EXPECT_FALSE(IsIconic(control)) << "the control window stayed minimised";
        if (c.session) {
            EXPECT_TRUE(running()) << "the second start ended the session";
            probe::pressKey(VK_SPACE);
            EXPECT_TRUE(probe::waitUntil([] { return !running(); }))
                << "no key ends the session after the second start";
            EXPECT_TRUE(probe::waitUntil([control] { return IsWindowEnabled(control) != FALSE; }));
        }
    }
}

TEST(SecondStart, RunsAfterTheFirstWasKilled)
{
    const std::wstring path = program().path;
    ASSERT_TRUE(TerminateProcess(program().process.hProcess, 9));
    ASSERT_EQ(WaitForSingleObject(program().process.hProcess, 10000), WAIT_OBJECT_0);
    std::string why;
    // The driver's main closes this one at the end and expects 0.
    ASSERT_TRUE(probe::start(probe::narrow(path), &why)) << "a start after a killed instance: " << why;
    EXPECT_EQ(windowsOfClass(L"ZarvelinWindow", false), 1);
}

} // namespace
