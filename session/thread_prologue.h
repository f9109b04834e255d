#pragma once
// What a face does first on every thread the session starts, before the thread computes
// anything. The Windows face sets the floating-point control there, so samples and grey
// levels do not depend on the thread; the Linux face has nothing to do. Implemented
// once per face (ui/*/thread_prologue_*.cpp) and by the tests' fakes.
void threadPrologue();
