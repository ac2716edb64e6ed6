// Encodings of the text files the program reads and rewrites (its INI file, NTP.lst): ANSI
// bytes, or Unicode as a text editor saves it, UTF-8, UTF-16LE or UTF-16BE behind a byte order
// mark.
//
// A Unicode file is worked on as UTF-16 code units, so that lines the program does not change
// can be written back exactly as they were; only the values going in and out of the program
// pass through the ANSI code page (CP932 on a Japanese Windows).
#pragma once

#include <string>

#include "toolkit/SysUtils.h"

enum class TTextEncoding { Ansi, Utf8, Utf16Le, Utf16Be };

// The encoding the file's byte order mark names (EF BB BF, FF FE, FE FF); Ansi without one.
TTextEncoding DetectEncoding(const String& bytes);

// The text of a whole Unicode file (any encoding but Ansi), without its byte order mark. Bytes
// of a UTF-8 file that are no UTF-8 become lone surrogates 0xDC80-0xDCFF, which EncodeUnicode
// turns back into the same bytes; an odd last byte of a UTF-16 file is dropped.
std::u16string DecodeUnicode(const String& bytes, TTextEncoding encoding);
// The bytes of a whole file in that encoding, byte order mark first.
String EncodeUnicode(const std::u16string& text, TTextEncoding encoding);

// Between the ANSI code page and UTF-16. A character that the code page cannot hold becomes
// '?', a byte that it does not define a replacement character.
std::u16string AnsiToWide(const String& ansi);
String WideToAnsi(const std::u16string& wide);
