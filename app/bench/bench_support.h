// What the benchmark programs share: a clock and a message pump.
#pragma once

#include <windows.h>

namespace korvane::bench {

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

}  // namespace korvane::bench
