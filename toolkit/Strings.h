// Small string helpers of the runtime: ASCII case folding and comparison.
#pragma once

#include "toolkit/SysUtils.h"

String UpperCase(const String& s);  // ASCII letters only, as the runtime's UpperCase
String LowerCase(const String& s);
bool SameText(const String& a, const String& b);  // ASCII case-insensitive equality
String IntToStr(long long value);
// Integer value of a decimal or "$"/"0x" hexadecimal text; `fallback` when it is not one.
long long StrToIntDef(const String& text, long long fallback);

// A Shift-JIS lead byte: it and the byte after it are one character, whatever that byte is.
bool IsLeadByte(unsigned char c);

// Where a path splits, read character by character so that a second byte 0x5C of a Shift-JIS
// character (as in "\x83\x5C", ソ) is never taken for a '\\'. The file name starts after the
// last '\\', '/' or ':'; its extension at the name's last '.' (npos when it has none).
struct TPathParts {
  size_t NameStart;
  size_t ExtStart;
};
TPathParts SplitPath(const String& path);

String ExtractFilePath(const String& path);                   // up to and including the last '\\', '/' or ':'
String ExtractFileName(const String& path);                   // after the last '\\', '/' or ':'
String ChangeFileExt(const String& path, const String& ext);  // `ext` in place of the extension, if any
