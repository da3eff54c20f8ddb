// Form2's links: the publisher's page (Label7), the update check on
// request (Label9), and their hover colours.
#include "form2.h"

#include <shellapi.h>

#include "form2_style.h"

namespace korvane {

using namespace form2_style;

// A link stays in its hover colour until the pointer moves over the
// panel's own surface.
void Form2::Form_MouseMove() {
    label7_.SetColour(kLinkColour);
    label9_.SetColour(kLinkColour);
}

void Form2::Label7_Click() {
    ShellExecuteA(hwnd(), "open", KORVANE_PUBLISHER_URL, "", "", SW_SHOWNORMAL);
}

void Form2::Label7_MouseMove() { label7_.SetColour(kLinkHoverColour); }

void Form2::Label9_MouseMove() { label9_.SetColour(kLinkHoverColour); }

void Form2::Label9_Click() { update_check_.CheckOnRequest(); }

}  // namespace korvane
