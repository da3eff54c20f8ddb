// How the program ends once its windows exist: at once, as the panel's Exit
// does, with no close handler run. What would outlive the process is undone
// first: the shell keeps showing a notification-area icon whose program has
// gone until the pointer passes over it.
#pragma once

#include <windows.h>

#include <functional>
#include <utility>
#include <vector>

namespace korvane {

inline std::vector<std::function<void()>>& ProgramEndActions() {
    static std::vector<std::function<void()>> actions;
    return actions;
}

// Runs `action` when the program ends through EndProgram.
inline void AtProgramEnd(std::function<void()> action) {
    ProgramEndActions().push_back(std::move(action));
}

// Runs the actions, each once even when one of them ends the program again,
// and ends the process.
[[noreturn]] inline void EndProgram(UINT exit_code = 0) {
    const std::vector<std::function<void()>> actions = std::exchange(ProgramEndActions(), {});
    for (const auto& action : actions) action();
    ExitProcess(exit_code);
}

}  // namespace korvane
