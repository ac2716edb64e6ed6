#include "base/IpUtils.h"
#include "log/IpLog.h"

TIpDebugLog::TIpDebugLog(TIpLogOwner* owner) : TIpBaseLog(owner) { SetFileName("debug.log"); }

String CompilerName() {
#if defined(__clang__)
  return "Clang " __clang_version__;
#elif defined(__MINGW32__)
  return "MinGW-w64 GCC " __VERSION__;
#elif defined(__GNUC__)
  return "GCC " __VERSION__;
#else
  return "a C++20 compiler";
#endif
}

String OperatingSystemText(const TOsVersionInfo& version) {
  String platform;
  switch (version.PlatformId) {
    case 0: platform = "Win32s on Windows "; break;
    case 1: platform = "Win32 on Windows "; break;
    case 2: platform = "Windows NT "; break;
    default: platform = "Unknown"; break;
  }
  return Format("%s%d.%d %s", {platform, version.MajorVersion, version.MinorVersion, version.CSDVersion});
}

String DebugLogHeader(const TIpLogOwner* owner) {
  String text = String(SComponentSetName) + " " + GetVersionText() + " compiled with " + CompilerName() + "\r\n";
  text += "Operating System : " + OperatingSystemText(QueryOsVersion()) + "\r\n";
  text += "Description : " + (owner ? owner->WinSockDescription() : String()) + "\r\n";
  text += Format("Negotiated Version : $%4.4x", {owner ? owner->WinSockVersion() : 0u}) + "\r\n";
  text += "System Status : " + (owner ? owner->WinSockStatus() : String()) + "\r\n";
  text += String(77, '=') + "\r\n\r\n";
  return text;
}

String LogTimePrefix(int32_t elapsedMs) {
  String text = Format("%07.7d : ", {elapsedMs});
  text.insert(4, 1, '.');
  return text;
}

namespace {

const char* const kTelnetOptions[] = {"transmit binary",
                                      "echo",
                                      "reconnect",
                                      "suppress go-ahead",
                                      "approx msg size",
                                      "status",
                                      "timing mark",
                                      "remote trans & echo",
                                      "output line width",
                                      "output page size",
                                      "output C/R disp",
                                      "output horz tabs",
                                      "output horz tab disp",
                                      "output FF disp",
                                      "output vert tabs",
                                      "output vert tab disp",
                                      "output linefeed disp",
                                      "extended ASCII",
                                      "logout",
                                      "byte macro",
                                      "data entry terminal subcommands",
                                      "SUPDUP",
                                      "SUPDUP output",
                                      "send location",
                                      "terminal type",
                                      "end of record",
                                      "TACACS user ID",
                                      "output marking",
                                      "terminal loc num",
                                      "Telnet3270 Regime",
                                      "X.3-Pad operations",
                                      "negotiate about window size",
                                      "terminal speed",
                                      "toggle flow control",
                                      "line mode",
                                      "X display location",
                                      "environment variables",
                                      "authentication",
                                      "encryption option",
                                      "new environment variables",
                                      "TN3270E",
                                      "XAUTH",
                                      "character set",
                                      "telnet remote serial port (RSP)",
                                      "com port control option",
                                      "telnet suppress local echo",
                                      "telnet start TLS",
                                      "KERMIT",
                                      "SEND-URL",
                                      "FORWARD_X"};

}  // namespace

String TelnetLogText(int32_t socket, uint32_t direction, uint32_t commandAndOption) {
  uint32_t command = (commandAndOption >> 8) & 0xFF, option = commandAndOption & 0xFF;
  String commandText;
  switch (command) {
    case 251: commandText = "WILL"; break;
    case 252: commandText = "WON'T"; break;
    case 253: commandText = "DO"; break;
    case 254: commandText = "DON'T"; break;
    default: commandText = Format("[%d]", {command}); break;
  }
  String optionText = option < std::size(kTelnetOptions) ? String(kTelnetOptions[option]) : Format("[%d]", {option});
  String directionText = direction == 1   ? String("received.")
                         : direction == 2 ? String("sent.")
                                          : Format("[%8.8x]", {direction});
  return Format("[%d] Telnet %s %s %s", {socket, commandText, optionText, directionText});
}
