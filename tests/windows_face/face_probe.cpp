// face_probe.exe: what the X server cannot tell about zarvelin.exe, read from inside
// Wine for the Python face tests. It answers one command a line on standard input and
// ends each answer with a line holding a single ".". Texts go out as hex of UTF-8, so
// no text can break a line.
//
//   find                 control HWND, stimulation HWND, process id ("none" until both show)
//   state                visible, enabled, cursor, focus, foreground, iconic
//   greys N              N greys of the stimulation window read through its own drawing
//                        context (one line: the levels, or "bad X Y RGB")
//   window               the control window, the stimulation window, the screen
//   controls             one line per child: index, class, id, client and screen rects,
//                        styles, text
//   frequency            the slider's and the arrows' ranges and positions, the display
//   lists                each list's count, selection and text
//   listitems            each item of each list, selected in turn; the default put back
//   message              "none", or the message box's longest text
//   footprint            threads, handles, private bytes of the program
//   threads              the program's thread ids and where each started
//   ping                 "answered MS" once the control window's thread answers a message,
//                        "hung" if it does not within 5 s
//   count                control windows, and stimulation windows shown, on the desktop
//   icon PATH            the executable's icon group 101 and its image
//   kill                 ends the program outright
#include <windows.h>
#include <commctrl.h>
#include <psapi.h>
#include <tlhelp32.h>

#include <atomic>
#include <cstdio>
#include <iostream>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

HWND gControl = nullptr;
HWND gStimulation = nullptr;
DWORD gProcessId = 0;

std::string hex(const std::wstring& text)
{
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<size_t>(n > 0 ? n : 1), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, utf8.data(), n, nullptr, nullptr);
    utf8.resize(static_cast<size_t>(n > 0 ? n - 1 : 0));
    std::string out = utf8.empty() ? "-" : "";
    char pair[3];
    for (unsigned char c : utf8) {
        std::snprintf(pair, sizeof pair, "%02x", c);
        out += pair;
    }
    return out;
}

LRESULT ask(HWND window, UINT message, WPARAM wParam = 0, LPARAM lParam = 0)
{
    DWORD_PTR result = 0;
    SendMessageTimeoutW(window, message, wParam, lParam, SMTO_ABORTIFHUNG, 5000, &result);
    return static_cast<LRESULT>(result);
}

std::wstring text(HWND window)
{
    wchar_t buffer[512] = {};
    DWORD_PTR copied = 0;
    SendMessageTimeoutW(window, WM_GETTEXT, 512, reinterpret_cast<LPARAM>(buffer),
                        SMTO_ABORTIFHUNG, 5000, &copied);
    return buffer;
}

std::wstring className(HWND window)
{
    wchar_t buffer[256] = {};
    GetClassNameW(window, buffer, 256);
    return buffer;
}

std::vector<HWND> children(HWND parent)
{
    std::vector<HWND> out;
    for (HWND w = GetWindow(parent, GW_CHILD); w != nullptr; w = GetWindow(w, GW_HWNDNEXT))
        out.push_back(w);
    return out;
}

// The child of the control window of a class: the first, or the second with `second`.
HWND childOfClass(const wchar_t* cls, bool second = false)
{
    bool skip = second;
    for (HWND c : children(gControl))
        if (CompareStringOrdinal(className(c).c_str(), -1, cls, -1, TRUE) == CSTR_EQUAL) {
            if (!skip)
                return c;
            skip = false;
        }
    return nullptr;
}

std::string rect(const RECT& r)
{
    return std::to_string(r.left) + " " + std::to_string(r.top) + " " +
           std::to_string(r.right - r.left) + " " + std::to_string(r.bottom - r.top);
}

const char* role(HWND w)
{
    if (w == nullptr)
        return "none";
    if (w == gControl || GetParent(w) == gControl)
        return w == gControl ? "control" : "control-child";
    return w == gStimulation ? "stimulation" : "other";
}

void find()
{
    gControl = FindWindowW(L"ZarvelinWindow", nullptr);
    gStimulation = nullptr;
    gProcessId = 0;
    if (gControl != nullptr) {
        GetWindowThreadProcessId(gControl, &gProcessId);
        for (HWND w = nullptr; (w = FindWindowExW(nullptr, w, L"PaintWindow", nullptr)) != nullptr;) {
            DWORD pid = 0;
            GetWindowThreadProcessId(w, &pid);
            if (pid == gProcessId)
                gStimulation = w;
        }
    }
    if (gStimulation == nullptr)
        std::cout << "none\n";
    else
        std::cout << reinterpret_cast<ULONG_PTR>(gControl) << " "
                  << reinterpret_cast<ULONG_PTR>(gStimulation) << " " << gProcessId << "\n";
}

void state()
{
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    GetGUIThreadInfo(GetWindowThreadProcessId(gControl, nullptr), &info);
    CURSORINFO cursor{};
    cursor.cbSize = sizeof cursor;
    GetCursorInfo(&cursor);
    std::cout << "visible " << (IsWindowVisible(gStimulation) ? 1 : 0) << " enabled "
              << (IsWindowEnabled(gControl) ? 1 : 0) << " cursor "
              << ((cursor.flags & CURSOR_SHOWING) ? 1 : 0) << " focus " << role(info.hwndFocus)
              << " foreground " << role(GetForegroundWindow()) << " iconic "
              << (IsIconic(gControl) ? 1 : 0) << "\n";
}

// Wine copies what a thread drew into a window to the X screen, and lets the window's
// own drawing context see it in step, when the window's thread goes idle; the strobe
// draws from a timer thread while the UI thread sleeps, so without a message every
// millisecond only one fill in thirty or so would show, and a run could keep meeting the
// same few ticks of the cycle.
void greys(int count)
{
    std::atomic<bool> stop{false};
    std::thread nudge([&stop] {
        while (!stop.load()) {
            PostMessageW(gStimulation, WM_NULL, 0, 0);
            Sleep(1);
        }
    });
    RECT r{};
    GetClientRect(gStimulation, &r);
    const POINT points[] = {{r.right / 2, r.bottom / 2}, {0, 0}, {r.right - 1, r.bottom - 1},
                            {r.right - 1, 0}, {0, r.bottom - 1}};
    std::minstd_rand pause(20261208u);
    std::ostringstream out;
    for (int i = 0; i < count; ++i) {
        const POINT p = points[i % 5];
        HDC dc = GetDC(gStimulation);
        const COLORREF c = GetPixel(dc, p.x, p.y);
        ReleaseDC(gStimulation, dc);
        if (GetRValue(c) != GetGValue(c) || GetGValue(c) != GetBValue(c)) {
            out.str("");
            out << "bad " << p.x << " " << p.y << " " << std::hex << c;
            break;
        }
        out << static_cast<int>(GetRValue(c)) << " ";
        // Uneven pauses: a steady period could lock onto the cycle and miss its middle.
        Sleep(1 + static_cast<DWORD>(pause() % 5));
    }
    stop.store(true);
    nudge.join();
    std::cout << out.str() << "\n";
}

void window()
{
    RECT r{};
    GetWindowRect(gControl, &r);
    std::cout << "control " << hex(text(gControl)) << " " << GetClassLongW(gControl, GCL_STYLE) << " "
              << static_cast<DWORD>(GetWindowLongW(gControl, GWL_STYLE)) << " "
              << static_cast<DWORD>(GetWindowLongW(gControl, GWL_EXSTYLE)) << " " << rect(r) << "\n";
    POINT origin{0, 0};
    ClientToScreen(gControl, &origin);
    std::cout << "client " << origin.x << " " << origin.y << " face " << GetSysColor(COLOR_BTNFACE)
              << "\n";
    GetWindowRect(gStimulation, &r);
    std::cout << "stimulation " << (IsWindowVisible(gStimulation) ? 1 : 0) << " "
              << GetClassLongW(gStimulation, GCL_STYLE) << " "
              << static_cast<DWORD>(GetWindowLongW(gStimulation, GWL_STYLE)) << " "
              << (GetParent(gStimulation) == nullptr ? 0 : 1) << " " << rect(r) << "\n";
    DEVMODEW mode{};
    mode.dmSize = sizeof mode;
    EnumDisplaySettingsW(nullptr, ENUM_CURRENT_SETTINGS, &mode);
    std::cout << "screen " << GetSystemMetrics(SM_CXSCREEN) << " " << GetSystemMetrics(SM_CYSCREEN)
              << " " << mode.dmDisplayFrequency << " acp " << GetACP() << "\n";
}

void controls()
{
    int index = 0;
    for (HWND c : children(gControl)) {
        RECT screen{};
        GetWindowRect(c, &screen);
        RECT client = screen;
        MapWindowPoints(nullptr, gControl, reinterpret_cast<POINT*>(&client), 2);
        std::cout << index++ << " " << hex(className(c)) << " " << GetDlgCtrlID(c) << " "
                  << rect(client) << " " << rect(screen) << " "
                  << static_cast<DWORD>(GetWindowLongW(c, GWL_STYLE)) << " "
                  << static_cast<DWORD>(GetWindowLongW(c, GWL_EXSTYLE)) << " " << hex(text(c))
                  << "\n";
    }
}

void frequency()
{
    const HWND slider = childOfClass(TRACKBAR_CLASSW);
    const HWND arrows = childOfClass(UPDOWN_CLASSW);
    // The 16-bit forms: messages carrying pointers are not marshalled between processes
    // under Wine. UDM_GETRANGE answers the upper limit in the low word.
    const LRESULT range = ask(arrows, UDM_GETRANGE);
    std::cout << "slider " << ask(slider, TBM_GETRANGEMIN) << " " << ask(slider, TBM_GETRANGEMAX)
              << " " << ask(slider, TBM_GETPOS) << " " << ask(slider, TBM_GETTHUMBLENGTH) << "\n"
              << "arrows " << HIWORD(range) << " " << LOWORD(range) << " "
              << LOWORD(ask(arrows, UDM_GETPOS)) << " "
              << (reinterpret_cast<HWND>(ask(arrows, UDM_GETBUDDY)) == slider ? 1 : 0) << "\n"
              << "display " << hex(text(childOfClass(L"EDIT"))) << "\n";
}

void lists(bool items)
{
    for (bool second : {false, true}) {
        const HWND list = childOfClass(L"COMBOBOX", second);
        const LRESULT count = ask(list, CB_GETCOUNT);
        const LRESULT selected = ask(list, CB_GETCURSEL);
        std::cout << count << " " << selected << " " << hex(text(list));
        // CB_GETLBTEXT carries a pointer: each item is selected in turn and read as the
        // list's own text instead.
        for (LRESULT i = 0; items && i < count; ++i) {
            ask(list, CB_SETCURSEL, static_cast<WPARAM>(i));
            std::cout << " " << hex(text(list));
        }
        if (items)
            ask(list, CB_SETCURSEL, static_cast<WPARAM>(selected));
        std::cout << "\n";
    }
}

BOOL CALLBACK findDialog(HWND window, LPARAM found)
{
    if (IsWindowVisible(window) && className(window) == L"#32770") {
        *reinterpret_cast<HWND*>(found) = window;
        return FALSE;
    }
    return TRUE;
}

void message()
{
    HWND box = nullptr;
    EnumThreadWindows(GetWindowThreadProcessId(gControl, nullptr), findDialog,
                      reinterpret_cast<LPARAM>(&box));
    std::wstring longest;
    for (HWND c : box != nullptr ? children(box) : std::vector<HWND>{})
        if (text(c).size() > longest.size())
            longest = text(c);
    std::cout << (box == nullptr ? "none" : "box " + hex(longest)) << "\n";
}

std::vector<DWORD> threadIds()
{
    std::vector<DWORD> out;
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snap, &entry); more; more = Thread32Next(snap, &entry))
        if (entry.th32OwnerProcessID == gProcessId)
            out.push_back(entry.th32ThreadID);
    CloseHandle(snap);
    return out;
}

void footprint()
{
    DWORD handles = 0;
    PROCESS_MEMORY_COUNTERS memory{};
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, gProcessId);
    if (process != nullptr) {
        GetProcessHandleCount(process, &handles);
        // PagefileUsage is the private commit, as PrivateUsage; Wine fills only the first.
        GetProcessMemoryInfo(process, &memory, sizeof memory);
        CloseHandle(process);
    }
    std::cout << threadIds().size() << " " << handles << " " << memory.PagefileUsage << "\n";
}

// Where a thread started, "module+0xOFFSET": a worker of the program's, or a thread the
// system started for it (the sound system's own lives in winmm.dll).
std::string threadStart(HANDLE process, DWORD threadId)
{
    using QueryThread = LONG(WINAPI*)(HANDLE, int, PVOID, ULONG, PULONG);
    const auto query = reinterpret_cast<QueryThread>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationThread")));
    HANDLE thread = OpenThread(THREAD_QUERY_INFORMATION, FALSE, threadId);
    ULONG_PTR start = 0;
    const bool known = thread != nullptr && query(thread, 9 /* Win32StartAddress */, &start,
                                                  sizeof start, nullptr) == 0;
    if (thread != nullptr)
        CloseHandle(thread);
    HMODULE modules[512];
    DWORD bytes = 0;
    if (!known || !EnumProcessModules(process, modules, sizeof modules, &bytes))
        return "unknown";
    for (DWORD i = 0; i < bytes / sizeof(HMODULE); ++i) {
        MODULEINFO info{};
        const auto base = GetModuleInformation(process, modules[i], &info, sizeof info)
                              ? reinterpret_cast<ULONG_PTR>(info.lpBaseOfDll) : 0;
        if (base == 0 || start < base || start >= base + info.SizeOfImage)
            continue;
        char name[MAX_PATH] = "";
        GetModuleBaseNameA(process, modules[i], name, sizeof name);
        return std::string(name) + "+" + std::to_string(start - base);
    }
    return "unknown";
}

void threads()
{
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, gProcessId);
    for (DWORD id : threadIds())
        std::cout << id << " " << (process != nullptr ? threadStart(process, id) : "unknown") << "\n";
    if (process != nullptr)
        CloseHandle(process);
}

void ping()
{
    LARGE_INTEGER frequency, asked, answered;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&asked);
    DWORD_PTR ignored = 0;
    const bool answers =
        SendMessageTimeoutW(gControl, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &ignored) != 0;
    QueryPerformanceCounter(&answered);
    if (answers)
        std::cout << "answered "
                  << 1000.0 * static_cast<double>(answered.QuadPart - asked.QuadPart) /
                         static_cast<double>(frequency.QuadPart)
                  << "\n";
    else
        std::cout << "hung\n";
}

void count()
{
    int controlWindows = 0;
    int shown = 0;
    for (HWND w = nullptr; (w = FindWindowExW(nullptr, w, L"ZarvelinWindow", nullptr)) != nullptr;)
        ++controlWindows;
    for (HWND w = nullptr; (w = FindWindowExW(nullptr, w, L"PaintWindow", nullptr)) != nullptr;)
        shown += IsWindowVisible(w) ? 1 : 0;
    std::cout << controlWindows << " " << shown << "\n";
}

void icon(const std::string& path)
{
    HMODULE exe = LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    HRSRC group = exe != nullptr ? FindResourceW(exe, MAKEINTRESOURCEW(101), MAKEINTRESOURCEW(14))
                                 : nullptr;
    if (group == nullptr) {
        std::cout << "none\n";
        return;
    }
    // The group: a count, then per image width, height, colours, reserved, planes, bits,
    // bytes and the image's id.
    const auto* dir = static_cast<const BYTE*>(LockResource(LoadResource(exe, group)));
    const BYTE* entry = dir + 6;
    const int id = entry[12] | entry[13] << 8;
    HRSRC image = FindResourceW(exe, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(3));
    const auto* header = image != nullptr
        ? static_cast<const BITMAPINFOHEADER*>(LockResource(LoadResource(exe, image))) : nullptr;
    std::cout << (dir[4] | dir[5] << 8) << " " << int{entry[0]} << " " << int{entry[1]} << " "
              << int{entry[2]} << " " << (entry[6] | entry[7] << 8);
    if (header != nullptr)
        std::cout << " " << header->biWidth << " " << header->biHeight << " " << header->biBitCount;
    std::cout << "\n";
    FreeLibrary(exe);
}

void kill()
{
    HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, gProcessId);
    const bool ended = process != nullptr && TerminateProcess(process, 9) &&
                       WaitForSingleObject(process, 10000) == WAIT_OBJECT_0;
    if (process != nullptr)
        CloseHandle(process);
    std::cout << (ended ? "killed" : "alive") << "\n";
}

} // namespace

int main()
{
    std::string line;
    while (std::getline(std::cin, line)) {
        std::istringstream in(line);
        std::string verb;
        in >> verb;
        if (verb == "find") {
            find();
        } else if (gStimulation == nullptr && verb != "count" && verb != "icon") {
            std::cout << "error: no program found yet: send find first\n";
        } else if (verb == "state") {
            state();
        } else if (verb == "greys") {
            int n = 0;
            in >> n;
            greys(n);
        } else if (verb == "window") {
            window();
        } else if (verb == "controls") {
            controls();
        } else if (verb == "frequency") {
            frequency();
        } else if (verb == "lists" || verb == "listitems") {
            lists(verb == "listitems");
        } else if (verb == "message") {
            message();
        } else if (verb == "footprint") {
            footprint();
        } else if (verb == "threads") {
            threads();
        } else if (verb == "ping") {
            ping();
        } else if (verb == "count") {
            count();
        } else if (verb == "icon") {
            std::string path;
            std::getline(in >> std::ws, path);
            icon(path);
        } else if (verb == "kill") {
            kill();
        } else {
            std::cout << "error: unknown command '" << verb
                      << "'; known: find state greys window controls frequency lists listitems"
                         " message footprint threads ping count icon kill\n";
        }
        std::cout << ".\n" << std::flush;
    }
    return 0;
}
