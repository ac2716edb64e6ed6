// The standard controls of the toolkit, as a portable model.
//
// A control is a component with a parent, a position and a value. Windowed controls
// (TWinControl) hold child controls in the order in which they were inserted; graphic
// controls (labels, shapes) have no window of their own. The model keeps each value itself
// until a platform peer is attached: from then on values are read from and written to the real
// window, so that what the user typed is what the program reads. The settings component walks
// this tree, and tests drive it without any window.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "toolkit/Classes.h"
#include "toolkit/Platform.h"

using TNotifyEvent = std::function<void(TObject* sender)>;

// The window behind one control. The Win32 layer implements it with window messages; a
// control without a peer keeps its values in the model. Only the operations that make sense
// for the control's class are called.
class TControlPeer {
 public:
  virtual ~TControlPeer() = default;
  virtual THandle Handle() const = 0;
  virtual String GetText() const = 0;
  virtual void SetText(const String& text) = 0;
  virtual bool GetChecked() const { return false; }
  virtual void SetChecked(bool) {}
  virtual int GetItemIndex() const { return -1; }
  virtual void SetItemIndex(int) {}
  virtual void SetItems(const std::vector<String>&) {}
  virtual uint16_t GetHotKey() const { return 0; }
  virtual void SetHotKey(uint16_t) {}
  virtual void SetRange(int, int) {}
  // Edits: the most characters the user can type; 0 = the system's limit.
  virtual void SetMaxLength(int) {}
  virtual void SetBounds(int left, int top, int width, int height) = 0;
  virtual void GetBounds(int& left, int& top, int& width, int& height) const = 0;
  virtual void SetVisible(bool visible) = 0;
  virtual void SetEnabled(bool enabled) = 0;
};

class TWinControl;

class TControl : public TComponent {
 public:
  explicit TControl(TComponent* owner);
  ~TControl() override;

  TWinControl* Parent() const { return FParent; }
  // Inserts the control as the last child of `parent` (nullptr takes it out of its parent).
  void SetParent(TWinControl* parent);

  // Whether the control has a window of its own; decided by the class.
  virtual bool Windowed() const { return false; }
  // Resource id of the control in its form's dialog resource; 0 = not bound by id.
  int ControlId() const { return FControlId; }
  void SetControlId(int id) { FControlId = id; }

  int Left() const;
  int Top() const;
  int Width() const;
  int Height() const;
  void SetLeft(int v) { SetBounds(v, Top(), Width(), Height()); }
  void SetTop(int v) { SetBounds(Left(), v, Width(), Height()); }
  void SetWidth(int v) { SetBounds(Left(), Top(), v, Height()); }
  void SetHeight(int v) { SetBounds(Left(), Top(), Width(), v); }
  virtual void SetBounds(int left, int top, int width, int height);

  bool Visible() const { return FVisible; }
  virtual void SetVisible(bool visible);
  bool Enabled() const { return FEnabled; }
  void SetEnabled(bool enabled);

  // Caption of buttons, labels and forms; the text of edits.
  String Caption() const;
  void SetCaption(const String& caption);

  TNotifyEvent OnClick;
  // What a click of the user does: OnClick when assigned. Check boxes toggle first.
  virtual void Click();

  // Window of the control, 0 while it has none.
  THandle Handle() const { return FPeer ? FPeer->Handle() : 0; }
  bool HandleAllocated() const { return FPeer != nullptr; }
  TControlPeer* Peer() const { return FPeer.get(); }
  // Attaches the platform's window; the model's values are then read from it. The text is
  // taken from the window (the resource gives it); the other values go to the window.
  void AttachPeer(std::unique_ptr<TControlPeer> peer);
  // Drops the window (before it is destroyed); the model keeps the last values.
  void DetachPeer();

 protected:
  // Pushes the model's own values (other than the text) to a newly attached peer.
  virtual void PeerAttached() {}
  // Pulls the values that live in the window into the model before the peer goes.
  virtual void PeerDetaching();

 private:
  friend class TWinControl;
  TWinControl* FParent = nullptr;
  int FControlId = 0;
  int FLeft = 0, FTop = 0, FWidth = 0, FHeight = 0;
  bool FVisible = true;
  bool FEnabled = true;
  String FText;
  std::unique_ptr<TControlPeer> FPeer;
};

// A control with a window of its own, which can hold child controls.
class TWinControl : public TControl {
 public:
  using TControl::TControl;
  ~TWinControl() override;
  bool Windowed() const override { return true; }

  int ControlCount() const { return static_cast<int>(FControls.size()); }
  TControl* Controls(int index) const { return FControls.at(static_cast<size_t>(index)); }
  // Reorders the children; `order` must hold exactly the current children.
  void SetControlOrder(const std::vector<TControl*>& order);
  // A button with a modal result was clicked somewhere below this (top-level) control.
  virtual void ChildModalResult(int) {}

 private:
  friend class TControl;
  std::vector<TControl*> FControls;
};

// A control drawn on its parent's surface, without a window of its own.
class TGraphicControl : public TControl {
 public:
  using TControl::TControl;
};

class TLabel : public TGraphicControl {
 public:
  using TGraphicControl::TGraphicControl;
  // The windowed control that takes the focus on the label's accelerator.
  TWinControl* FocusControl() const { return FFocusControl; }
  void SetFocusControl(TWinControl* control) { FFocusControl = control; }

 private:
  TWinControl* FFocusControl = nullptr;
};

// A filled figure; its value is the colour of its brush.
class TShape : public TGraphicControl {
 public:
  using TGraphicControl::TGraphicControl;
  int32_t BrushColor() const { return FBrushColor; }
  void SetBrushColor(int32_t color) { FBrushColor = color; }

 private:
  int32_t FBrushColor = 0xFFFFFF;
};

// A container of other controls.
class TPanel : public TWinControl {
 public:
  using TWinControl::TWinControl;
};

class TCustomEdit : public TWinControl {
 public:
  using TWinControl::TWinControl;
  String Text() const { return Caption(); }
  void SetText(const String& text) { SetCaption(text); }
  // Limit on the number of characters the user can type; 0 = none.
  int MaxLength() const { return FMaxLength; }
  void SetMaxLength(int length);
  TNotifyEvent OnChange;
  // Called when the user has changed the text.
  virtual void Change();
  // Edit styles the window is created with besides those of its class (ES_* bits).
  virtual uint32_t EditStyles() const { return 0; }

 protected:
  void PeerAttached() override;

 private:
  int FMaxLength = 0;
};

class TEdit : public TCustomEdit {
 public:
  using TCustomEdit::TCustomEdit;
};

// The arrow buttons of a spin edit: a windowed child control of the edit with no value.
class TSpinButton : public TWinControl {
 public:
  using TWinControl::TWinControl;
};

// The number in a spin edit's text: a decimal integer (at most ten digits), else `minValue`.
long long SpinTextValue(const String& text, int minValue);

// A numeric edit with up and down arrow buttons. Its value is its text; the text is brought
// into [MinValue, MaxValue] only when the control loses the focus or an arrow is used.
class TSpinEdit : public TCustomEdit {
 public:
  explicit TSpinEdit(TComponent* owner);
  TSpinButton* Button() const { return FButton; }
  int MinValue() const { return FMinValue; }
  int MaxValue() const { return FMaxValue; }
  void SetMinValue(int v);
  void SetMaxValue(int v);
  // The text as a decimal integer, MinValue when it is none.
  int Value() const;
  void SetValue(int v);
  // Brings the text into the range (what leaving the control does).
  void ClampText();
  // One step of an arrow button: +1 or -1 from the value, within the range.
  void Step(int delta);

 protected:
  void PeerAttached() override;

 private:
  TSpinButton* FButton;
  int FMinValue = 0;
  int FMaxValue = 0;
};

class TButtonControl : public TWinControl {
 public:
  using TWinControl::TWinControl;
};

class TButton : public TButtonControl {
 public:
  using TButtonControl::TButtonControl;
  bool Default() const { return FDefault; }
  void SetDefault(bool v) { FDefault = v; }
  bool Cancel() const { return FCancel; }
  void SetCancel(bool v) { FCancel = v; }
  // Modal result given to the form when clicked (0 = none).
  int ModalResult() const { return FModalResult; }
  void SetModalResult(int v) { FModalResult = v; }
  void Click() override;

 private:
  bool FDefault = false, FCancel = false;
  int FModalResult = 0;
};

// A button with a check mark (a check box or a radio button). The mark is the window's while
// it has one, and is kept here while it has none.
class TCheckableButton : public TButtonControl {
 public:
  using TButtonControl::TButtonControl;
  bool Checked() const;
  void SetChecked(bool checked);

 protected:
  void PeerAttached() override;
  void PeerDetaching() override;

 private:
  bool FChecked = false;
};

class TCustomCheckBox : public TCheckableButton {
 public:
  using TCheckableButton::TCheckableButton;
  void Click() override;  // toggles, then OnClick
};

class TCheckBox : public TCustomCheckBox {
 public:
  using TCustomCheckBox::TCustomCheckBox;
};

class TRadioButton : public TCheckableButton {
 public:
  using TCheckableButton::TCheckableButton;
  void Click() override;  // checks, then OnClick
};

// Base of the controls with a list of text items and one selected index (-1 = none).
class TItemsControl : public TWinControl {
 public:
  using TWinControl::TWinControl;
  const std::vector<String>& Items() const { return FItems; }
  int ItemCount() const { return static_cast<int>(FItems.size()); }
  // Replacing or changing the items clears the selection, as the list's window does.
  void SetItems(const std::vector<String>& items);
  void InsertItem(int index, const String& item);
  void AddItem(const String& item) { InsertItem(ItemCount(), item); }
  void ClearItems() { SetItems({}); }
  // Index of the first item equal to `text` without regard to letter case, -1 when none.
  int IndexOfItem(const String& text) const;
  int ItemIndex() const;
  // An index outside the items selects nothing.
  void SetItemIndex(int index);

 protected:
  void PeerAttached() override;
  void PeerDetaching() override;

 private:
  std::vector<String> FItems;
  int FItemIndex = -1;
};

class TCustomListBox : public TItemsControl {
 public:
  using TItemsControl::TItemsControl;
  TNotifyEvent OnDblClick;
  void DblClick();
};

class TListBox : public TCustomListBox {
 public:
  using TCustomListBox::TCustomListBox;
};

class TCustomComboBox : public TItemsControl {
 public:
  using TItemsControl::TItemsControl;
};

class TComboBox : public TCustomComboBox {
 public:
  using TCustomComboBox::TCustomComboBox;
};

class TCustomRadioGroup : public TItemsControl {
 public:
  using TItemsControl::TItemsControl;
};

class TRadioGroup : public TCustomRadioGroup {
 public:
  using TCustomRadioGroup::TCustomRadioGroup;
};

// A hot-key edit: a 16-bit shortcut, key code in the low byte, modifier bits in the high byte.
class TCustomHotKey : public TWinControl {
 public:
  using TWinControl::TWinControl;
  uint16_t HotKey() const;
  void SetHotKey(uint16_t value);

 protected:
  void PeerAttached() override;
  void PeerDetaching() override;

 private:
  uint16_t FHotKey = 0;
};

class THotKey : public TCustomHotKey {
 public:
  using TCustomHotKey::TCustomHotKey;
};
