#pragma once
// The stimulation window's grey on Wayland, shown by the compositor: a subsurface over
// the window holding one tiny buffer per grey, scaled to the window.
#include <cstdint>

class QWidget;

// Covers the shown window with a black subsurface. False on other platforms, and where
// the compositor lacks subsurfaces, shared memory or scaling: the window then paints
// its grey itself.
bool waylandGreyAttach(QWidget* window);

// Follows the window's size.
void waylandGreyResize(int width, int height);

// Shows one grey level, 0 to 254, over the whole window.
void waylandGreyShow(std::uint8_t level);

// Removes the covering surface; before the window is hidden.
void waylandGreyDetach();
