// The program worked as a person works it: the frequency set with the mouse, Start
// clicked, the screen taken over and pulsing,
// a key (or Alt+F4) giving the desktop back, and Start again; then the window closed.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <map>
#include <random>
#include <set>
#include <thread>

#include "settings/frequency_text.h"
#include "tests/windows_face/win32_probe.h"
#include "ui/control_table.h"
#include "visual/strobe_level.h"

namespace {

using probe::program;

using probe::ask;
using probe::childOfRole;

HWND focusedWindow()
{
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    GetGUIThreadInfo(program().process.dwThreadId, &info);
    return info.hwndFocus;
}

bool running()
{
    return IsWindowVisible(program().stimulation) != FALSE;
}

// The state a session leaves when it runs, and when it does not.
void expectRunning()
{
    const HWND stim = program().stimulation;
    ASSERT_TRUE(probe::waitUntil(running)) << "the stimulation window never showed";
    RECT r{};
    GetWindowRect(stim, &r);
    EXPECT_EQ(r.left, 0);
    EXPECT_EQ(r.top, 0);
    EXPECT_EQ(r.right, probe::screenWidth());
    EXPECT_EQ(r.bottom, probe::screenHeight());
    const POINT centre{probe::screenWidth() / 2, probe::screenHeight() / 2};
    EXPECT_EQ(WindowFromPoint(centre), stim) << "something lies over the stimulation window";
    EXPECT_TRUE(probe::waitUntil([] { return !IsWindowEnabled(program().control); }));
    EXPECT_TRUE(probe::waitUntil([] { return !probe::cursorShown(); })) << "cursor still shown";
    EXPECT_TRUE(probe::waitUntil([stim] { return focusedWindow() == stim; }));
}

void expectIdle()
{
    ASSERT_TRUE(probe::waitUntil([] { return !running(); })) << "the session did not stop";
    EXPECT_TRUE(IsWindow(program().stimulation)) << "the stimulation window was destroyed";
    EXPECT_TRUE(probe::waitUntil([] { return IsWindowEnabled(program().control) != FALSE; }));
    EXPECT_TRUE(probe::waitUntil(probe::cursorShown)) << "cursor still hidden";
    EXPECT_TRUE(probe::waitUntil([] { return focusedWindow() == program().control; }));
}

void clickStart()
{
    const HWND button = childOfRole(ControlRole::StartButton);
    RECT r{};
    GetWindowRect(button, &r);
    probe::click((r.left + r.right) / 2, (r.top + r.bottom) / 2);
}

bool isGrey(COLORREF c)
{
    return GetRValue(c) == GetGValue(c) && GetGValue(c) == GetBValue(c);
}

// The ticks a session can live through in one test: four minutes of 2 ms ticks.
constexpr std::uint32_t kTicksLived = 4 * 60 * 1000 / kStrobeTickMs;

// Every level the curve takes at frequency `f` over those ticks. The tick counts on from
// the session's start and the short constant for a full turn lets the phase drift, so
// later cycles can take greys the first does not.
std::set<int> curveLevels(std::uint32_t f)
{
    std::set<int> levels;
    const double step = phaseStep(ticksPerCycle(f));
    for (std::uint32_t t = 0; t < kTicksLived; ++t)
        levels.insert(strobeLevel(t, step));
    return levels;
}

// The grey most cycles show at their middle tick, over the ticks a session lives through.
int usualMiddleLevel(std::uint32_t f)
{
    const std::uint32_t ticks = ticksPerCycle(f);
    const double step = phaseStep(ticks);
    std::map<int, int> count;
    for (std::uint32_t t = ticks / 2; t < kTicksLived; t += ticks)
        ++count[strobeLevel(t, step)];
    return std::max_element(count.begin(), count.end(),
                            [](auto a, auto b) { return a.second < b.second; })->first;
}

std::uint32_t shownFrequency()
{
    DWORD_PTR pos = 0;
    SendMessageTimeoutW(childOfRole(ControlRole::Arrows), UDM_GETPOS, 0, 0, SMTO_ABORTIFHUNG,
                        5000, &pos);
    return static_cast<std::uint32_t>(pos & 0xFFFF);
}

// Wakes the program's UI thread every millisecond while it lives. Wine copies what a
// thread drew into a window to the X screen when the window's own thread goes idle; the
// strobe draws from the timer thread while the UI thread sleeps in its message loop, so
// without this the screen shows a fill only every 60 ms or so (about 16 a second, three
// whole cycles at 50 Hz), and a run can keep meeting the same few ticks of the cycle.
// With a message posted every millisecond the screen shows every tick (490 changes a
// second for 500 fills, measured). Real Windows composes the window at each refresh.
class UiThreadNudge {
public:
    explicit UiThreadNudge(HWND window)
        : thread_([this, window] {
              while (!stop_.load(std::memory_order_acquire)) {
                  PostMessageW(window, WM_NULL, 0, 0);
                  Sleep(1);
              }
          })
    {
    }
    ~UiThreadNudge()
    {
        stop_.store(true, std::memory_order_release);
        thread_.join();
    }
    UiThreadNudge(const UiThreadNudge&) = delete;
    UiThreadNudge& operator=(const UiThreadNudge&) = delete;

private:
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// Samples the stimulation window's centre and corners `count` times, through the
// window's own drawing context; returns the distinct levels.
std::set<int> sampleScreen(int count, const std::set<int>& allowed)
{
    const UiThreadNudge nudge(program().stimulation);
    const int w = probe::screenWidth();
    const int h = probe::screenHeight();
    const POINT points[] = {{w / 2, h / 2}, {0, 0}, {w - 1, h - 1}, {w - 1, 0}, {0, h - 1}};
    std::set<int> seen;
    std::minstd_rand pause(20261208u);
    for (int i = 0; i < count; ++i) {
        const POINT p = points[i % 5];
        const COLORREF c = probe::windowPixel(program().stimulation, p.x, p.y);
        EXPECT_TRUE(isGrey(c)) << "pixel (" << p.x << "," << p.y << ") is " << std::hex << c;
        const int level = GetRValue(c);
        EXPECT_TRUE(allowed.count(level) == 1)
            << "level " << level << " at (" << p.x << "," << p.y << ") is not on the curve";
        seen.insert(level);
        // Uneven pauses: a steady 4 ms between samples (3 ms and the read) can lock onto
        // the 20 ms cycle at 50 Hz and never meet its middle tick.
        Sleep(1 + static_cast<DWORD>(pause() % 5));
    }
    return seen;
}

// The worker threads of a session end by themselves once it stops. Threads the system
// keeps for the process (the multimedia timer's, the sound driver's) stay; so a
// session's workers are known to have ended when no thread is left that was not there
// before that session started or after an earlier one had ended.
std::set<DWORD> gQuietThreads;

void rememberQuietThreads()
{
    for (DWORD id : probe::threadsOf(program().process.dwProcessId))
        gQuietThreads.insert(id);
}

// The sound system's own devices thread, started inside winmm: Wine's ends only when a
// later call finds no device open, and where the device could not be opened it can wait
// for that call for good. It is none of the program's workers (those start in the
// program), so whether it is still there says nothing about them.
bool soundSystemThread(DWORD id)
{
    std::string where = probe::threadStart(program().process.dwProcessId, id);
    for (char& c : where)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return where.rfind("winmm.dll+", 0) == 0;
}

bool onlyQuietThreadsLeft()
{
    for (DWORD id : probe::threadsOf(program().process.dwProcessId))
        if (gQuietThreads.count(id) == 0 && !soundSystemThread(id))
            return false;
    return true;
}

// The threads left beside the quiet ones, and where each started.
std::string threadsLeft()
{
    std::string out;
    const DWORD process = program().process.dwProcessId;
    for (DWORD id : probe::threadsOf(process))
        if (gQuietThreads.count(id) == 0)
            out += " thread " + std::to_string(id) + " from " + probe::threadStart(process, id);
    return out;
}

// The frequency controls worked with the mouse. Each step clicks, then waits for the
// display to show the expected text, and checks that slider, arrows and display agree.
struct FrequencyStep {
    const char* what;
    ControlRole target;
    int where;   // -1: left or lower end, +1: right or upper end of the control
    int repeats; // clicks at most, until the display shows `shows`
    const char* shows;
    int position;
};
constexpr FrequencyStep kFrequencySteps[] = {
    {"up arrow from the default", ControlRole::Arrows, +1, 1, "7,81", 781},
    {"down arrow back", ControlRole::Arrows, -1, 1, "7,80", 780},
    {"slider channel at its left end", ControlRole::Slider, -1, 3, "0,10", 10},
    {"up arrow at the bottom", ControlRole::Arrows, +1, 1, "0,11", 11},
    {"down arrow to the bottom", ControlRole::Arrows, -1, 1, "0,10", 10},
    {"down arrow below the bottom", ControlRole::Arrows, -1, 1, "0,10", 10},
    {"slider channel at its right end", ControlRole::Slider, +1, 12, "50,00", 5000},
    {"down arrow from the top", ControlRole::Arrows, -1, 1, "49,99", 4999},
    {"up arrow to the top", ControlRole::Arrows, +1, 2, "50,00", 5000},
    // A click in the channel beside the thumb moves one page: a fifth of the range.
    {"slider channel left of the thumb: one page", ControlRole::Slider, -1, 1, "40,02", 4002},
    {"slider channel right of the thumb: one page", ControlRole::Slider, +1, 1, "50,00", 5000},
};

void clickEnd(HWND control, ControlRole role, int where);

// Works the frequency controls through `steps`: each clicks, then waits for the display
// to show the expected text; slider, arrows and display must agree after each.
template <std::size_t N>
void takeSteps(const FrequencyStep (&steps)[N])
{
    const HWND display = childOfRole(ControlRole::FrequencyDisplay);
    const HWND slider = childOfRole(ControlRole::Slider);
    const HWND arrows = childOfRole(ControlRole::Arrows);
    for (const FrequencyStep& step : steps) {
        SCOPED_TRACE(step.what);
        const HWND target = step.target == ControlRole::Arrows ? arrows : slider;
        const std::wstring want = probe::widen(step.shows);
        bool shown = false;
        for (int i = 0; i < step.repeats && !shown; ++i) {
            const std::wstring before = probe::windowText(display);
            clickEnd(target, step.target, step.where);
            // A click that moves nothing changes no text; wait for a change or a while.
            probe::waitUntil([&] { return probe::windowText(display) != before; }, 1500);
            shown = probe::windowText(display) == want;
        }
        EXPECT_EQ(probe::narrow(probe::windowText(display)), step.shows);
        EXPECT_EQ(ask(slider, TBM_GETPOS), step.position);
        EXPECT_EQ(LOWORD(ask(arrows, UDM_GETPOS)), step.position);
        EXPECT_EQ(probe::narrow(probe::windowText(display)),
                  std::string(FrequencyText(static_cast<std::uint32_t>(step.position)).data()));
    }
}

void clickEnd(HWND control, ControlRole role, int where)
{
    RECT r{};
    GetWindowRect(control, &r);
    if (role == ControlRole::Arrows) {
        const int x = (r.left + r.right) / 2;
        probe::click(x, where > 0 ? r.top + 3 : r.bottom - 4);
    } else {
        const int y = (r.top + r.bottom) / 2;
        // Well inside the channel, past the margin the thumb needs at either end.
        probe::click(where > 0 ? r.right - 12 : r.left + 12, y);
    }
}

std::string listed(const std::set<int>& levels)
{
    std::string out;
    for (int l : levels)
        out += std::to_string(l) + " ";
    return out;
}

BOOL CALLBACK findDialog(HWND window, LPARAM found)
{
    if (IsWindowVisible(window) && probe::className(window) == L"#32770") {
        *reinterpret_cast<HWND*>(found) = window;
        return FALSE;
    }
    return TRUE;
}

// The program's message box, if one is shown: a dialog of its UI thread.
HWND messageBox()
{
    HWND found = nullptr;
    EnumThreadWindows(program().process.dwThreadId, findDialog, reinterpret_cast<LPARAM>(&found));
    return found;
}

// What a message box says: the longest text among its children.
std::string messageText(HWND box)
{
    std::wstring longest;
    for (HWND c : probe::children(box)) {
        const std::wstring text = probe::windowText(c);
        if (text.size() > longest.size())
            longest = text;
    }
    return probe::narrow(longest);
}

// The screen's refresh rate as the system reports it; unknown (0 or 1) is taken as 60.
double refreshRate()
{
    DEVMODEW mode{};
    mode.dmSize = sizeof mode;
    EnumDisplaySettingsW(nullptr, ENUM_CURRENT_SETTINGS, &mode);
    return mode.dmDisplayFrequency > 1 ? mode.dmDisplayFrequency : 60.0;
}

// From the default 7,80, two pages right and two arrows up: 27,78, 17 ticks a cycle, a
// flicker of 29,41 Hz, the fastest a 60 Hz screen shows. The greys follow the curve and
// no message comes. Then back to the default for the frequency test.
TEST(ShownFlicker, JustBelowHalfTheRefreshRateStartsAsEver)
{
    if (refreshRate() >= 100.0)
        GTEST_SKIP() << "this screen refreshes at " << refreshRate() << " Hz and shows every flicker";
    constexpr FrequencyStep there[] = {
        {"a page right", ControlRole::Slider, +1, 1, "17,78", 1778},
        {"another page right", ControlRole::Slider, +1, 1, "27,76", 2776},
        {"up arrow", ControlRole::Arrows, +1, 1, "27,77", 2777},
        {"up arrow again", ControlRole::Arrows, +1, 1, "27,78", 2778},
    };
    takeSteps(there);
    clickStart();
    expectRunning();
    EXPECT_EQ(messageBox(), nullptr) << "a message at 27,78: " << messageText(messageBox());
    const std::set<int> seen = sampleScreen(400, curveLevels(2778));
    EXPECT_GE(seen.size(), 3u) << "the screen does not pulse: seen " << listed(seen);
    probe::pressKey(VK_SPACE);
    expectIdle();
    constexpr FrequencyStep back[] = {
        {"down arrow", ControlRole::Arrows, -1, 1, "27,77", 2777},
        {"down arrow again", ControlRole::Arrows, -1, 1, "27,76", 2776},
        {"a page left", ControlRole::Slider, -1, 1, "17,78", 1778},
        {"another page left", ControlRole::Slider, -1, 1, "7,80", 780},
    };
    takeSteps(back);
}

TEST(Frequency, SliderAndArrowsMovedByTheMouseStayInStep)
{
    takeSteps(kFrequencySteps);
}

// At 50,00 a 60 Hz screen would show a flicker of about 10 Hz. The user is told before
// the screen goes black, with the screen's rate and the fastest setting it shows; the
// session runs black with its sound. Then three pages down, to 20,06, for the sessions
// that follow.
TEST(UnshownFlicker, AboveHalfTheRefreshRateIsToldAndRunsBlack)
{
    const double rate = refreshRate();
    if (rate >= 100.0)
        GTEST_SKIP() << "this screen refreshes at " << rate << " Hz and shows every flicker";
    constexpr FrequencyStep top[] = {
        {"slider channel at its right end", ControlRole::Slider, +1, 12, "50,00", 5000},
    };
    takeSteps(top);
    clickStart();
    ASSERT_TRUE(probe::waitUntil([] { return messageBox() != nullptr; })) << "no message at 50,00";
    Sleep(300);
    EXPECT_FALSE(running()) << "the screen went black before the message was read";
    const std::string text = messageText(messageBox());
    const std::string highest = FrequencyText(highestShownFrequency(rate)).data();
    EXPECT_NE(text.find(std::to_string(static_cast<int>(rate)) + " Гц"), std::string::npos) << text;
    EXPECT_NE(text.find(highest + " Гц"), std::string::npos) << text;
    EXPECT_NE(text.find("50,00 Гц"), std::string::npos) << text;
    probe::pressKey(VK_RETURN);
    expectRunning();
    EXPECT_EQ(sampleScreen(200, {0}), std::set<int>{0});
    probe::pressKey(VK_SPACE);
    expectIdle();
    constexpr FrequencyStep down[] = {
        {"a page left", ControlRole::Slider, -1, 1, "40,02", 4002},
        {"another page left", ControlRole::Slider, -1, 1, "30,04", 3004},
        {"a third page left", ControlRole::Slider, -1, 1, "20,06", 2006},
    };
    takeSteps(down);
}

// The system may start threads of its own for a session (the sound driver's, a pool's)
// and keep them a while: wait until the count settles, then take them as quiet.
void settleAndRememberQuietThreads()
{
    EXPECT_TRUE(probe::waitUntil([] {
        const size_t before = probe::threadsOf(program().process.dwProcessId).size();
        Sleep(700);
        return probe::threadsOf(program().process.dwProcessId).size() == before;
    }, 30000));
    rememberQuietThreads();
}

TEST(Session, StartCoversTheScreenHidesTheCursorAndDisablesTheControls)
{
    rememberQuietThreads();
    clickStart();
    expectRunning();
}

TEST(Session, StroboscopePaintsOnlyLevelsOfTheCurve)
{
    ASSERT_TRUE(running());
    const std::uint32_t frequency = shownFrequency();
    const std::set<int> allowed = curveLevels(frequency);
    // The middle of a cycle lasts one tick in ten at 50 Hz, one in 64 at 7.80 Hz: 800
    // samples miss it with a chance of about one in a quarter of a million.
    const std::set<int> seen = sampleScreen(800, allowed);
    EXPECT_GE(seen.size(), 3u) << "the screen does not pulse: seen " << listed(seen);
    EXPECT_TRUE(std::includes(allowed.begin(), allowed.end(), seen.begin(), seen.end()))
        << "seen: " << listed(seen) << "; the curve: " << listed(allowed);
    // The mid-cycle grey lies a hair below a whole number: computed on the strobe's timer
    // thread with other arithmetic than the main thread's (a narrower x87 precision), it
    // comes out one lower and the usual middle grey never shows.
    const int middle = usualMiddleLevel(frequency);
    EXPECT_EQ(seen.count(middle), 1u)
        << "the mid-cycle grey " << middle << " never showed: seen " << listed(seen);
}

// Keys the system delivers as system keys (Alt alone, Alt with a letter, F10) are no
// key-down in the stimulation window: the session goes on.
TEST(Session, SystemKeysLeaveTheSessionRunning)
{
    ASSERT_TRUE(running());
    probe::pressKey(VK_MENU);
    probe::pressAltWith('X');
    probe::pressKey(VK_F10);
    Sleep(500);
    EXPECT_TRUE(running()) << "a system key ended the session";
    EXPECT_FALSE(IsWindowEnabled(program().control));
}

TEST(Session, AnyKeyStopsTheSessionAndTheWorkersEnd)
{
    probe::pressKey(VK_SPACE);
    expectIdle();
    settleAndRememberQuietThreads();
}

void chooseVisualWithKeys(WORD key)
{
    const HWND list = childOfRole(ControlRole::VisualList);
    RECT r{};
    GetWindowRect(list, &r);
    probe::click((r.left + r.right) / 2, (r.top + r.bottom) / 2); // drops the list down
    probe::waitUntil([list] {
        DWORD_PTR dropped = 0;
        SendMessageTimeoutW(list, CB_GETDROPPEDSTATE, 0, 0, SMTO_ABORTIFHUNG, 5000, &dropped);
        return dropped != 0;
    }, 3000);
    probe::pressKey(key);
    probe::pressKey(VK_RETURN);
}

long visualSelection()
{
    DWORD_PTR sel = 0;
    SendMessageTimeoutW(childOfRole(ControlRole::VisualList), CB_GETCURSEL, 0, 0,
                        SMTO_ABORTIFHUNG, 5000, &sel);
    return static_cast<long>(sel);
}

TEST(Session, WithoutTheStroboscopeTheScreenStaysBlackAndAltF4StopsIt)
{
    chooseVisualWithKeys(VK_UP);
    ASSERT_TRUE(probe::waitUntil([] { return visualSelection() == 0; })) << visualSelection();
    clickStart();
    expectRunning();
    const std::set<int> seen = sampleScreen(100, {0});
    EXPECT_EQ(seen, std::set<int>{0});

    // Alt+F4 asks the window to close: the session ends, the window stays for the next.
    probe::pressAltF4();
    expectIdle();
    settleAndRememberQuietThreads();

    chooseVisualWithKeys(VK_DOWN);
    EXPECT_TRUE(probe::waitUntil([] { return visualSelection() == 1; })) << visualSelection();
}

TEST(Session, StartAgainRunsAFreshSession)
{
    clickStart();
    expectRunning();
    const std::set<int> seen = sampleScreen(200, curveLevels(shownFrequency()));
    EXPECT_GE(seen.size(), 3u) << "the screen does not pulse: seen " << listed(seen)
                               << "with the visual list at " << visualSelection();
    probe::pressKey('A');
    expectIdle();
    EXPECT_TRUE(probe::waitUntil(onlyQuietThreadsLeft, 30000))
        << "a worker never ended:" << threadsLeft();
}

} // namespace
