#include "render/stop_signals.h"

#include <csignal>

namespace {

std::atomic<bool>* gStop = nullptr;

extern "C" void onStopSignal(int)
{
    if (gStop != nullptr)
        gStop->store(true);
}

} // namespace

void watchStopRequests(std::atomic<bool>& stop)
{
    gStop = &stop;
    struct sigaction action = {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    // Ctrl+C, a kill, the terminal closed (SIGHUP), Ctrl+\ (SIGQUIT) and a reader gone
    // (SIGPIPE) all end the render the same clean way.
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE})
        sigaction(signal, &action, nullptr);
    // Past a file size limit the write fails and is reported like any other, instead of
    // the signal killing the process with the temporary file still there.
    std::signal(SIGXFSZ, SIG_IGN);
}

void stopRequestsAnswered() {}
