// Small helpers of the program: the Windows user's name, a file's base name, version texts,
// and the command line split into arguments.
#pragma once

#include <vector>

#include "toolkit/SysUtils.h"

// The logged-on user's name (the INI section of this user).
String GetWindowsUserName();
// File name without directory and without its last extension ("SETX1.EXE" -> "SETX1").
String GetFileBaseName(const String& path);
// "<Key> : <value>" of the file's version resource for key index 0..7 (other indexes read
// FileVersion); "<Key> : None" when the string is missing; "unidentified" without a resource
// or translation table.
String GetFileVersionText(const String& path, int index);
// The arguments after the program name, split as the runtime's ParamStr does: blanks separate,
// double quotes group and are removed.
std::vector<String> SplitCommandLine(const String& commandLine);

extern const char* const VersionKeys[8];
