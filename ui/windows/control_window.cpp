// The control window: the frequency slider and arrows kept in step with the display,
// the two effect lists and the Start button, all built from the shared control table.
#include <windows.h>
#include <commctrl.h>

#include "settings/frequency_text.h"
#include "session/session_controller.h"
#include "settings/session_flag.h"
#include "ui/control_table.h"
#include "ui/windows/wide_text.h"
#include "ui/windows/win32_windows.h"

HWND gControlWindow = nullptr;
HWND gFrequencyDisplay = nullptr;
HWND gFrequencySlider = nullptr;
HWND gFrequencyArrows = nullptr;
HWND gSoundList = nullptr;
HWND gVisualList = nullptr;

namespace {

// While a Start waits for the last session's workers, a timer looks again every 10 ms
// (the shortest a window timer gives); the window stays live meanwhile.
constexpr UINT_PTR kStartFollowTimer = 1;
constexpr UINT kStartFollowMs = USER_TIMER_MINIMUM;

void follow(StartResult result)
{
    if (result == StartResult::Waiting)
        SetTimer(gControlWindow, kStartFollowTimer, kStartFollowMs, nullptr);
    else
        KillTimer(gControlWindow, kStartFollowTimer);
}

long selection(HWND list)
{
    return static_cast<long>(SendMessageW(list, CB_GETCURSEL, 0, 0));
}

// Start hands the controls' values to the session: the arrows' position and the two
// lists' selections, whose positions are the mode values.
void onStart()
{
    StimulationSettings wanted;
    wanted.frequency = static_cast<std::uint32_t>(SendMessageW(gFrequencyArrows, UDM_GETPOS, 0, 0) & 0xFFFF);
    wanted.soundMode = static_cast<SoundMode>(selection(gSoundList));
    wanted.visualMode = static_cast<VisualMode>(selection(gVisualList));
    follow(startSession(wanted));
}

void showFrequency(std::uint32_t frequency)
{
    const FrequencyTextBuffer text = FrequencyText(frequency);
    SetWindowTextW(gFrequencyDisplay, widen(text.data()).text);
}

// The slider and the arrows hold the same value at all times: whichever the user moves,
// the other follows (setting a position sends no scroll message, so nothing echoes).
// The settings themselves are captured only at Start, once the last session's workers
// have ended, so a worker winding down never sees the frequency change under it.
LRESULT CALLBACK controlWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_HSCROLL: {
        const auto pos = static_cast<std::uint32_t>(
            SendMessageW(gFrequencySlider, TBM_GETPOS, 0, 0) & 0xFFFF);
        SendMessageW(gFrequencyArrows, UDM_SETPOS, 0, MAKELPARAM(pos, 0));
        showFrequency(pos);
        break;
    }
    case WM_VSCROLL: {
        const auto pos = static_cast<std::uint32_t>(
            SendMessageW(gFrequencyArrows, UDM_GETPOS, 0, 0) & 0xFFFF);
        SendMessageW(gFrequencySlider, TBM_SETPOS, TRUE, static_cast<LPARAM>(pos));
        showFrequency(pos);
        break;
    }
    case WM_COMMAND:
        if (LOWORD(wParam) == kStartButtonId && HIWORD(wParam) == BN_CLICKED)
            onStart();
        break;
    case WM_TIMER:
        if (wParam == kStartFollowTimer)
            follow(continueStart());
        break;
    case WM_DESTROY:
        PostQuitMessage(0);
        break;
    default:
        break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

DWORD roleStyle(ControlRole role)
{
    switch (role) {
    case ControlRole::FrequencyDisplay:
        return ES_READONLY | ES_RIGHT;
    case ControlRole::Slider:
        return TBS_HORZ | TBS_FIXEDLENGTH;
    case ControlRole::SoundList:
    case ControlRole::VisualList:
        return CBS_DROPDOWNLIST | CBS_AUTOHSCROLL | CBS_HASSTRINGS;
    case ControlRole::StartButton:
        return BS_PUSHBUTTON;
    case ControlRole::Label:
    case ControlRole::Arrows:
        break;
    }
    return 0;
}

void fillList(HWND list, ControlRole role)
{
    int count = 0;
    const char* const* captions = listCaptions(role, &count);
    for (int i = 0; i < count; ++i)
        SendMessageW(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(widen(captions[i]).text));
    SendMessageW(list, CB_SETCURSEL, kInitialListSelection, 0);
}

HWND createControl(const ControlRow& entry, HINSTANCE instance)
{
    const DWORD style = WS_CHILD | WS_VISIBLE;
    if (entry.role == ControlRole::Arrows) {
        // No buddy styles: the slider is neither moved nor given a text.
        return CreateUpDownControl(style, entry.x, entry.y, entry.width, entry.height,
                                   gControlWindow, entry.id, instance, gFrequencySlider,
                                   static_cast<int>(kMaxFrequency),
                                   static_cast<int>(kMinFrequency),
                                   static_cast<int>(kDefaultFrequency));
    }
    if (entry.role == ControlRole::Slider)
        InitCommonControls();
    const DWORD exStyle = entry.role == ControlRole::StartButton ? WS_EX_DLGMODALFRAME : 0;
    return CreateWindowExW(exStyle, widen(entry.className).text, widen(entry.text).text,
                           style | roleStyle(entry.role), entry.x, entry.y, entry.width,
                           entry.height, gControlWindow,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(entry.id)), instance,
                           nullptr);
}

void setUpControl(HWND control, ControlRole role)
{
    switch (role) {
    case ControlRole::FrequencyDisplay:
        gFrequencyDisplay = control;
        break;
    case ControlRole::Slider:
        gFrequencySlider = control;
        SendMessageW(control, TBM_SETRANGE, TRUE, MAKELPARAM(kMinFrequency, kMaxFrequency));
        SendMessageW(control, TBM_SETPOS, TRUE, static_cast<LPARAM>(kDefaultFrequency));
        SendMessageW(control, TBM_SETTHUMBLENGTH, kSliderThumbLength, 0);
        break;
    case ControlRole::Arrows:
        gFrequencyArrows = control;
        break;
    case ControlRole::SoundList:
        gSoundList = control;
        fillList(control, role);
        break;
    case ControlRole::VisualList:
        gVisualList = control;
        fillList(control, role);
        break;
    case ControlRole::Label:
    case ControlRole::StartButton:
        break;
    }
}

} // namespace

bool createControlWindow(HINSTANCE instance)
{
    WNDCLASSW windowClass{};
    windowClass.style = 0;
    windowClass.lpfnWndProc = controlWindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(kIconResourceId));
    windowClass.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
    const WideText className = widen(kControlWindowClass);
    windowClass.lpszClassName = className.text;
    RegisterClassW(&windowClass);

    gControlWindow = CreateWindowExW(
        0, className.text, widen(kControlWindowTitle).text,
        WS_VISIBLE | WS_SYSMENU | WS_MINIMIZEBOX,
        controlWindowLeft(GetSystemMetrics(SM_CXSCREEN)), kControlWindowTop,
        kControlWindowWidth, kControlWindowHeight, nullptr, nullptr, instance, nullptr);
    if (gControlWindow == nullptr)
        return false;

    for (const ControlRow& entry : kControls)
        setUpControl(createControl(entry, instance), entry.role);
    return true;
}

int runMessageLoop()
{
    MSG message{};
    for (;;) {
        const BOOL got = GetMessageW(&message, nullptr, 0, 0);
        if (got == 0)
            return static_cast<int>(message.wParam); // the quit message's code
        if (got == -1)
            return 1; // the queue itself failed: no quit code to pass on
        // From the moment Start is handled until the session ends, a key ends it
        // whichever window has the keyboard: the stimulation window, or the control
        // window while the Start waits or before the stimulation window took the focus.
        // The key goes no further, so it cannot also press a control.
        if (message.message == WM_KEYDOWN && (sessionRunning(&SessionFlag) || startWaiting())) {
            stopSession();
            continue;
        }
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}
