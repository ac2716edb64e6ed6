// What the program asks of the system beyond the clock and windows: the user's name, its own
// path and command line, the shell, and version resources of files.
#pragma once

#include <cstdint>
#include <vector>

#include "toolkit/Platform.h"

// ShellExecute's results: above seLastError the shell has opened the document; up to it, why not
// (checked against the platform's values in app/WinNamesWin32.cpp).
constexpr intptr_t seLastError = 32;
constexpr intptr_t seFileNotFound = 2;
constexpr intptr_t sePathNotFound = 3;
constexpr intptr_t seAccessDenied = 5;
constexpr intptr_t seAssocIncomplete = 27;
constexpr intptr_t seNoAssoc = 31;

class TAppSystem {
 public:
  virtual ~TAppSystem() = default;
  // Name of the logged-on Windows user (GetUserNameA with room for 256 characters); empty when
  // it cannot be read.
  virtual String UserName() = 0;
  virtual String CommandLine() = 0;  // the whole command line, program name first
  // Opens a document or an address with the shell ("OPEN", SW_SHOW). Returns the shell's
  // result: above seLastError it opened; otherwise the reason (seFileNotFound, seNoAssoc, ...).
  virtual intptr_t ShellOpen(THandle wnd, const String& target) = 0;
  // The version resource of a file; false when it has none.
  virtual bool FileVersionInfo(const String& path, std::vector<uint8_t>& block) = 0;
  // The first entry of "\VarFileInfo\Translation"; false when the table is empty or missing.
  virtual bool VersionTranslation(const std::vector<uint8_t>& block, uint32_t& translation) = 0;
  // A string of the version resource by its full path; false when missing or empty.
  virtual bool VersionString(const std::vector<uint8_t>& block, const String& subBlock, String& value) = 0;
  // A date and a time of day in the user's short date and long time formats.
  virtual String DateText(const TSystemTime& st) = 0;
  virtual String TimeText(const TSystemTime& st) = 0;
  // Writes to the console the program was started from; false when there is none.
  virtual bool ConsoleWrite(const String& text) = 0;
};

TAppSystem& AppSystem();
TAppSystem* SetAppSystem(TAppSystem* sys);  // tests; returns the previous one
TAppSystem& DefaultAppSystem();             // the platform's
