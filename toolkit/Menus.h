// Actions, menu items and popup menus.
//
// An action carries a command's caption, image and handler, so that several menu items can
// show and run the same command. A menu item shows either its own caption or its action's; a
// popup menu holds a tree of items and pops up at a screen position. The items are components
// of their owner (the form); the menu tree only refers to them and forgets an item that goes
// away. Showing a menu is the platform's business (TMenuPlatform): the Win32 layer builds a
// real menu with the images of the menu's image list and tracks it; tests install a fake.
#pragma once

#include <functional>
#include <vector>

#include "toolkit/ImgList.h"

using TNotifyEvent = std::function<void(TObject* Sender)>;

class TAction : public TComponent {
 public:
  explicit TAction(TComponent* owner) : TComponent(owner) {}

  String Caption;
  String Category;
  int ImageIndex = -1;
  bool Enabled = true;
  bool Checked = false;
  bool Visible = true;
  TNotifyEvent OnExecute;

  // Runs OnExecute with this action as Sender; false when disabled or without a handler.
  virtual bool Execute();
};

class TActionList : public TComponent {
 public:
  explicit TActionList(TComponent* owner) : TComponent(owner) {}
  TCustomImageList* Images() const { return FImages; }
  void SetImages(TCustomImageList* images);

 protected:
  void Notification(TComponent* component, TOperation operation) override;

 private:
  TCustomImageList* FImages = nullptr;
};

class TMenuItem : public TComponent {
 public:
  explicit TMenuItem(TComponent* owner) : TComponent(owner) {}
  ~TMenuItem() override;

  // What the item shows: the action's values when an action is linked, else the item's own.
  // A caption of "-" is a separator.
  String Caption() const;
  void SetCaption(const String& caption) { FCaption = caption; }
  int ImageIndex() const;
  void SetImageIndex(int index) { FImageIndex = index; }
  bool Enabled() const;
  void SetEnabled(bool value) { FEnabled = value; }
  bool Checked() const;
  void SetChecked(bool value) { FChecked = value; }
  bool Visible() const;
  void SetVisible(bool value) { FVisible = value; }
  bool IsLine() const { return Caption() == "-"; }
  // The item that a double click on a tray icon runs.
  bool Default() const { return FDefault; }
  void SetDefault(bool value) { FDefault = value; }

  TAction* Action() const { return FAction; }
  void SetAction(TAction* action);

  // Sub-items, in display order.
  int Count() const { return static_cast<int>(FItems.size()); }
  TMenuItem* Items(int index) const { return FItems[static_cast<size_t>(index)]; }
  void Add(TMenuItem* item);
  void Remove(TMenuItem* item);
  TMenuItem* Parent() const { return FParent; }

  // Runs the command: OnClick when assigned, else the linked action. Nothing when disabled.
  virtual void Click();
  TNotifyEvent OnClick;

 protected:
  void Notification(TComponent* component, TOperation operation) override;

 private:
  String FCaption;
  int FImageIndex = -1;
  bool FEnabled = true;
  bool FChecked = false;
  bool FVisible = true;
  bool FDefault = false;
  TAction* FAction = nullptr;
  TMenuItem* FParent = nullptr;
  std::vector<TMenuItem*> FItems;
};

class TPopupMenu : public TComponent {
 public:
  explicit TPopupMenu(TComponent* owner);
  ~TPopupMenu() override;

  // The root item; the menu's top-level items are its sub-items.
  TMenuItem& Items() { return *FItems; }
  const TMenuItem& Items() const { return *FItems; }
  TCustomImageList* Images() const { return FImages; }
  void SetImages(TCustomImageList* images);
  bool AutoPopup() const { return FAutoPopup; }
  void SetAutoPopup(bool value) { FAutoPopup = value; }
  // The component that popped the menu up last (e.g. a tray icon).
  TComponent* PopupComponent() const { return FPopupComponent; }
  void SetPopupComponent(TComponent* component);

  // Shows the menu at a screen position and returns when it closes; the chosen item's Click
  // runs after the menu has closed.
  virtual void Popup(int x, int y);
  TNotifyEvent OnPopup;

 protected:
  void Notification(TComponent* component, TOperation operation) override;

 private:
  std::unique_ptr<TMenuItem> FItems;
  TCustomImageList* FImages = nullptr;
  bool FAutoPopup = true;
  TComponent* FPopupComponent = nullptr;
};

// Shows a popup menu and returns the item the user chose, or nullptr when the menu was
// dismissed. `ownerWnd` is the window that owns the menu while it is open.
class TMenuPlatform {
 public:
  virtual ~TMenuPlatform() = default;
  virtual TMenuItem* Track(TPopupMenu& menu, int x, int y, THandle ownerWnd) = 0;
};

TMenuPlatform& MenuPlatform();
// Installs a replacement (tests); nullptr goes back to the platform's. Returns the old one.
TMenuPlatform* SetMenuPlatform(TMenuPlatform* platform);
TMenuPlatform& DefaultMenuPlatform();
