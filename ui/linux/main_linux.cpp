// The Linux face's entry: the control window, the hidden stimulation window, the event
// loop until the control window is closed, and a bounded wait for the last session's
// workers before the process ends.
#include <QApplication>

#include "session/session_controller.h"
#include "ui/linux/control_window.h"
#include "ui/linux/stimulation_window.h"

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    // The stimulation window is hidden and the control window's close quits on its own.
    QApplication::setQuitOnLastWindowClosed(false);
    createControlWindow();
    createStimulationWindow();
    const int code = QApplication::exec();
    // Workers still winding down must not meet a process in the middle of its exit.
    finishWorkers(kWorkerWindDownMs);
    destroyStimulationWindow();
    destroyControlWindow();
    return code;
}
