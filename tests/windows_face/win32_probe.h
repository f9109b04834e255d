#pragma once
// What the driver uses to look at and work zarvelin.exe from outside its process: the
// running program, its windows, real mouse and keyboard input, the screen.
#include <windows.h>

#include "ui/control_table.h"

#include <functional>
#include <string>
#include <vector>

namespace probe {

// The program under test, started once by the driver's main().
struct Program {
    std::wstring path; // the executable, as Windows names it
    PROCESS_INFORMATION process{};
    HWND control = nullptr;    // "ZarvelinWindow"
    HWND stimulation = nullptr; // "PaintWindow"
};
Program& program();
// Starts `exePath` (a Unix or Windows path) and waits for both of its windows.
bool start(const std::string& exePath, std::string* why);
// Ends the program if it still runs (only after a failed test).
void killIfRunning();

// Polls `condition` every 10 ms until it holds or `timeoutMs` passed. The bounds only
// catch a hang; they are generous because the machines are shared.
bool waitUntil(const std::function<bool()>& condition, DWORD timeoutMs = 10000);

// The program's controls, in the order the system lists them (the table's order).
HWND child(int index);
HWND childOfRole(ControlRole role);
// A message sent and answered across processes (bounded, so a hang cannot stall us).
LRESULT ask(HWND window, UINT message, WPARAM wParam = 0, LPARAM lParam = 0);

// Closes the control window and waits for the program to end; false with `why` if it
// does not end, or ends with another code than 0.
bool closeAndExpectCodeZero(std::string* why);

std::wstring widen(const char* utf8);
std::string narrow(const std::wstring& text);
std::wstring windowText(HWND window);   // WM_GETTEXT, wide, across processes
std::wstring className(HWND window);
std::vector<HWND> children(HWND parent);  // direct children, in the system's order
RECT clientRect(HWND child);            // a child's rectangle in its parent's client
                                        // coordinates
int screenWidth();
int screenHeight();

// Real input, as a person's hand would give it.
void click(int x, int y);
void clickWindow(HWND window, int dx, int dy); // relative to the window's top left
void pressKey(WORD virtualKey);
void pressAltWith(WORD virtualKey); // Alt held around the key: a system key
void pressAltF4();

bool cursorShown();
COLORREF screenPixel(int x, int y);
// A pixel of a window, read through the window's own drawing context (the screen's
// context under Wine on Xvfb reads the fill 0xFEFEFE as 0xFDFDFD).
COLORREF windowPixel(HWND window, int x, int y);

// Thread ids of the program's process.
std::vector<DWORD> threadsOf(DWORD processId);

// Where a thread of another process started: "module+0xOFFSET", for telling a worker
// of the program's from a thread of the system's.
std::string threadStart(DWORD processId, DWORD threadId);

} // namespace probe
