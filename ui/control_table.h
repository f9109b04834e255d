#pragma once
// The control window as data: its size and title, and its twelve controls in creation
// order with their classes, texts, client rectangles and ids. Both faces build their
// window from this table, so they cannot drift apart.
#include <cstdint>

#include "settings/frequency_text.h"
#include "settings/settings.h"

constexpr const char* kControlWindowTitle = "Zarvelin";
constexpr const char* kControlWindowClass = "ZarvelinWindow";
constexpr const char* kStimulationWindowClass = "PaintWindow";
constexpr int kControlWindowWidth = 500;  // outer size, frame included
constexpr int kControlWindowHeight = 170;
constexpr int kControlWindowTop = 50;
constexpr int controlWindowLeft(int screenWidth) { return screenWidth / 2 - 250; }
constexpr int kIconResourceId = 101;

constexpr int kStartButtonId = 10;
constexpr int kArrowsId = 11;
constexpr int kSliderId = 12;

// What a control is for; each face maps a role to its own widget and styles.
enum class ControlRole {
    Label,
    FrequencyDisplay, // read-only, right-aligned
    Slider,           // horizontal, fixed thumb length 13, range 10..5000
    Arrows,           // vertical up-down arrows, buddy = the slider, no text field
    SoundList,        // unsorted drop-down list of the sound captions
    VisualList,       // unsorted drop-down list of the visual captions
    StartButton,      // push button with a modal-dialog frame
};

struct ControlRow {
    ControlRole role;
    const char* className; // the Win32 class name
    const char* text;      // UTF-8; empty where the control has no text
    int x, y, width, height; // client pixels; a list's height includes its drop-down part
    int id;
};

constexpr int kControlCount = 12;
extern const ControlRow kControls[kControlCount];

// What the frequency display shows before any control has moved.
inline constexpr FrequencyTextBuffer kInitialFrequencyText = FrequencyText(kDefaultFrequency);
constexpr int kSliderThumbLength = 13;
constexpr int kInitialListSelection = 1;

// The list captions of a role (SoundList or VisualList) and their count.
const char* const* listCaptions(ControlRole role, int* count);
