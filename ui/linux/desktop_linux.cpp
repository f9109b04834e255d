// The desktop seam over Qt: the cursor, and the two windows shown, hidden, enabled and
// focused. Everything here runs on the UI thread.
#include "session/desktop.h"

#include <QCursor>
#include <QGuiApplication>
#include <QMessageBox>
#include <QString>
#include <QWidget>

#include "ui/linux/control_window.h"
#include "ui/control_table.h"
#include "ui/linux/stimulation_window.h"

namespace {
// Like the system's cursor display count: each hide needs its show.
int gCursorHidden = 0;
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

double desktopRefreshRate()
{
    return screenRefreshRate();
}

void desktopTellUser(const char* text)
{
    QMessageBox::warning(controlWindow(), QString::fromUtf8(kControlWindowTitle), QString::fromUtf8(text));
}
