// The colour step belongs to the start-up module; it lives here, below both
// the start-up module and the strip, so that both reach it.
#pragma once

#include <cstdint>

namespace Module1 {

// Which of the panel's three text colours the caption takes next (0, 1, 2).
// 0 at program start; only the colour cycle reads or changes it.
extern std::int16_t colorstep;

}  // namespace Module1
