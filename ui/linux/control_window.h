#pragma once
// The Linux face's control window: the twelve controls of the shared table as Qt
// widgets, the slider and the arrows kept in step, Start wired to the session.
#include <cstdint>

#include "settings/settings.h"

class QWidget;

// Client area: the table's outer 500x170 less a 3-pixel frame on each side and a
// 23-pixel caption, so every control's rectangle lies inside it.
constexpr int kControlClientWidth = 494;
constexpr int kControlClientHeight = 141;
// A closed drop-down list is one row high; the table's height includes the list that
// drops down.
constexpr int kListClosedHeight = 22;
// The slider's page, what a click in its channel moves: a fifth of the range, the
// trackbar's own page on Windows (998 for 10..5000).
constexpr int kSliderPage = (static_cast<int>(kMaxFrequency) - static_cast<int>(kMinFrequency)) / 5;

// Builds the window and its controls with the defaults and shows it. Call once, after
// the QApplication exists.
void createControlWindow();
void destroyControlWindow();

QWidget* controlWindow();
// The arrows' position in hundredths of a hertz: the frequency Start hands over.
std::uint32_t arrowsPosition();
