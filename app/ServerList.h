// The server list file "NTP.lst" beside the executable: one server per line, "\r\n" after
// each, ANSI bytes; read with CR, LF or CR LF line ends. A list saved in UTF-8, UTF-16LE or
// UTF-16BE with a byte order mark is read too, and rewritten in its own encoding.
#pragma once

#include <vector>

#include "toolkit/SysUtils.h"

// Raised when the list file cannot be read or written; the message names the file.
class EServerListError : public Exception {
 public:
  using Exception::Exception;
};

// Lines of a text: every line, an empty one included, is an item; a last line without a line
// end is kept; a final line end does not add an empty item.
std::vector<String> SplitLines(const String& text);
// The list in the file; false when there is no such file. A file that is there but cannot be
// read (no permission, a folder of that name, held by another program) raises EServerListError:
// it must never be taken for a missing one and replaced.
bool ReadServerList(const String& path, std::vector<String>& servers);
void SaveServerList(const String& path, const std::vector<String>& servers);

// The 22 servers written to a new list file.
extern const std::vector<String> DefaultServers;
