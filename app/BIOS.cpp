#include "app/BIOS.h"

#include "app/AppSystem.h"
#include "toolkit/Strings.h"

const char* const VersionKeys[8] = {
    "\\CompanyName",    "\\FileDescription",  "\\FileVersion", "\\InternalName",
    "\\LegalCopyright", "\\OriginalFilename", "\\ProductName", "\\ProductVersion",
};

String GetWindowsUserName() { return AppSystem().UserName(); }

String GetFileBaseName(const String& path) { return ChangeFileExt(ExtractFileName(path), ""); }

String GetFileVersionText(const String& path, int index) {
  if (index > 7 || index < 0) index = 2;
  std::vector<uint8_t> block;
  if (!AppSystem().FileVersionInfo(path, block)) return "unidentified";
  uint32_t translation = 0;
  if (!AppSystem().VersionTranslation(block, translation)) return "unidentified";
  // Language first, then code page: 0x04B00411 -> "041104B0".
  String hex = Format("%8.8x", {translation});
  String lang = hex.substr(4, 4) + hex.substr(0, 4);
  const String key = VersionKeys[index];
  String value;
  if (!AppSystem().VersionString(block, "\\StringFileInfo\\" + lang + key, value)) value = "None";
  return key.substr(1) + " : " + value;
}

std::vector<String> SplitCommandLine(const String& commandLine) {
  std::vector<String> args;
  size_t i = 0;
  const size_t n = commandLine.size();
  bool first = true;
  while (true) {
    while (i < n && static_cast<unsigned char>(commandLine[i]) <= ' ') ++i;
    if (i >= n) break;
    String arg;
    bool quoted = false;
    while (i < n && (quoted || static_cast<unsigned char>(commandLine[i]) > ' ')) {
      if (commandLine[i] == '"')
        quoted = !quoted;
      else
        arg += commandLine[i];
      ++i;
    }
    if (!first) args.push_back(arg);
    first = false;
  }
  return args;
}
