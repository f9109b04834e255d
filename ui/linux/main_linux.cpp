// The Linux face's entry: the control window, the hidden stimulation window, the event
// loop until the control window is closed, and a bounded wait for the last session's
// workers before the process ends.
#include <QApplication>

#include <cstdio>
#include <cstdlib>

#include "session/session_controller.h"
#include "ui/linux/control_window.h"
#include "ui/linux/stimulation_window.h"

int main(int argc, char** argv)
{
    int code = 0;
    {
        QApplication app(argc, argv);
        // The stimulation window is hidden and the control window's close quits on its own.
        QApplication::setQuitOnLastWindowClosed(false);
        createControlWindow();
        createStimulationWindow();
        code = QApplication::exec();
        // Workers still winding down must not meet a process in the middle of its exit.
        finishWorkers(kWorkerWindDownMs);
        // The windows go now, while the connection to the display is whole.
        destroyStimulationWindow();
        destroyControlWindow();
        // Nothing is left to save or release that the system does not take back with the
        // process, and the platform's own teardown is where a closed program can hang:
        // with Qt 6.4's Wayland plugin, ~QWaylandDisplay waits in QThread::wait for its
        // event thread and now and then waits for ever (one close in sixteen here; a bare Qt
        // program does the same). So the process ends here, before QApplication goes.
        std::fflush(nullptr);
        std::_Exit(code);
    }
    return code;
}
