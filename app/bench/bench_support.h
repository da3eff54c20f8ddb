// What the benchmark programs share: a stand-in for the panel, a clock and
// message pumps.
#pragma once

#include <windows.h>

#include <cstdint>

#include "panel_link.h"

namespace korvane::bench {

// A panel that does nothing, for a strip measured on its own.
class NoPanel final : public PanelLink {
public:
    std::uint32_t SwatchColour(int) override { return 0; }
    void Show() override {}
    float OuterHeight() override { return 0.0f; }
    void SetLeft(float) override {}
    void SetTop(float) override {}
};

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
