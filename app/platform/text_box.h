// A multi-line text box for long texts: a plain-text rich edit control
// (msftedit.dll), which lays out a long line in time that grows with its
// length, where the plain edit control re-wraps it in time that grows with
// the square of it. It behaves as the plain one does: its own context menu,
// plain-text paste only, no drag and drop, no length limit. Where the rich
// edit library cannot be loaded it is a plain edit control. Its messages go
// through the program's one window procedure and exception boundary.
#pragma once

#include <windows.h>

#include <string>

#include "window_base.h"

namespace korvane {

class TextBox final : public WindowBase {
public:
    enum class Kind { kRichEdit, kPlainEdit };
    struct CreateArgs {
        HWND parent = nullptr;
        int id = 0;
        Kind kind = Kind::kRichEdit;
        DWORD extra_style = 0;  // e.g. ES_AUTOHSCROLL | WS_HSCROLL for no word wrap
    };

    TextBox() = default;

    // Creates the control (multi-line, vertical scroll bar, word wrap).
    // Null when it could not be created.
    HWND Create(const CreateArgs& args);
    Kind kind() const { return kind_; }

    // The whole text. A text set here and not edited since comes back as it
    // was given, line feeds included, which the rich edit control would
    // otherwise turn into CR LF.
    std::wstring Text() const;
    void SetText(const std::wstring& text);

private:
    LRESULT HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) override;
    void ShowContextMenu(LPARAM where);
    void PastePlainText();
    bool Modified() const;

    Kind kind_ = Kind::kRichEdit;
    std::wstring set_text_;  // the text last set, while not edited
};

}  // namespace korvane
