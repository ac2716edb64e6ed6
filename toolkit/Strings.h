// Small string helpers of the runtime: ASCII case folding and comparison.
#pragma once

#include "toolkit/SysUtils.h"

String UpperCase(const String& s);  // ASCII letters only, as the runtime's UpperCase
String LowerCase(const String& s);
bool SameText(const String& a, const String& b);  // ASCII case-insensitive equality
String IntToStr(long long value);
// Integer value of a decimal or "$"/"0x" hexadecimal text; `fallback` when it is not one.
long long StrToIntDef(const String& text, long long fallback);
String ExtractFilePath(const String& path);  // up to and including the last '\\', '/' or ':'
String ExtractFileName(const String& path);  // after the last '\\', '/' or ':'
String ChangeFileExt(const String& path, const String& ext);
