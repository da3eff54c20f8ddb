// The start-up module: checks for the library, opens the publisher's page
// on a first run, then shows and places the strip.
#pragma once

#include "colorstep.h"
#include "form1.h"
#include "form2.h"

namespace Module1 {

// Runs once before the message loop. Ends the process when the library
// file is missing.
void Main();

// The strip window, created by Main.
korvane::Form1& Form1();
// The control panel; its window is created on first use.
korvane::Form2& Form2();

}  // namespace Module1
