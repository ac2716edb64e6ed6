// An INI file of "[Section]" lines followed by "Key=Value" lines, read and written one value
// per call, nothing cached (as the platform's profile functions do it, but the same bytes on
// every platform).
//
// Sections and keys match without regard to letter case (ASCII letters; the second byte of a
// Shift-JIS character is never folded). A new key goes to the end of its section, a new section
// to the end of the file; an existing key is rewritten in place; every other line keeps its
// bytes. New lines end with "\r\n". Each write replaces the whole file atomically under a lock
// shared by all processes (see FileOps.h).
//
// A file is ANSI text, or UTF-8, UTF-16LE or UTF-16BE behind a byte order mark (as Notepad
// saves it); a Unicode file stays in its encoding with its mark. Names and values are ANSI in the program
// and converted on the way in and out; a character that ANSI cannot hold reads as '?', and a
// value written back as it was read leaves its line as it is.
#pragma once

#include "toolkit/SysUtils.h"

// A write failed; the message is the path inserted into "%s に書き込めません".
class EIniFileError : public Exception {
 public:
  using Exception::Exception;
};

// The text operations, on the bytes of a whole file in any of its encodings.
namespace IniText {
// The value of the key, trimmed of blanks, one pair of enclosing quotes removed; false when the
// section or key is missing.
bool Find(const String& text, const String& section, const String& key, String& value);
// The text with the key set to `value`. A line break in the value ends it there, so that a value
// can never add lines or sections of its own.
String Put(const String& text, const String& section, const String& key, const String& value);
// ASCII case-insensitive comparison that leaves Shift-JIS second bytes alone.
bool SameName(const String& a, const String& b);
}  // namespace IniText

class TIniFile {
 public:
  // A name without a directory means a file in the Windows directory, as for profile files.
  explicit TIniFile(const String& fileName);
  const String& FileName() const { return FFileName; }

  // At most 2047 bytes of the value; `fallback` when the key is missing.
  String ReadString(const String& section, const String& key, const String& fallback) const;
  // Decimal, or hexadecimal after "0x"/"0X" when the text is longer than two characters;
  // `fallback` for a missing key, an empty value or text that is no 32-bit integer.
  int32_t ReadInteger(const String& section, const String& key, int32_t fallback) const;
  // Read as an integer with default 1 or 0; any non-zero value is true.
  bool ReadBool(const String& section, const String& key, bool fallback) const;

  // Each raises EIniFileError when the file cannot be written.
  void WriteString(const String& section, const String& key, const String& value);
  void WriteInteger(const String& section, const String& key, int32_t value);
  void WriteBool(const String& section, const String& key, bool value);

 private:
  String FFileName;
};

// Integer value of an INI text by the rules of ReadInteger.
bool ParseIniInteger(const String& text, int32_t& value);
