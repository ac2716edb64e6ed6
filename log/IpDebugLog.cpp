#include <algorithm>
#include <cstring>

#include "KairotsuVersion.h"
#include "base/IpUtils.h"
#include "log/IpLog.h"
#include "log/LogFile.h"

namespace {

constexpr uint32_t kFirstScratchSize = 1024;
// The text is written in pieces of about this size: a large ring is never rendered whole.
constexpr size_t kWritePiece = 64 * 1024;

void Put32(uint8_t* at, uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(value >> (8 * i));
}

uint32_t Get32(const uint8_t* at) {
  return uint32_t{at[0]} | uint32_t{at[1]} << 8 | uint32_t{at[2]} << 16 | uint32_t{at[3]} << 24;
}

}  // namespace

TIpDebugLog::TIpDebugLog(TIpLogOwner* owner) : TIpBaseLog(owner), FStartTick(SystemApi().GetTickCount()) {
  SetFileName("debug.log");
}

void TIpDebugLog::SetEnabled(bool value) {
  std::lock_guard guard(FLock);
  if (value) {
    if (!FBuffer) FBuffer = std::make_unique_for_overwrite<uint8_t[]>(FBufferSize);
    if (!FScratch) GrowScratch(kFirstScratchSize);
    TIpBaseLog::SetEnabled(true);
    AddLogEntry(nullptr, 0, deLogEnabled, nullptr, 0);
  } else {
    AddLogEntry(nullptr, 0, deLogDisabled, nullptr, 0);
    TIpBaseLog::SetEnabled(false);
  }
}

uint32_t TIpDebugLog::BufferSize() const {
  std::lock_guard guard(FLock);
  return FBufferSize;
}

void TIpDebugLog::SetBufferSize(uint32_t value) {
  std::lock_guard guard(FLock);
  if (value == FBufferSize) return;
  FBuffer = std::make_unique_for_overwrite<uint8_t[]>(value);  // changes nothing if it fails
  FBufferSize = value;
  FHead = FTail = 0;
}

TIpWriteMode TIpDebugLog::WriteMode() const {
  std::lock_guard guard(FLock);
  return FWriteMode;
}

void TIpDebugLog::SetWriteMode(TIpWriteMode value) {
  std::lock_guard guard(FLock);
  FWriteMode = value;
}

uint32_t TIpDebugLog::Head() const {
  std::lock_guard guard(FLock);
  return FHead;
}

uint32_t TIpDebugLog::Tail() const {
  std::lock_guard guard(FLock);
  return FTail;
}

uint32_t TIpDebugLog::ScratchSize() const {
  std::lock_guard guard(FLock);
  return FScratchSize;
}

void TIpDebugLog::GrowScratch(uint32_t size) {
  if (FScratch && size <= FScratchSize) return;
  FScratch = std::make_unique_for_overwrite<uint8_t[]>(size);
  FScratchSize = size;
}

uint32_t TIpDebugLog::FormatterId(TIpFormatDataEntry formatter) {
  if (!formatter) return 0;
  auto known = std::find(FFormatters.begin(), FFormatters.end(), formatter);
  if (known == FFormatters.end()) known = FFormatters.insert(known, formatter);
  return static_cast<uint32_t>(known - FFormatters.begin()) + 1;
}

uint32_t TIpDebugLog::BufferFree() const {
  std::lock_guard guard(FLock);
  if (FBufferSize == 0) return 0;
  return FTail >= FHead ? FBufferSize - (FTail - FHead) - 1 : FHead - FTail - 1;
}

bool TIpDebugLog::BufferEmpty() const {
  std::lock_guard guard(FLock);
  return FHead == FTail;
}

void TIpDebugLog::ClearBuffer() {
  std::lock_guard guard(FLock);
  FHead = FTail = 0;
}

uint32_t TIpDebugLog::Advance(uint32_t offset, uint32_t count) const {
  return static_cast<uint32_t>((uint64_t{offset} + count) % FBufferSize);
}

void TIpDebugLog::Store(const void* bytes, uint32_t count) {
  auto* from = static_cast<const uint8_t*>(bytes);
  uint32_t first = std::min(count, FBufferSize - FTail);
  std::memcpy(FBuffer.get() + FTail, from, first);
  std::memcpy(FBuffer.get(), from + first, count - first);
  FTail = Advance(FTail, count);
}

void TIpDebugLog::Fetch(void* bytes, uint32_t count) {
  auto* to = static_cast<uint8_t*>(bytes);
  uint32_t first = std::min(count, FBufferSize - FHead);
  std::memcpy(to, FBuffer.get() + FHead, first);
  std::memcpy(to + first, FBuffer.get(), count - first);
  FHead = Advance(FHead, count);
}

void TIpDebugLog::AddLogEntry(TIpFormatDataEntry FormatterClass, int32_t Socket, uint32_t Kind, const void* Data,
                              uint32_t Length) {
  std::lock_guard guard(FLock);
  if (!Enabled()) return;
  uint32_t tick = SystemApi().GetTickCount();
  bool hasData = (Kind & deDataFollows) != 0;
  // In 64 bits, so that a length near 4 GB is not taken for a small entry. The ring holds at
  // most BufferSize - 1 bytes: an entry of BufferSize bytes would make it look empty.
  uint64_t size = hasData ? uint64_t{HeaderSize} + Length : HeaderSize;
  if (!FBuffer || size >= FBufferSize) return;
  TIpLogEntry oldest;
  while (BufferFree() < size)
    if (!GetLogEntry(oldest)) break;
  uint8_t header[HeaderSize];
  Put32(header, FormatterId(FormatterClass));
  Put32(header + 4, tick);
  Put32(header + 8, static_cast<uint32_t>(Socket));
  Put32(header + 12, Kind);
  // A data entry's bytes follow its header; its pointer would not fit 32 bits on every build.
  Put32(header + 16, hasData ? 0 : static_cast<uint32_t>(reinterpret_cast<uintptr_t>(Data)));
  Put32(header + 20, Length);
  Store(header, HeaderSize);
  if (hasData && Length != 0) Store(Data, Length);
}

bool TIpDebugLog::GetLogEntry(TIpLogEntry& entry) {
  std::lock_guard guard(FLock);
  if (FHead == FTail) return false;
  uint8_t header[HeaderSize];
  Fetch(header, HeaderSize);
  uint32_t formatter = Get32(header);
  entry.FormatterClass = formatter != 0 && formatter <= FFormatters.size() ? FFormatters[formatter - 1] : nullptr;
  entry.Tick = Get32(header + 4);
  entry.Socket = static_cast<int32_t>(Get32(header + 8));
  entry.Kind = Get32(header + 12);
  entry.Data = reinterpret_cast<const void*>(static_cast<uintptr_t>(Get32(header + 16)));
  entry.Length = Get32(header + 20);
  if ((entry.Kind & deDataFollows) == 0) return true;
  if (entry.Length <= FBufferSize - FHead) {
    entry.Data = FBuffer.get() + FHead;
    FHead = Advance(FHead, entry.Length);
  } else {  // the data wraps: rejoin it
    GrowScratch(entry.Length);
    Fetch(FScratch.get(), entry.Length);
    entry.Data = FScratch.get();
  }
  return true;
}

String TIpDebugLog::RenderEntry(const TIpLogEntry& entry) const {
  String text;
  if (entry.FormatterClass) {
    entry.FormatterClass(entry.Socket, entry.Kind, entry.Data, entry.Length, text);
    return text;
  }
  // The 32-bit parameter of an entry without data; data entries keep none.
  uint32_t parameter = entry.Kind & deDataFollows ? 0 : static_cast<uint32_t>(reinterpret_cast<uintptr_t>(entry.Data));
  switch (entry.Kind) {
    case deString: return String(static_cast<const char*>(entry.Data), entry.Length);
    case deLogEnabled: return "**** Logging Enabled\r\n";
    case deLogDisabled: return "**** Logging Disabled\r\n";
    case deTelnet: return TelnetLogText(entry.Socket, parameter, entry.Length);
    default:
      return Format("!!!! Unknown log entry : [%d][%8.8x][%8.8x][%8.8x]\r\n",
                    {entry.Socket, entry.Kind, parameter, entry.Length});
  }
}

void TIpDebugLog::WriteDebugLog() {
  std::lock_guard guard(FLock);
  TLogFile file(FileName(), FWriteMode == wmAppend ? TLogFileMode::Append : TLogFileMode::Replace);
  // The text goes out piece by piece, and the ring forgets its entries only once all of it
  // has been written: a full disk leaves every entry buffered for a later attempt, and the
  // file as it was.
  const uint32_t head = FHead;
  const uint64_t start = file.Size();
  try {
    String text = start == 0 ? DebugLogHeader(Owner()) : String();
    TIpLogEntry entry;
    while (GetLogEntry(entry)) {
      text += LogTimePrefix(static_cast<int32_t>(entry.Tick - FStartTick)) + RenderEntry(entry) + "\r\n";
      if (text.size() >= kWritePiece) {
        file.Write(text);
        text.clear();
      }
    }
    file.Write(text);
  } catch (...) {
    FHead = head;  // taking entries out leaves their bytes in place
    try {
      file.Truncate(start);
    } catch (...) {
      // The first failure is the one reported.
    }
    throw;
  }
}

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
  // The component set keeps its own version; the release says which build of the programs wrote
  // the file.
  text += "Release : Kairotsu " KAIROTSU_VERSION_TEXT "\r\n";
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
