// The Linux face's entry: one instance per user and display, the control window, the
// hidden stimulation window, the event loop until the control window is closed, and a
// bounded wait for the last session's workers before the process ends.
#include <QApplication>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "session/session_controller.h"
#include "ui/linux/control_window.h"
#include "ui/linux/single_instance_linux.h"
#include "ui/linux/stimulation_window.h"

namespace {

// Nothing is left to save or release that the system does not take back with the
// process, and the platform's own teardown is where a closed program can hang: with
// Qt 6.4's Wayland plugin, ~QWaylandDisplay waits in QThread::wait for its event thread
// and now and then waits for ever (one close in sixteen here; a bare Qt program does
// the same). And a device thread still held by a frozen sound server must meet no
// destructor of ours or of the libraries. So the process ends here, before QApplication
// goes: std::_Exit runs no atexit handler and no static destructor, and the kernel ends
// every thread wherever it waits.
[[noreturn]] void endProcess(int code)
{
    std::fflush(nullptr);
    std::_Exit(code);
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    std::string why;
    switch (claimSingleInstance(&why)) {
    case InstanceClaim::First:
        break;
    case InstanceClaim::HandedOver:
        endProcess(0); // the running instance is in front; nothing was started here
    case InstanceClaim::NoAnswer:
        std::fprintf(stderr, "zarvelin: %s\n", why.c_str());
        endProcess(1);
    }
    // The stimulation window is hidden and the control window's close quits on its own.
    QApplication::setQuitOnLastWindowClosed(false);
    createControlWindow();
    createStimulationWindow();
    const int code = QApplication::exec();
    // Workers still winding down must not meet a process in the middle of its exit.
    finishWorkers(kWorkerWindDownMs);
    // The windows go now, while the connection to the display is whole.
    destroyStimulationWindow();
    destroyControlWindow();
    // Nothing of this instance is on the screen any more, so a new start may run at once.
    releaseSingleInstance();
    endProcess(code);
}
