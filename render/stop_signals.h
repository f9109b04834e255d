#pragma once
// Requests from outside to end a render: Ctrl+C, the terminal going away, a polite kill.
// Each raises `stop`; the render then ends between chunks, removes what it wrote and
// exits with 130, so nothing half-written is left behind.
#include <atomic>

// Starts watching, for the life of the process.
void watchStopRequests(std::atomic<bool>& stop);

// Says the render has cleaned up: where the system ends the process once the request
// is answered (a console window being closed), it may now do so.
void stopRequestsAnswered();
