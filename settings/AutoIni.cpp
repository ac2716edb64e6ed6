#include "settings/AutoIni.h"

#include "settings/FileOps.h"
#include "toolkit/Application.h"
#include "toolkit/Forms.h"
#include "toolkit/Strings.h"

namespace {

constexpr uint32_t kWmKeyDown = 0x0100;
constexpr uint32_t kWmKeyUp = 0x0101;
constexpr int32_t kHotKeyKeyData = 0x01480001;

TWinControl& AsWinControl(TComponent* c) {
  auto* w = dynamic_cast<TWinControl*>(c);
  if (!w) throw EInvalidCast("Invalid class typecast");
  return *w;
}

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
  auto on = [&](TCheckControl kind) { return FCheckControls.Contains(kind); };
  enum class Row { None, Edit, CheckBox, Radio, ItemIndex, Color, HotKey } row = Row::None;
  if (dynamic_cast<TCustomEdit*>(&child) && on(ccEdit))
    row = Row::Edit;
  else if (dynamic_cast<TCustomCheckBox*>(&child) && on(ccCheckBox))
    row = Row::CheckBox;
  else if (dynamic_cast<TRadioButton*>(&child) && on(ccRadioButton))
    row = Row::Radio;
  else if (dynamic_cast<TCustomRadioGroup*>(&child) && on(ccRadioGroup))
    row = Row::ItemIndex;
  else if (dynamic_cast<TCustomListBox*>(&child) && on(ccListBox))
    row = Row::ItemIndex;
  else if (dynamic_cast<TCustomComboBox*>(&child) && on(ccComboBox))
    row = Row::ItemIndex;
  else if (dynamic_cast<TShape*>(&child) && on(ccColor))
    row = Row::Color;
  else if (dynamic_cast<TCustomHotKey*>(&child) && on(ccHotKey))
    row = Row::HotKey;
  if (row == Row::None) return false;
  if (FCheckTag && child.Tag() != FEnableTag) return true;  // skipped, not walked into

  const String& key = child.Name();
  switch (row) {
    case Row::Edit: {
      auto& edit = static_cast<TCustomEdit&>(child);
      if (save)
        ini.WriteString(FSection, key, edit.Text());
      else
        edit.SetText(ini.ReadString(FSection, key, edit.Text()));
      break;
    }
    case Row::CheckBox: {
      auto& box = static_cast<TCustomCheckBox&>(child);
      if (save)
        ini.WriteBool(FSection, key, box.Checked());
      else
        box.SetChecked(ini.ReadBool(FSection, key, box.Checked()));
      break;
    }
    case Row::Radio: {
      auto& radio = static_cast<TRadioButton&>(child);
      if (save)
        ini.WriteBool(FSection, key, radio.Checked());
      else
        radio.SetChecked(ini.ReadBool(FSection, key, radio.Checked()));
      break;
    }
    case Row::ItemIndex: {
      auto& list = static_cast<TItemsControl&>(child);
      if (save)
        ini.WriteInteger(FSection, key, list.ItemIndex());
      else
        list.SetItemIndex(ini.ReadInteger(FSection, key, list.ItemIndex()));
      break;
    }
    case Row::Color: {
      auto& shape = static_cast<TShape&>(child);
      if (save)
        ini.WriteInteger(FSection, key, shape.BrushColor());
      else
        shape.SetBrushColor(ini.ReadInteger(FSection, key, shape.BrushColor()));
      break;
    }
    case Row::HotKey: {
      auto& hotKey = static_cast<TCustomHotKey&>(child);
      if (save) {
        ini.WriteInteger(FSection, key, hotKey.HotKey());
      } else {
        int32_t value = ini.ReadInteger(FSection, key, hotKey.HotKey());
        hotKey.SetHotKey(static_cast<uint16_t>(value));
        // Keys such as PageUp or Home need a key press in the control to show their name.
        if ((value & 0xFFF) >= 0x21 && (value & 0xFFF) <= 0x2F && hotKey.HandleAllocated()) {
          WindowSystem().Post(hotKey.Handle(), kWmKeyDown, static_cast<uint32_t>(value), kHotKeyKeyData);
          WindowSystem().Post(hotKey.Handle(), kWmKeyUp, static_cast<uint32_t>(value), kHotKeyKeyData);
        }
      }
      break;
    }
    case Row::None: break;
  }
  return true;
}
