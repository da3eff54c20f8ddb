// Form2: the control panel. A fixed dialog-style window with a tab control
// (text, font and colours, speed and width), a column of buttons and a row
// of labels, two of them links. It is created and loaded on first use and
// never destroyed: closing only hides it.
#pragma once

#include <windows.h>

#include <array>
#include <cstdint>
#include <string>

#include "caption_font.h"
#include "colour_swatch.h"
#include "link_label.h"
#include "panel_layout.h"
#include "panel_link.h"
#include "panel_rules.h"
#include "settings_file.h"
#include "slider.h"
#include "text_box.h"
#include "update_check.h"
#include "win_handles.h"
#include "window_base.h"

namespace korvane {

class Form1;

class Form2 final : public WindowBase, public PanelLink {
public:
    // The strip must outlive the panel. Nothing is created yet.
    explicit Form2(Form1& strip);

    // What the strip uses; each call creates and loads the panel first.
    std::uint32_t SwatchColour(int index) override;
    void Show() override;
    float OuterHeight() override;
    void SetLeft(float twips) override;
    void SetTop(float twips) override;

    // Play (Command3) and Pause (Command5) for the notification-area menu:
    // whether each button is enabled (as laid out while the panel does not
    // exist yet), and pressing one, which creates and loads the panel hidden
    // first, as any first use does. A disabled button does nothing.
    bool PlayEnabled() const;
    bool PauseEnabled() const;
    void PressPlay();
    void PressPause();

    // Gives the panel's keyboard messages to the dialog manager, with Tab
    // following the panel's own order. True when the message was handled.
    bool TranslateDialogMessage(MSG& message);

    // Handlers, named after their control and event.
    void Form_Load();
    void Form_Unload(bool& cancel);
    void Form_MouseMove();
    void Command1_Click();
    void Command2_Click();
    void Command3_Click();
    void Command5_Click();
    void Command6_Click();
    void Check1_Click();
    void Label3_Click();
    void Label7_Click();
    void Label7_MouseMove();
    void Label9_MouseMove();
    void Label9_Click();
    void Picture1_Click();
    void Picture2_Click();
    void Picture3_Click();
    void Picture4_Click();
    void Slider1_Scroll();
    void Slider2_Scroll();

    // The whole text of a file as one line; throws when it cannot be read.
    std::wstring LoadFile(const std::wstring& path);

protected:
    LRESULT HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) override;

private:
    enum class LoadState { kNotCreated, kLoading, kLoaded };

    void EnsureLoaded();
    void CreateWindowAndControls();
    void CreateControl(const ControlRow& row);
    void RecreateFonts();
    void LayOut();
    void ShowPage(int page);
    void ShowNow();
    void Hide();
    void RegisterAndCheckForUpdates();

    HWND Control(ControlId id) const { return controls_[id - kSSTab1]; }
    int Px(float twips) const;
    int Check1Value() const;
    void SetCheck1Value(int value);
    ColourSwatch& Swatch(ControlId id);
    LinkLabel& Link(ControlId id) { return id == kLabel7 ? label7_ : label9_; }
    Slider& SliderOf(ControlId id) { return id == kSlider1 ? slider1_ : slider2_; }
    void SetPlayback(const PlaybackState& state);
    PanelChoices Choices() const;
    void Apply(ApplyScope scope);
    bool ChooseSwatchColour(ColourSwatch& swatch);
    void MoveFocus(bool backwards);
    void OnCommand(int id, int code);
    void OnDpiChanged(unsigned dpi, const RECT& suggested);
    HBRUSH PageBackground(HWND control, HDC dc);

    Form1& strip_;
    SettingsFile settings_;
    LoadState state_ = LoadState::kNotCreated;
    bool show_pending_ = false;
    // A Show() came while the load waited; the placement that follows the
    // load's own caller is then stale (see OuterHeight).
    bool shown_during_load_ = false;
    bool stale_placement_ = false;
    unsigned dpi_ = 96;
    float left_twips_ = kPanelLaidOutLeft;
    float top_twips_ = kPanelLaidOutTop;

    std::array<HWND, kPanelLayout.size()> controls_{};
    TextBox text1_;
    std::array<ColourSwatch, 4> swatches_;  // Picture1 to Picture4
    LinkLabel label7_;                      // the load sets the link colours
    LinkLabel label9_;
    Slider slider1_;
    Slider slider2_;
    CaptionFont sample_font_ = kSampleLaidOutFont;  // Label3's font
    UniqueFont font_;                               // "宋体" 9 pt for every control but Label3
    UniqueFont sample_hfont_;
    UniqueBrush page_brush_;     // the tab control's page, for the controls on it
    HWND last_focus_ = nullptr;  // the control to refocus on activation
    UpdateCheck update_check_;   // holds UpdateDetector for the rest of the run
};

}  // namespace korvane
