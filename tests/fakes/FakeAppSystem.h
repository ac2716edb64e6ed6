// A scripted system for the program: user name, command line, version
// strings, and a record of what the program opened with the shell or wrote to the console.
#pragma once

#include <map>

#include "app/AppSystem.h"

class TFakeAppSystem final : public TAppSystem {
 public:
  TFakeAppSystem() : FOld(SetAppSystem(this)) {}
  ~TFakeAppSystem() override { SetAppSystem(FOld); }

  String User = "taro";
  String Line = "Kairotsu.exe";
  bool HasVersion = true;
  bool HasTranslation = true;
  uint32_t Translation = 0x04B00411;  // language 0x0411, code page 0x04B0
  std::map<String, String> Strings;   // by full sub-block path
  std::vector<std::pair<THandle, String>> Opened;
  intptr_t OpenResult = 42;  // what the shell answers: above 32 it opened
  String Console;
  bool HasConsole = true;

  String UserName() override { return User; }
  String CommandLine() override { return Line; }
  intptr_t ShellOpen(THandle wnd, const String& target) override {
    Opened.emplace_back(wnd, target);
    return OpenResult;
  }
  bool FileVersionInfo(const String&, std::vector<uint8_t>& block) override {
    block.assign(16, 0);
    return HasVersion;
  }
  bool VersionTranslation(const std::vector<uint8_t>&, uint32_t& translation) override {
    translation = Translation;
    return HasTranslation;
  }
  bool VersionString(const std::vector<uint8_t>&, const String& subBlock, String& value) override {
    auto it = Strings.find(subBlock);
    if (it == Strings.end() || it->second.empty()) return false;
    value = it->second;
    return true;
  }
  // A Japanese system's formats.
  String DateText(const TSystemTime& st) override { return Format("%.4d/%.2d/%.2d", {st.wYear, st.wMonth, st.wDay}); }
  String TimeText(const TSystemTime& st) override { return Format("%d:%.2d:%.2d", {st.wHour, st.wMinute, st.wSecond}); }
  bool ConsoleWrite(const String& text) override {
    if (!HasConsole) return false;
    Console += text;
    return true;
  }

 private:
  TAppSystem* FOld;
};
