// Forms: top-level windowed controls built from a dialog resource.
//
// A program declares a form's controls in code, each with its component name and its control
// id in the dialog resource, then calls CreateFromResource. On Windows that creates the
// dialog's window (hidden until Show), binds every declared control to the resource's window
// of the same id, and puts the children in the order of the resource. Without a window system
// (native tests) the form stays a model whose controls keep their values themselves.
#pragma once

#include <functional>
#include <memory>

#include "toolkit/Application.h"
#include "toolkit/Controls.h"
#include "toolkit/Graphics.h"
#include "toolkit/WinNames.h"

class TForm;

// Modal results of the runtime.
constexpr int mrNone = 0;
constexpr int mrOk = 1;
constexpr int mrCancel = 2;

// The window of a form: what the platform adds to a control's peer.
class TFormPeer : public TControlPeer {
 public:
  // Dispatches messages until `done` is true, keeping the dialog's keyboard handling.
  virtual void RunModal(const std::function<bool()>& done) = 0;
  // Size of the area inside the frame.
  virtual void SetClientSize(int width, int height) = 0;
  virtual void GetClientSize(int& width, int& height) const = 0;
};

// A form is also what the tray icon and the application know as a windowed owner.
class TForm : public TWinControl, public TWindowedOwner {
 public:
  explicit TForm(TComponent* owner);
  ~TForm() override;

  // Creates a control owned by the form, as the last child of `parent`.
  template <class T>
  T* AddControl(TWinControl* parent, const String& name, int controlId = 0) {
    T* control = Make<T>();
    control->SetName(name);
    control->SetControlId(controlId);
    control->SetParent(parent);
    return control;
  }
  template <class T>
  T* AddControl(const String& name, int controlId = 0) {
    return AddControl<T>(this, name, controlId);
  }
  // The control of that component name (any letter case), nullptr when none.
  TControl* FindControl(const String& name) const;

  // Creates the form's window from dialog resource `resourceId` of the executable and binds
  // the declared controls to it by control id (see the file comment). The window stays hidden
  // unless the form is Visible. A second call does nothing. Raises EOutOfResources when the
  // system cannot create the dialog.
  void CreateFromResource(int resourceId);
  int ResourceId() const { return FResourceId; }

  // A form is created hidden. Shown, it comes onto the work area of the nearest monitor: a
  // place saved on a monitor that has gone since would leave it out of sight.
  void SetVisible(bool visible) override;
  bool Visible() const override { return TWinControl::Visible(); }
  THandle WindowHandle() const override { return Handle(); }
  // Size of the area inside the frame; kept by the model until the window exists.
  void SetClientSize(int width, int height);
  int ClientWidth() const;
  int ClientHeight() const;
  void Show() { SetVisible(true); }
  void Hide() { SetVisible(false); }
  // Shows the form and dispatches messages until a modal result is set or the form is hidden;
  // then hides it and returns the result (mrCancel when it was closed without one).
  int ShowModal();
  int ModalResult() const { return FModalResult; }
  void SetModalResult(int result) { FModalResult = result; }
  void ChildModalResult(int result) override { FModalResult = result; }

  // Asks OnCloseQuery; when it allows: hides the form, ends a modal loop, then OnClose.
  void Close();
  // Whether the form may close now (OnCloseQuery's answer, true when unassigned).
  bool CloseQuery();

  std::function<void(TObject* sender, bool& canClose)> OnCloseQuery;
  TNotifyEvent OnClose;
  // Sees every message of the form's window first; returns true when it handled the message
  // (its Result is then returned to the system).
  std::function<bool(TMessage& message)> OnMessage;

  // Called by the platform's window procedure: OnMessage, then the form's own handling of
  // wmClose and wmQueryEndSession. Returns whether the message was handled.
  bool Dispatch(TMessage& message);

  // What the form's window reports of its controls (wmCommand): the control of `id` fires the
  // event of notification `code` (a list's selection change is its click, a double click its
  // double click, a button's click its click, an edit's change its change; a spin edit that
  // loses the focus brings its text into range). idOk and idCancel without a control of that
  // id click the default or the cancel button. Returns whether a control took the command.
  bool Command(int id, uint16_t code);
  // A key that the focused window would keep from the dialog (vkReturn, vkEscape): Enter
  // clicks the default button and Escape the cancel button, wherever the focus is. Returns
  // whether a button took the key.
  bool DialogKey(uint16_t key);
  // Alt and a letter: the first label (in child order) whose caption underlines that letter
  // takes the key; `target` is its focus control, or nullptr when it has none (the focus then
  // stays). Returns false when no label has that accelerator.
  bool AcceleratorTarget(char key, TWinControl*& target) const;
  // Puts the children of every windowed control of the form in the order of their windows
  // (`windows` lists the windows in the platform's order); controls without a window in it
  // keep their order after those with one.
  void ApplyWindowOrder(const std::vector<THandle>& windows);

 protected:
  // The form's window has been made or is about to go: its watchers are told.
  void PeerAttached() override;
  void PeerDetaching() override;

 private:
  void BringOntoScreen();
  int FResourceId = 0;
  int FClientWidth = 0, FClientHeight = 0;
  int FModalResult = mrNone;
  bool FInModal = false;
};

// Where a window of `window`'s size goes so that it lies inside `workArea`, moved as little as
// possible; one larger than the area keeps its left or top edge on the area's.
TPoint FitIntoWorkArea(const TRect& window, const TRect& workArea);

// Implemented by the platform layer: the dialog window of `form`, with its controls bound;
// nullptr where there is no window system.
std::unique_ptr<TFormPeer> CreateFormPeer(TForm& form, int resourceId);
