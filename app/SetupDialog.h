// The settings dialog described once: every control with its component name, control id,
// kind, caption, pixel place, tab order and settings. The form creates its controls from this
// table; the dialog resource gives only the frame (style, caption, font).
#pragma once

#include <span>

enum class TSetupControlKind { Label, ListBox, SpinEdit, Button, CheckBox, Edit };

struct TSetupControl {
  const char* Name;
  int Id;
  TSetupControlKind Kind;
  const char* Caption;                // the caption or initial text (Shift-JIS in the program)
  int Left, Top, Width, Height;       // pixels in the client area
  int TabOrder;                       // -1: not a tab stop (labels)
  const char* FocusControl;           // labels: the control their accelerator focuses, or nullptr
  int MinValue, MaxValue, MaxLength;  // spin edits
  bool Checked;                       // check boxes
  bool Default, Cancel;               // buttons: Enter, Escape
};

// The controls in the order the form holds them (and their windows stand).
std::span<const TSetupControl> SetupControls();

// The form itself: its name, caption and client area.
inline constexpr const char* kSetupFormName = "Setup";
inline constexpr const char* kSetupFormCaption = "Setup";
inline constexpr int kSetupClientWidth = 240;
inline constexpr int kSetupClientHeight = 246;
