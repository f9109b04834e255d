// face_probe.exe: what the X server cannot tell about zarvelin.exe, read from inside Wine
// for tests/windows_face/wine_driver.py. One command a line on standard input (find
// first), each answer ending with a line ".". Texts go out as hex of UTF-8 ("-" when
// empty), so no text can break a line.
#include <windows.h>
#include <commctrl.h>
#include <psapi.h>
#include <tlhelp32.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <iostream>
#include <map>
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
    char utf8[2048] = "";
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, utf8, sizeof utf8, nullptr, nullptr);
    std::string out = utf8[0] == 0 ? "-" : "";
    for (const char* c = utf8; *c != 0; ++c)
        out += {"0123456789abcdef"[(*c >> 4) & 15], "0123456789abcdef"[*c & 15]};
    return out;
}

// Sent with a time limit: a hung program makes the probe answer 0, not hang with it.
LRESULT ask(HWND window, UINT message, WPARAM wParam = 0, LPARAM lParam = 0)
{
    DWORD_PTR result = 0;
    SendMessageTimeoutW(window, message, wParam, lParam, SMTO_ABORTIFHUNG, 5000, &result);
    return static_cast<LRESULT>(result);
}

std::wstring text(HWND window)
{
    wchar_t buffer[512] = {};
    ask(window, WM_GETTEXT, 512, reinterpret_cast<LPARAM>(buffer));
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

std::string rect(const RECT& r)
{
    return std::to_string(r.left) + " " + std::to_string(r.top) + " " +
           std::to_string(r.right - r.left) + " " + std::to_string(r.bottom - r.top);
}

DWORD style(HWND w, int which = GWL_STYLE)
{
    return static_cast<DWORD>(GetWindowLongW(w, which));
}

const char* role(HWND w)
{
    return w == nullptr ? "none" : w == gControl ? "control" : w == gStimulation ? "stimulation"
           : GetParent(w) == gControl ? "control-child" : "other";
}

void find(std::istream&)
{
    gControl = FindWindowW(L"ZarvelinWindow", nullptr);
    gStimulation = nullptr;
    gProcessId = 0;
    GetWindowThreadProcessId(gControl, &gProcessId);
    for (HWND w = nullptr; (w = FindWindowExW(nullptr, w, L"PaintWindow", nullptr)) != nullptr;) {
        DWORD pid = 0;
        GetWindowThreadProcessId(w, &pid);
        if (pid == gProcessId)
            gStimulation = w;
    }
    if (gStimulation == nullptr)
        std::cout << "none\n";
    else
        std::cout << gControl << " " << gStimulation << " " << gProcessId << "\n";
}

void state(std::istream&)
{
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    GetGUIThreadInfo(GetWindowThreadProcessId(gControl, nullptr), &info);
    CURSORINFO cursor{};
    cursor.cbSize = sizeof cursor;
    GetCursorInfo(&cursor);
    std::cout << "enabled " << (IsWindowEnabled(gControl) ? 1 : 0) << " cursor "
              << ((cursor.flags & CURSOR_SHOWING) ? 1 : 0) << " focus " << role(info.hwndFocus)
              << " foreground " << role(GetForegroundWindow()) << "\n";
}

// Wine lets the window's own drawing context see what a thread drew only when the
// window's thread goes idle; the strobe draws from a timer thread while the UI thread
// sleeps, so without a message every millisecond only one fill in thirty or so would
// show, and a run could keep meeting the same few ticks of the cycle.
void greys(std::istream& in)
{
    int count = 0;
    in >> count;
    std::atomic<bool> stop{false};
    std::thread nudge([&stop] {
        for (; !stop.load(); Sleep(1))
            PostMessageW(gStimulation, WM_NULL, 0, 0);
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

void window(std::istream&)
{
    RECT r{};
    GetWindowRect(gControl, &r);
    std::cout << "control " << hex(text(gControl)) << " " << GetClassLongW(gControl, GCL_STYLE)
              << " " << style(gControl) << " " << style(gControl, GWL_EXSTYLE) << " " << rect(r)
              << "\nface " << GetSysColor(COLOR_BTNFACE) << "\n";
    GetWindowRect(gStimulation, &r);
    std::cout << "stimulation " << (IsWindowVisible(gStimulation) ? 1 : 0) << " "
              << GetClassLongW(gStimulation, GCL_STYLE) << " " << style(gStimulation) << " "
              << (GetParent(gStimulation) == nullptr ? 0 : 1) << " " << rect(r) << "\ncodepage "
              << GetACP() << "\n";
}

// Per child: class, id, rectangle in the control window's client area, styles, text.
void controls(std::istream&)
{
    for (HWND c : children(gControl)) {
        RECT r{};
        GetWindowRect(c, &r);
        MapWindowPoints(nullptr, gControl, reinterpret_cast<POINT*>(&r), 2);
        std::cout << hex(className(c)) << " " << GetDlgCtrlID(c) << " " << rect(r) << " "
                  << style(c) << " " << style(c, GWL_EXSTYLE) << " " << hex(text(c)) << "\n";
    }
}

// Only the 16-bit forms: messages carrying pointers are not marshalled between processes
// under Wine. UDM_GETRANGE answers the upper limit in the low word.
void frequency(std::istream&)
{
    const HWND slider = FindWindowExW(gControl, nullptr, TRACKBAR_CLASSW, nullptr);
    const HWND arrows = FindWindowExW(gControl, nullptr, UPDOWN_CLASSW, nullptr);
    const HWND display = FindWindowExW(gControl, nullptr, WC_EDITW, nullptr);
    const LRESULT range = ask(arrows, UDM_GETRANGE);
    std::cout << ask(slider, TBM_GETRANGEMIN) << " " << ask(slider, TBM_GETRANGEMAX) << " "
              << ask(slider, TBM_GETPOS) << " " << ask(slider, TBM_GETTHUMBLENGTH) << "\n"
              << HIWORD(range) << " " << LOWORD(range) << " " << LOWORD(ask(arrows, UDM_GETPOS))
              << " " << (reinterpret_cast<HWND>(ask(arrows, UDM_GETBUDDY)) == slider ? 1 : 0)
              << "\n" << hex(text(display)) << "\n";
}

// Per list: count, selection, text; with `items` each item, read as the list's text while
// it is selected (CB_GETLBTEXT carries a pointer), and the selection put back.
void lists(bool items)
{
    for (HWND list = nullptr;
         (list = FindWindowExW(gControl, list, WC_COMBOBOXW, nullptr)) != nullptr;) {
        const LRESULT count = ask(list, CB_GETCOUNT);
        const LRESULT selected = ask(list, CB_GETCURSEL);
        std::cout << count << " " << selected << " " << hex(text(list));
        for (LRESULT i = 0; items && i <= count; ++i) {
            ask(list, CB_SETCURSEL, static_cast<WPARAM>(i < count ? i : selected));
            if (i < count)
                std::cout << " " << hex(text(list));
        }
        std::cout << "\n";
    }
}

// "none", or "box" and the longest text of the message box the control window owns.
void message(std::istream&)
{
    HWND box = nullptr;
    while ((box = FindWindowExW(nullptr, box, L"#32770", nullptr)) != nullptr &&
           (!IsWindowVisible(box) || GetWindow(box, GW_OWNER) != gControl)) {
    }
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

// Threads, handles, private bytes (PagefileUsage: the private commit, which Wine fills);
// the last two 0 if the process cannot be opened.
void footprint(std::istream&)
{
    DWORD handles = 0;
    PROCESS_MEMORY_COUNTERS memory{};
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, gProcessId);
    GetProcessHandleCount(process, &handles);
    GetProcessMemoryInfo(process, &memory, sizeof memory);
    CloseHandle(process);
    std::cout << threadIds().size() << " " << handles << " " << memory.PagefileUsage << "\n";
}

// Per thread: its id and where it started, "module+address": a worker of the program's,
// or a thread the system started for it (the sound system's own lives in winmm.dll).
void threads(std::istream&)
{
    using QueryThread = LONG(WINAPI*)(HANDLE, int, PVOID, ULONG, PULONG);
    const auto query = reinterpret_cast<QueryThread>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationThread")));
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, gProcessId);
    for (DWORD id : threadIds()) {
        HANDLE thread = OpenThread(THREAD_QUERY_INFORMATION, FALSE, id);
        void* start = nullptr;
        query(thread, 9 /* ThreadQuerySetWin32StartAddress */, &start, sizeof start, nullptr);
        CloseHandle(thread);
        char path[MAX_PATH] = "\\unknown";
        GetMappedFileNameA(process, start, path, MAX_PATH);
        std::cout << id << " " << std::strrchr(path, '\\') + 1 << "+" << start << "\n";
    }
    CloseHandle(process);
}

void ping(std::istream&)
{
    const auto asked = std::chrono::steady_clock::now();
    DWORD_PTR ignored = 0;
    if (SendMessageTimeoutW(gControl, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &ignored) != 0)
        std::cout << "answered " << std::chrono::duration<double, std::milli>(
                                        std::chrono::steady_clock::now() - asked).count() << "\n";
    else
        std::cout << "hung\n";
}

// The icon group 101 of the executable at `path` (what Explorer shows): images; the
// first one's width, height, colours and bits a pixel.
void icon(std::istream& in)
{
    std::string path;
    std::getline(in >> std::ws, path);
    HMODULE exe = LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    // Without `exe`, in the probe's own, which has none.
    HRSRC group = FindResourceA(exe, MAKEINTRESOURCEA(101), RT_GROUP_ICON);
    // A count after 4 bytes; from byte 6 per image width, height, colours, reserved,
    // planes, bits.
    const auto* dir = static_cast<const BYTE*>(
        group != nullptr ? LockResource(LoadResource(exe, group)) : nullptr);
    if (dir == nullptr)
        std::cout << "none\n";
    else
        std::cout << (dir[4] | dir[5] << 8) << " " << int{dir[6]} << " " << int{dir[7]} << " "
                  << int{dir[8]} << " " << (dir[12] | dir[13] << 8) << "\n";
    FreeLibrary(exe);
}

void kill(std::istream&)
{
    HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, gProcessId);
    const bool ended = process != nullptr && TerminateProcess(process, 9) &&
                       WaitForSingleObject(process, 10000) == WAIT_OBJECT_0;
    CloseHandle(process);
    std::cout << (ended ? "killed" : "alive") << "\n";
}

} // namespace

int main()
{
    const std::map<std::string, void (*)(std::istream&)> verbs = {
        {"find", find}, {"state", state}, {"greys", greys}, {"window", window},
        {"controls", controls}, {"frequency", frequency}, {"message", message},
        {"lists", [](std::istream&) { lists(false); }},
        {"listitems", [](std::istream&) { lists(true); }}, {"footprint", footprint},
        {"threads", threads}, {"ping", ping}, {"icon", icon}, {"kill", kill}};
    for (std::string line; std::getline(std::cin, line); std::cout << ".\n" << std::flush) {
        std::istringstream in(line);
        std::string verb;
        in >> verb;
        const auto found = verbs.find(verb);
        if (found == verbs.end())
            std::cout << "error: unknown command '" << verb << "'\n";
        else if (gStimulation == nullptr && verb != "find" && verb != "icon")
            std::cout << "error: no program found yet: send find first\n";
        else
            found->second(in);
    }
    return 0;
}
