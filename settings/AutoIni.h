// TAutoIni: saves the values of a form's controls, and the form's position, in one section of
// an INI file, and loads them back.
//
// Placed on a form (its owner). Each control is stored under its component name; which
// controls take part is decided by their class, by CheckControls and, with CheckTag, by their
// Tag. Failures are shown in a message box and then raised again to the caller.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>

#include "settings/IniFile.h"
#include "toolkit/Classes.h"

class TControl;

enum TCheckControl : uint8_t {
  ccEdit,
  ccCheckBox,
  ccRadioButton,
  ccRadioGroup,
  ccListBox,
  ccComboBox,
  ccColor,
  ccHotKey
};

// A set of control kinds: one byte, bit n for kind n.
class TCheckControls {
 public:
  constexpr TCheckControls() = default;
  constexpr TCheckControls(std::initializer_list<TCheckControl> kinds) {
    for (TCheckControl k : kinds) FBits = static_cast<uint8_t>(FBits | (1u << k));
  }
  static constexpr TCheckControls FromBits(uint8_t bits) {
    TCheckControls s;
    s.FBits = bits;
    return s;
  }
  constexpr bool Contains(TCheckControl k) const { return (FBits >> k) & 1u; }
  constexpr void Include(TCheckControl k) { FBits = static_cast<uint8_t>(FBits | (1u << k)); }
  constexpr void Exclude(TCheckControl k) { FBits = static_cast<uint8_t>(FBits & ~(1u << k)); }
  constexpr uint8_t Bits() const { return FBits; }
  constexpr bool operator==(const TCheckControls&) const = default;

 private:
  uint8_t FBits = 0;
};

class TAutoIni : public TComponent {
 public:
  explicit TAutoIni(TComponent* owner);

  const String& Section() const { return FSection; }
  void SetSection(const String& v) { FSection = v; }
  const String& AIniFileName() const { return FAIniFileName; }
  void SetAIniFileName(const String& v) { FAIniFileName = v; }
  TCheckControls CheckControls() const { return FCheckControls; }
  void SetCheckControls(TCheckControls v) { FCheckControls = v; }
  bool CheckWinState() const { return FCheckWinState; }
  void SetCheckWinState(bool v) { FCheckWinState = v; }
  bool CheckWinSize() const { return FCheckWinSize; }
  void SetCheckWinSize(bool v) { FCheckWinSize = v; }
  bool CheckTag() const { return FCheckTag; }
  void SetCheckTag(bool v) { FCheckTag = v; }
  int32_t EnableTag() const { return FEnableTag; }
  void SetEnableTag(int32_t v) { FEnableTag = v; }
  bool MakeIniWinDir() const { return FMakeIniWinDir; }
  void SetMakeIniWinDir(bool v) { FMakeIniWinDir = v; }

  // Says that an operation failed ("Can not save to IniFile"); when unassigned, a message box
  // with the application's title does. A program that nobody watches says it elsewhere. The
  // failure is raised again to the caller either way.
  std::function<void(const String& text)> OnFailure;

  // Writes the form position (with CheckWinState) and the selected control values.
  void SaveSettings();
  // Reads them back and applies them; a missing "<form>Top"/"<form>Left" moves the form to 0.
  void LoadSettings();

  // Fills an empty Section with the executable's file name and returns the INI file's path:
  // the executable's path with ".ini", or AIniFileName in the executable's directory; only
  // the file name of that with MakeIniWinDir (the INI file then lives in the Windows directory).
  String ResolveIniPath();

 private:
  void Operate(bool save);
  void WalkControls(TComponent* parent, bool save, TIniFile& ini);
  // Rows of the class table: stores or loads the child and returns true when one applies.
  bool StoreValue(TControl& child, bool save, TIniFile& ini);

  String FSection;
  String FAIniFileName;
  TCheckControls FCheckControls = TCheckControls::FromBits(0xFF);
  bool FCheckWinState = false;
  bool FCheckWinSize = false;
  bool FCheckTag = false;
  int32_t FEnableTag = 0;
  bool FMakeIniWinDir = false;
};

// An owner or parent of the wrong class.
class EInvalidCast : public Exception {
 public:
  using Exception::Exception;
};
