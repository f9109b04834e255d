#pragma once
// Threads the system or CreateThread starts begin with Windows' default x87 precision
// (53 bits), while the program's main thread runs with the 64 bits MinGW's start-up
// sets. MinGW's sin and cos compute on the x87 unit, so the same sample or grey level
// could come out one unit apart depending on the thread: at the middle of a strobe
// cycle, 253 on the timer thread instead of 254. Every thread that computes samples or
// levels takes the main thread's floating-point control first.

// On the main thread, at start-up: remembers its floating-point control.
void rememberMainThreadArithmetic();

// On any other thread, before it computes: adopts that control.
void adoptMainThreadArithmetic();
