// What the benchmark programs share: the stand-in panel, a clock and message
// pumps.
#pragma once

#include <windows.h>

#include <cstdint>

#include "no_panel.h"

namespace korvane::bench {

using korvane::NoPanel;

// Seconds on the performance counter, from an arbitrary start.
inline double Seconds() {
    LARGE_INTEGER frequency, counter;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// Dispatches the messages waiting in the queue, then returns.
inline void PumpWaiting() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
}

// Dispatches messages until the program is ended from outside.
inline void PumpUntilQuit() {
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
}

}  // namespace korvane::bench
