#include "tests/windows_face/win32_probe.h"

#include <tlhelp32.h>
#include <psapi.h>

#include <cstdio>

#include <algorithm>

namespace probe {

Program& program()
{
    static Program p;
    return p;
}

std::wstring widen(const char* utf8)
{
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8, -1, nullptr, 0);
    std::wstring out(static_cast<size_t>(n > 0 ? n : 1), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8, -1, out.data(), n);
    out.resize(static_cast<size_t>(n > 0 ? n - 1 : 0));
    return out;
}

std::string narrow(const std::wstring& text)
{
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n > 0 ? n : 1), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, out.data(), n, nullptr, nullptr);
    out.resize(static_cast<size_t>(n > 0 ? n - 1 : 0));
    return out;
}

bool waitUntil(const std::function<bool()>& condition, DWORD timeoutMs)
{
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        if (condition())
            return true;
        if (GetTickCount64() >= deadline)
            return false;
        Sleep(10);
    }
}

namespace {

std::wstring windowsPath(const std::string& path)
{
    std::wstring w = widen(path.c_str());
    if (!w.empty() && w[0] == L'/') { // Wine shows the Unix root as drive Z:
        std::replace(w.begin(), w.end(), L'/', L'\\');
        w.insert(0, L"Z:");
    }
    return w;
}

HWND findOwnWindow(const wchar_t* cls, DWORD processId)
{
    HWND found = nullptr;
    HWND w = nullptr;
    while ((w = FindWindowExW(nullptr, w, cls, nullptr)) != nullptr) {
        DWORD pid = 0;
        GetWindowThreadProcessId(w, &pid);
        if (pid == processId)
            found = w;
    }
    return found;
}

} // namespace

bool start(const std::string& exePath, std::string* why)
{
    Program& p = program();
    p.path = windowsPath(exePath);
    std::wstring command = L"\"" + p.path + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &p.process)) {
        *why = "CreateProcess failed for " + exePath + ", error " + std::to_string(GetLastError());
        return false;
    }
    // A fresh Wine prefix can take a while to come up.
    const bool up = waitUntil([&] {
        p.control = findOwnWindow(L"ZarvelinWindow", p.process.dwProcessId);
        p.stimulation = findOwnWindow(L"PaintWindow", p.process.dwProcessId);
        return p.control != nullptr && p.stimulation != nullptr;
    }, 60000);
    if (!up)
        *why = "zarvelin.exe showed no \"ZarvelinWindow\" and \"PaintWindow\" within 60 s";
    return up;
}

void killIfRunning()
{
    Program& p = program();
    if (p.process.hProcess == nullptr)
        return;
    if (WaitForSingleObject(p.process.hProcess, 0) == WAIT_TIMEOUT) {
        TerminateProcess(p.process.hProcess, 99);
        WaitForSingleObject(p.process.hProcess, 10000);
    }
}

HWND child(int index)
{
    const std::vector<HWND> all = children(program().control);
    return index >= 0 && index < static_cast<int>(all.size()) ? all[static_cast<size_t>(index)]
                                                              : nullptr;
}

HWND childOfRole(ControlRole role)
{
    for (int i = 0; i < kControlCount; ++i)
        if (kControls[i].role == role)
            return child(i);
    return nullptr;
}

LRESULT ask(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    DWORD_PTR result = 0;
    SendMessageTimeoutW(window, message, wParam, lParam, SMTO_ABORTIFHUNG, 5000, &result);
    return static_cast<LRESULT>(result);
}

bool closeAndExpectCodeZero(std::string* why)
{
    const HANDLE process = program().process.hProcess;
    PostMessageW(program().control, WM_CLOSE, 0, 0);
    if (WaitForSingleObject(process, 15000) != WAIT_OBJECT_0) {
        *why = "the program did not end within 15 s of closing its window";
        return false;
    }
    DWORD code = 99;
    GetExitCodeProcess(process, &code);
    if (code != 0) {
        *why = "the program ended with code " + std::to_string(code);
        return false;
    }
    return true;
}

std::wstring windowText(HWND window)
{
    wchar_t buffer[256] = {};
    DWORD_PTR copied = 0;
    SendMessageTimeoutW(window, WM_GETTEXT, 256, reinterpret_cast<LPARAM>(buffer),
                        SMTO_ABORTIFHUNG, 5000, &copied);
    return std::wstring(buffer);
}

std::wstring className(HWND window)
{
    wchar_t buffer[256] = {};
    GetClassNameW(window, buffer, 256);
    return std::wstring(buffer);
}

std::vector<HWND> children(HWND parent)
{
    std::vector<HWND> out;
    for (HWND w = GetWindow(parent, GW_CHILD); w != nullptr; w = GetWindow(w, GW_HWNDNEXT))
        out.push_back(w);
    return out;
}

RECT clientRect(HWND child)
{
    RECT r{};
    GetWindowRect(child, &r);
    MapWindowPoints(nullptr, GetParent(child), reinterpret_cast<POINT*>(&r), 2);
    return r;
}

int screenWidth() { return GetSystemMetrics(SM_CXSCREEN); }
int screenHeight() { return GetSystemMetrics(SM_CYSCREEN); }

namespace {

INPUT mouseInput(DWORD flags, LONG dx = 0, LONG dy = 0)
{
    INPUT in{};
    in.type = INPUT_MOUSE;
    in.mi.dx = dx;
    in.mi.dy = dy;
    in.mi.dwFlags = flags;
    return in;
}

INPUT keyInput(WORD key, bool up)
{
    INPUT in{};
    in.type = INPUT_KEYBOARD;
    in.ki.wVk = key;
    in.ki.wScan = static_cast<WORD>(MapVirtualKeyW(key, MAPVK_VK_TO_VSC));
    in.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    return in;
}

void moveTo(int x, int y)
{
    // Absolute coordinates run 0..65535 over the primary screen. Aiming at the pixel's
    // centre lands on it whether the system rounds the scaled-back value down (Wine) or
    // to the nearest; aiming at its left edge lands one pixel short under Wine.
    const LONG dx = static_cast<LONG>((2 * x + 1) * 65536LL / (2LL * screenWidth()));
    const LONG dy = static_cast<LONG>((2 * y + 1) * 65536LL / (2LL * screenHeight()));
    INPUT move = mouseInput(MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE, dx, dy);
    SendInput(1, &move, sizeof(INPUT));
    waitUntil([&] {
        POINT at{};
        GetCursorPos(&at);
        return at.x == x && at.y == y;
    }, 2000);
}

} // namespace

void click(int x, int y)
{
    moveTo(x, y);
    INPUT press[2] = {mouseInput(MOUSEEVENTF_LEFTDOWN), mouseInput(MOUSEEVENTF_LEFTUP)};
    SendInput(2, press, sizeof(INPUT));
}

void clickWindow(HWND window, int dx, int dy)
{
    RECT r{};
    GetWindowRect(window, &r);
    click(r.left + dx, r.top + dy);
}

void pressKey(WORD virtualKey)
{
    INPUT keys[2] = {keyInput(virtualKey, false), keyInput(virtualKey, true)};
    SendInput(2, keys, sizeof(INPUT));
}

void pressAltWith(WORD virtualKey)
{
    INPUT keys[4] = {keyInput(VK_MENU, false), keyInput(virtualKey, false),
                     keyInput(virtualKey, true), keyInput(VK_MENU, true)};
    SendInput(4, keys, sizeof(INPUT));
}

void pressAltF4()
{
    pressAltWith(VK_F4);
}

bool cursorShown()
{
    CURSORINFO info{};
    info.cbSize = sizeof info;
    GetCursorInfo(&info);
    return (info.flags & CURSOR_SHOWING) != 0;
}

COLORREF screenPixel(int x, int y)
{
    HDC screen = GetDC(nullptr);
    const COLORREF c = GetPixel(screen, x, y);
    ReleaseDC(nullptr, screen);
    return c;
}

COLORREF windowPixel(HWND window, int x, int y)
{
    HDC drawing = GetDC(window);
    const COLORREF c = GetPixel(drawing, x, y);
    ReleaseDC(window, drawing);
    return c;
}

std::vector<DWORD> threadsOf(DWORD processId)
{
    std::vector<DWORD> out;
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snap == INVALID_HANDLE_VALUE)
        return out;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snap, &entry); more; more = Thread32Next(snap, &entry))
        if (entry.th32OwnerProcessID == processId)
            out.push_back(entry.th32ThreadID);
    CloseHandle(snap);
    std::sort(out.begin(), out.end());
    return out;
}

std::string threadStart(DWORD processId, DWORD threadId)
{
    using QueryThread = LONG(WINAPI*)(HANDLE, int, PVOID, ULONG, PULONG);
    constexpr int kWin32StartAddress = 9; // ThreadQuerySetWin32StartAddress
    const auto query = reinterpret_cast<QueryThread>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationThread")));
    HANDLE thread = OpenThread(THREAD_QUERY_INFORMATION, FALSE, threadId);
    if (query == nullptr || thread == nullptr) {
        if (thread != nullptr)
            CloseHandle(thread);
        return "unknown";
    }
    ULONG_PTR start = 0;
    const LONG status = query(thread, kWin32StartAddress, &start, sizeof start, nullptr);
    CloseHandle(thread);
    if (status != 0)
        return "unknown";
    char text[300];
    std::snprintf(text, sizeof text, "%#llx", static_cast<unsigned long long>(start));
    std::string where = text;
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, processId);
    if (process == nullptr)
        return where;
    HMODULE modules[512];
    DWORD bytes = 0;
    if (EnumProcessModules(process, modules, sizeof modules, &bytes)) {
        for (DWORD i = 0; i < bytes / sizeof(HMODULE); ++i) {
            MODULEINFO info{};
            if (!GetModuleInformation(process, modules[i], &info, sizeof info))
                continue;
            const auto base = reinterpret_cast<ULONG_PTR>(info.lpBaseOfDll);
            if (start < base || start >= base + info.SizeOfImage)
                continue;
            char name[MAX_PATH] = "";
            GetModuleBaseNameA(process, modules[i], name, sizeof name);
            std::snprintf(text, sizeof text, "%s+%#llx", name,
                          static_cast<unsigned long long>(start - base));
            where = text;
            break;
        }
    }
    CloseHandle(process);
    return where;
}

} // namespace probe
