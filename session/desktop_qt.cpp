// The desktop seam over Qt: the control window's values, threads, the cursor, and the
// two windows shown, hidden, enabled and focused. Everything here runs on the UI thread
// except the threads it starts.
#include "session/desktop.h"

#include <QCursor>
#include <QGuiApplication>
#include <QWidget>

#include <system_error>
#include <thread>

#include "ui/linux/control_window.h"
#include "ui/linux/stimulation_window.h"

namespace {
// Like the system's cursor display count: each hide needs its show.
int gCursorHidden = 0;
}

std::uint32_t desktopFrequency()
{
    return arrowsPosition();
}

long desktopSoundSelection()
{
    return soundListSelection();
}

long desktopVisualSelection()
{
    return visualListSelection();
}

bool desktopStartThread(void (*entry)(const SessionFlagType*), const SessionFlagType* flag)
{
    try {
        std::thread(entry, flag).detach();
        return true;
    } catch (const std::system_error&) {
        return false;
    }
}

void desktopShowCursor(bool visible)
{
    if (visible) {
        if (gCursorHidden > 0) {
            --gCursorHidden;
            QGuiApplication::restoreOverrideCursor();
        }
    } else {
        ++gCursorHidden;
        QGuiApplication::setOverrideCursor(QCursor(Qt::BlankCursor));
    }
}

void desktopShowStimulationWindow()
{
    showStimulationWindow();
}

void desktopHideStimulationWindow()
{
    hideStimulationWindow();
}

void desktopEnableControlWindow(bool enabled)
{
    controlWindow()->setEnabled(enabled);
}

void desktopFocusControlWindow()
{
    QWidget* window = controlWindow();
    window->activateWindow();
    // The window itself, not one of its controls, takes the keys: a key still held
    // from the stop must not press Start or move the slider.
    window->setFocus(Qt::OtherFocusReason);
}
