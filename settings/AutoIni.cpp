#include "settings/AutoIni.h"

#include <algorithm>
#include <iterator>

#include "settings/FileOps.h"
#include "toolkit/Application.h"
#include "toolkit/Forms.h"
#include "toolkit/Strings.h"

namespace {

constexpr int32_t kHotKeyKeyData = 0x01480001;

TWinControl& AsWinControl(TComponent* c) {
  auto* w = dynamic_cast<TWinControl*>(c);
  if (!w) throw EInvalidCast("Invalid class typecast");
  return *w;
}

template <class T>
bool Is(const TControl& c) {
  return dynamic_cast<const T*>(&c) != nullptr;
}

int32_t CheckedOf(TControl& c) { return static_cast<TCheckableButton&>(c).Checked() ? 1 : 0; }
void SetCheckedOf(TControl& c, int32_t v) { static_cast<TCheckableButton&>(c).SetChecked(v != 0); }
int32_t ItemIndexOf(TControl& c) { return static_cast<TItemsControl&>(c).ItemIndex(); }
void SetItemIndexOf(TControl& c, int32_t v) { static_cast<TItemsControl&>(c).SetItemIndex(v); }
int32_t ColorOf(TControl& c) { return static_cast<TShape&>(c).BrushColor(); }
void SetColorOf(TControl& c, int32_t v) { static_cast<TShape&>(c).SetBrushColor(v); }
int32_t HotKeyOf(TControl& c) { return static_cast<TCustomHotKey&>(c).HotKey(); }

void SetHotKeyOf(TControl& c, int32_t value) {
  auto& hotKey = static_cast<TCustomHotKey&>(c);
  hotKey.SetHotKey(static_cast<uint16_t>(value));
  // Keys such as PageUp or Home need a key press in the control to show their name.
  if ((value & 0xFFF) >= 0x21 && (value & 0xFFF) <= 0x2F && hotKey.HandleAllocated()) {
    WindowSystem().Post(hotKey.Handle(), wmKeyDown, static_cast<uint32_t>(value), kHotKeyKeyData);
    WindowSystem().Post(hotKey.Handle(), wmKeyUp, static_cast<uint32_t>(value), kHotKeyKeyData);
  }
}

// The controls whose values are stored, in the order their classes are tried, each with the
// kind that selects it. An edit stores its text; every other kind a number (a check mark as 1
// or 0), read and set through the row's functions.
struct TStoredKind {
  TCheckControl Kind;
  bool (*Matches)(const TControl&);
  int32_t (*Number)(TControl&);  // nullptr for the edit's text
  void (*SetNumber)(TControl&, int32_t);
};

const TStoredKind kStoredKinds[] = {
    {ccEdit, Is<TCustomEdit>, nullptr, nullptr},
    {ccCheckBox, Is<TCustomCheckBox>, CheckedOf, SetCheckedOf},
    {ccRadioButton, Is<TRadioButton>, CheckedOf, SetCheckedOf},
    {ccRadioGroup, Is<TCustomRadioGroup>, ItemIndexOf, SetItemIndexOf},
    {ccListBox, Is<TCustomListBox>, ItemIndexOf, SetItemIndexOf},
    {ccComboBox, Is<TCustomComboBox>, ItemIndexOf, SetItemIndexOf},
    {ccColor, Is<TShape>, ColorOf, SetColorOf},
    {ccHotKey, Is<TCustomHotKey>, HotKeyOf, SetHotKeyOf},
};

}  // namespace

TAutoIni::TAutoIni(TComponent* owner) : TComponent(owner) {}

String TAutoIni::ResolveIniPath() {
  const String exe = ExecutableFileName();
  if (FSection.empty()) FSection = ExtractFileName(exe);
  String path = FAIniFileName.empty() ? ChangeFileExt(exe, ".ini") : ExtractFilePath(exe) + FAIniFileName;
  if (FMakeIniWinDir) path = ExtractFileName(path);
  return path;
}

void TAutoIni::SaveSettings() { Operate(true); }

void TAutoIni::LoadSettings() { Operate(false); }

void TAutoIni::Operate(bool save) {
  const String path = ResolveIniPath();
  try {
    TIniFile ini(path);
    if (FCheckWinState) {
      auto* form = dynamic_cast<TForm*>(Owner());
      if (!form) throw EInvalidCast("Invalid class typecast");
      const String& name = form->Name();
      if (save) {
        ini.WriteInteger(FSection, name + "Top", form->Top());
        ini.WriteInteger(FSection, name + "Left", form->Left());
        if (FCheckWinSize) {
          ini.WriteInteger(FSection, name + "height", form->Height());
          ini.WriteInteger(FSection, name + "width", form->Width());
        }
      } else {
        form->SetTop(ini.ReadInteger(FSection, name + "Top", 0));
        form->SetLeft(ini.ReadInteger(FSection, name + "Left", 0));
        if (FCheckWinSize) {
          form->SetHeight(ini.ReadInteger(FSection, name + "height", form->Height()));
          form->SetWidth(ini.ReadInteger(FSection, name + "width", form->Width()));
        }
      }
    }
    WalkControls(Owner(), save, ini);
  } catch (...) {
    const String text = save ? "Can not save to IniFile" : "Can not load from IniFile";
    if (OnFailure)
      OnFailure(text);
    else
      WindowSystem().ShowMessageBox(text, Application ? Application->Title() : String(), mbOk);
    throw;
  }
}

void TAutoIni::WalkControls(TComponent* parentComponent, bool save, TIniFile& ini) {
  TWinControl& parent = AsWinControl(parentComponent);
  const int count = parent.ControlCount();
  // Controls without a window first, then the windowed ones, each in insertion order.
  for (bool windowed : {false, true}) {
    for (int i = 0; i < count && i < parent.ControlCount(); ++i) {
      TControl* child = parent.Controls(i);
      if (child->Windowed() != windowed) continue;
      if (StoreValue(*child, save, ini)) continue;
      if (auto* w = dynamic_cast<TWinControl*>(child); w && w->ControlCount() > 0) WalkControls(w, save, ini);
    }
  }
}

bool TAutoIni::StoreValue(TControl& child, bool save, TIniFile& ini) {
  const TStoredKind* row = std::find_if(std::begin(kStoredKinds), std::end(kStoredKinds), [&](const TStoredKind& k) {
    return k.Matches(child) && FCheckControls.Contains(k.Kind);
  });
  if (row == std::end(kStoredKinds)) return false;
  if (FCheckTag && child.Tag() != FEnableTag) return true;  // skipped, not walked into

  const String& key = child.Name();
  if (!row->Number) {
    auto& edit = static_cast<TCustomEdit&>(child);
    if (save)
      ini.WriteString(FSection, key, edit.Text());
    else
      edit.SetText(ini.ReadString(FSection, key, edit.Text()));
  } else if (save) {
    ini.WriteInteger(FSection, key, row->Number(child));
  } else {
    row->SetNumber(child, ini.ReadInteger(FSection, key, row->Number(child)));
  }
  return true;
}
