// The control window as found from outside: its class, its place, its icon and its
// twelve controls against the shared table, and its Russian texts.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <cstdio>

#include "settings/settings.h"
#include "tests/windows_face/win32_probe.h"
#include "ui/control_table.h"

namespace {

using probe::program;

using probe::ask;
using probe::child;
using probe::childOfRole;

// Which style bits each role must carry, and which it must not.
struct RoleStyle {
    ControlRole role;
    DWORD required;
    DWORD forbidden;
    DWORD requiredEx;
};
constexpr RoleStyle kRoleStyles[] = {
    {ControlRole::Label, 0, 0, 0},
    {ControlRole::FrequencyDisplay, ES_READONLY | ES_RIGHT, 0, 0},
    {ControlRole::Slider, TBS_FIXEDLENGTH, TBS_VERT, 0},
    {ControlRole::Arrows, 0,
     UDS_HORZ | UDS_ALIGNLEFT | UDS_ALIGNRIGHT | UDS_SETBUDDYINT | UDS_ARROWKEYS, 0},
    {ControlRole::SoundList, CBS_DROPDOWNLIST | CBS_AUTOHSCROLL | CBS_HASSTRINGS, CBS_SORT, 0},
    {ControlRole::VisualList, CBS_DROPDOWNLIST | CBS_AUTOHSCROLL | CBS_HASSTRINGS, CBS_SORT, 0},
    {ControlRole::StartButton, 0, 0, WS_EX_DLGMODALFRAME},
};

const RoleStyle& styleOf(ControlRole role)
{
    for (const RoleStyle& s : kRoleStyles)
        if (s.role == role)
            return s;
    return kRoleStyles[0];
}

TEST(ControlWindow, MainWindowClassPlaceAndStyle)
{
    const HWND w = program().control;
    EXPECT_EQ(probe::windowText(w), L"Zarvelin");
    // Only the class style is readable from another process under Wine; the class
    // background is checked by its colour, the icon in the executable's resources.
    EXPECT_EQ(GetClassLongW(w, GCL_STYLE), 0u);
    POINT blank{450, 88}; // client point between the lists, the button and the version
    ClientToScreen(w, &blank);
    EXPECT_EQ(probe::screenPixel(blank.x, blank.y), GetSysColor(COLOR_BTNFACE));

    const auto style = static_cast<DWORD>(GetWindowLongW(w, GWL_STYLE));
    EXPECT_EQ(style & (WS_VISIBLE | WS_SYSMENU | WS_MINIMIZEBOX),
              static_cast<DWORD>(WS_VISIBLE | WS_SYSMENU | WS_MINIMIZEBOX));
    EXPECT_EQ(style & (WS_MAXIMIZEBOX | WS_THICKFRAME | WS_CHILD | WS_POPUP), 0u);
    EXPECT_EQ(GetWindowLongW(w, GWL_EXSTYLE) & ~WS_EX_WINDOWEDGE, 0);

    RECT r{};
    GetWindowRect(w, &r);
    // Centred less 250 on the test display's 1920 pixels.
    ASSERT_EQ(probe::screenWidth(), 1920);
    EXPECT_EQ(r.left, 710);
    EXPECT_EQ(r.top, 50);
    EXPECT_EQ(r.right - r.left, 500);
    EXPECT_EQ(r.bottom - r.top, 170);
}

TEST(ControlWindow, ExecutableCarriesOneSixteenColourIcon101)
{
    HMODULE exe = LoadLibraryExW(program().path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(exe, nullptr);
    HRSRC group = FindResourceW(exe, MAKEINTRESOURCEW(kIconResourceId),
                                MAKEINTRESOURCEW(14)); // RT_GROUP_ICON
    ASSERT_NE(group, nullptr) << "no icon group 101";
    auto* dir = static_cast<const BYTE*>(LockResource(LoadResource(exe, group)));
    ASSERT_NE(dir, nullptr);
    EXPECT_EQ(dir[4] | dir[5] << 8, 1) << "one image";
    // The group's one entry: width, height, colours, reserved, planes, bits, bytes, id.
    const BYTE* entry = dir + 6;
    EXPECT_EQ(entry[0], 32);
    EXPECT_EQ(entry[1], 32);
    EXPECT_EQ(entry[2], 16);
    EXPECT_EQ(entry[6] | entry[7] << 8, 4);
    const int imageId = entry[12] | entry[13] << 8;
    HRSRC image = FindResourceW(exe, MAKEINTRESOURCEW(imageId), MAKEINTRESOURCEW(3)); // RT_ICON
    ASSERT_NE(image, nullptr);
    const auto* header =
        static_cast<const BITMAPINFOHEADER*>(LockResource(LoadResource(exe, image)));
    EXPECT_EQ(header->biWidth, 32);
    EXPECT_EQ(header->biHeight, 64); // colour image and mask
    EXPECT_EQ(header->biBitCount, 4);
    FreeLibrary(exe);
}

TEST(ControlWindow, TwelveControlsInTableOrder)
{
    const std::vector<HWND> all = probe::children(program().control);
    ASSERT_EQ(all.size(), static_cast<size_t>(kControlCount));
    for (int i = 0; i < kControlCount; ++i) {
        const ControlRow& entry = kControls[i];
        const HWND c = all[static_cast<size_t>(i)];
        char trace[64];
        std::snprintf(trace, sizeof trace, "control #%d (%s)", i + 1, entry.className);
        SCOPED_TRACE(trace);

        EXPECT_EQ(CompareStringOrdinal(probe::className(c).c_str(), -1,
                                       probe::widen(entry.className).c_str(), -1, TRUE),
                  CSTR_EQUAL)
            << probe::narrow(probe::className(c));
        EXPECT_EQ(GetDlgCtrlID(c), entry.id);

        // A drop-down list answers WM_GETTEXT with its selected item, checked below.
        if (entry.role != ControlRole::SoundList && entry.role != ControlRole::VisualList) {
            EXPECT_EQ(probe::windowText(c), probe::widen(entry.text))
                << probe::narrow(probe::windowText(c));
        }

        const RECT r = probe::clientRect(c);
        EXPECT_EQ(r.left, entry.x);
        EXPECT_EQ(r.top, entry.y);
        if (entry.role == ControlRole::Arrows) {
            // Wine widens an up-down that has a buddy but no alignment style to 16
            // pixels; Windows keeps the 10 it was created with.
            const LONG width = r.right - r.left;
            EXPECT_TRUE(width == entry.width || width == 16) << width;
        } else {
            EXPECT_EQ(r.right - r.left, entry.width);
        }
        // A closed drop-down list is one line high; its 105 is the dropped part.
        if (entry.role != ControlRole::SoundList && entry.role != ControlRole::VisualList) {
            EXPECT_EQ(r.bottom - r.top, entry.height);
        }

        const auto style = static_cast<DWORD>(GetWindowLongW(c, GWL_STYLE));
        const auto exStyle = static_cast<DWORD>(GetWindowLongW(c, GWL_EXSTYLE));
        const RoleStyle& expected = styleOf(entry.role);
        EXPECT_EQ(style & (WS_CHILD | WS_VISIBLE), static_cast<DWORD>(WS_CHILD | WS_VISIBLE));
        EXPECT_EQ(style & expected.required, expected.required) << std::hex << style;
        EXPECT_EQ(style & expected.forbidden, 0u) << std::hex << style;
        EXPECT_EQ(exStyle & expected.requiredEx, expected.requiredEx) << std::hex << exStyle;
        if (entry.role == ControlRole::StartButton) {
            EXPECT_EQ(style & BS_TYPEMASK, static_cast<DWORD>(BS_PUSHBUTTON));
        }
        if (entry.role == ControlRole::SoundList || entry.role == ControlRole::VisualList) {
            EXPECT_EQ(style & 3u, static_cast<DWORD>(CBS_DROPDOWNLIST));
        }
    }
}

TEST(ControlWindow, FrequencyControlsStartAtTheDefault)
{
    const HWND slider = childOfRole(ControlRole::Slider);
    const HWND arrows = childOfRole(ControlRole::Arrows);
    EXPECT_EQ(ask(slider, TBM_GETRANGEMIN), 10);
    EXPECT_EQ(ask(slider, TBM_GETRANGEMAX), 5000);
    EXPECT_EQ(ask(slider, TBM_GETPOS), 780);
    EXPECT_EQ(ask(slider, TBM_GETTHUMBLENGTH), 13);
    // The 16-bit forms: pointer-carrying messages are not marshalled between processes
    // under Wine. UDM_GETRANGE answers the upper limit in the low word.
    const LRESULT range = ask(arrows, UDM_GETRANGE);
    EXPECT_EQ(LOWORD(range), 5000);
    EXPECT_EQ(HIWORD(range), 10);
    EXPECT_EQ(LOWORD(ask(arrows, UDM_GETPOS)), 780);
    EXPECT_EQ(reinterpret_cast<HWND>(ask(arrows, UDM_GETBUDDY)), slider);
    EXPECT_EQ(probe::windowText(childOfRole(ControlRole::FrequencyDisplay)), L"7,80");
}

TEST(ControlWindow, ListsHoldTheCaptionsWithTheSecondSelected)
{
    for (ControlRole role : {ControlRole::SoundList, ControlRole::VisualList}) {
        int count = 0;
        const char* const* captions = listCaptions(role, &count);
        const HWND list = childOfRole(role);
        EXPECT_EQ(ask(list, CB_GETCOUNT), count);
        EXPECT_EQ(ask(list, CB_GETCURSEL), 1);
        EXPECT_EQ(probe::windowText(list), probe::widen(captions[1]));
    }
}

TEST(ControlWindow, StimulationWindowIsHiddenBlackAndFullScreen)
{
    const HWND w = program().stimulation;
    EXPECT_FALSE(IsWindowVisible(w));
    // Its black background shows in the sessions without the stroboscope.
    EXPECT_EQ(GetClassLongW(w, GCL_STYLE), static_cast<DWORD>(CS_BYTEALIGNCLIENT));
    EXPECT_EQ(static_cast<DWORD>(GetWindowLongW(w, GWL_STYLE)) & ~WS_CLIPSIBLINGS,
              static_cast<DWORD>(WS_POPUP));
    EXPECT_EQ(GetParent(w), nullptr);
    RECT r{};
    GetWindowRect(w, &r);
    EXPECT_EQ(r.left, 0);
    EXPECT_EQ(r.top, 0);
    EXPECT_EQ(r.right, probe::screenWidth());
    EXPECT_EQ(r.bottom, probe::screenHeight());
}

// Under a locale whose ANSI code page is not 1251, the Russian captions read back
// through the wide calls must still be the Russian captions.
TEST(Texts, TheSystemCodePageIsNotCyrillic)
{
    // Otherwise this suite would prove nothing: ANSI calls with 1251 bytes would pass.
    EXPECT_NE(GetACP(), 1251u);
}

TEST(Texts, ControlCaptionsReadBackInRussian)
{
    // Two captions spelled out as code points, so a fault in the UTF-8 table or in
    // its conversion cannot cancel itself out.
    EXPECT_EQ(probe::windowText(childOfRole(ControlRole::StartButton)),
              L"\u0417\u0430\u043f\u0443\u0441\u043a");
    EXPECT_EQ(probe::windowText(child(2)), L"\u0413\u0446");
    for (int i = 0; i < kControlCount; ++i) {
        if (kControls[i].text[0] == '\0')
            continue;
        SCOPED_TRACE(kControls[i].text);
        EXPECT_EQ(probe::windowText(child(i)), probe::widen(kControls[i].text));
    }
}

TEST(Texts, ListItemsReadBackInRussian)
{
    // CB_GETLBTEXT carries a pointer; to stay independent of how a system marshals it,
    // each item is selected in turn and read as the list's own text (WM_GETTEXT), then
    // the default selection is put back.
    for (ControlRole role : {ControlRole::SoundList, ControlRole::VisualList}) {
        int count = 0;
        const char* const* captions = listCaptions(role, &count);
        const HWND list = childOfRole(role);
        ASSERT_EQ(ask(list, CB_GETCOUNT), count);
        for (int i = 0; i < count; ++i) {
            SCOPED_TRACE(captions[i]);
            ask(list, CB_SETCURSEL, static_cast<WPARAM>(i));
            EXPECT_EQ(probe::windowText(list), probe::widen(captions[i]));
        }
        ask(list, CB_SETCURSEL, 1);
    }
    EXPECT_EQ(probe::windowText(childOfRole(ControlRole::VisualList)),
              L"\u0421\u0442\u0440\u043e\u0431\u043e\u0441\u043a\u043e\u043f");
}

} // namespace
