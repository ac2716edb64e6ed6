#include "sock/IpSockControl.h"

#include <cstring>

#include "sock/IpConst.h"
#include "toolkit/Application.h"

namespace {
constexpr uint32_t kTimerId = 1;
}

TIpSockControl::TIpSockControl(TComponent* owner) : TIpBaseComponent(owner) {
  FWindow = WindowSystem().CreateMessageWindow([this](TMessage& m) { WndProc(m); });
  FDebugLog = std::make_unique<TIpDebugLog>(this);
  FEventLog = std::make_unique<TIpEventLog>(this);
  FEventLog->SetDateTimeFormat("yyyy.mm.dd hh:nn:ss");
  FEventLog->SetFileName("event.log");
  FDataInits = std::make_unique<TIpDataInits>();
  LocalAddress.sin_family = afInet;
  SetTimerInterval(500);
  StatusKinds = 0x07;
  SetSocketKind(0);
}

TIpSockControl::~TIpSockControl() {
  try {
    SetTimerInterval(0);
  } catch (...) {
  }
  for (auto it = PendingLookups.rbegin(); it != PendingLookups.rend(); ++it) {
    try {
      WinSockAccess->WSACancelAsyncRequest()(*it);
    } catch (...) {
      // A missing library cannot hold a lookup either.
    }
  }
  PendingLookups.clear();
  AttachedWindows.clear();
  FDataInits.reset();
  FEventLog.reset();
  FDebugLog.reset();
  FWindow.reset();
}

void TIpSockControl::FormatDataEntry(int32_t Socket, uint32_t Kind, const void* Data, uint32_t Length, String& Text) {
  TIpBaseComponent::FormatDataEntry(Socket, Kind, Data, Length, Text);
}

void TIpSockControl::SetTimerInterval(uint32_t value) {
  if (value == FTimerInterval) return;
  FTimerInterval = value;
  FWindow->KillTimer(kTimerId);
  if (value != 0) {
    if (!FWindow->SetTimer(kTimerId, value)) throw EOutOfResources(SNoTimers);
    FLastTick = SystemApi().GetTickCount();
  }
}

uint32_t TIpSockControl::HostToNetLong(uint32_t x) { return WinSockAccess->Htonl()(x); }
uint16_t TIpSockControl::HostToNetShort(uint16_t x) { return WinSockAccess->Htons()(x); }
uint32_t TIpSockControl::NetToHostLong(uint32_t x) { return WinSockAccess->Ntohl()(x); }
uint16_t TIpSockControl::NetToHostShort(uint16_t x) { return WinSockAccess->Ntohs()(x); }

uint32_t TIpSockControl::HostToAddress(const String& host) {
  return HostEntAddress(WinSockAccess->GetHostByName()(host.c_str()), 0);
}

uint32_t TIpSockControl::TextToAddress(const String& text) {
  char buffer[16] = {};
  std::memcpy(buffer, text.data(), text.size() < 15 ? text.size() : 15);
  return WinSockAccess->InetAddr()(buffer);
}

String TIpSockControl::AddressToText(uint32_t address) {
  const char* text = WinSockAccess->InetNtoa()(address);
  return text ? String(text) : String();
}

uint32_t TIpSockControl::HostEntAddress(const THostEnt* entry, int index) {
  if (!entry) return 0;
  if (index < 0 || (index != 0 && index >= HostEntAddressCount(entry))) throw EIpIndexError();
  // An entry whose address list is empty has no first address: treat it as not found
  // instead of reading through the empty slot.
  if (!entry->h_addr_list || !entry->h_addr_list[index]) return 0;
  uint32_t address;
  std::memcpy(&address, entry->h_addr_list[index], sizeof address);
  return address;
}

int TIpSockControl::HostEntAddressCount(const THostEnt* entry) {
  if (!entry || !entry->h_addr_list) return 0;
  for (int i = 0; i < 256; ++i)
    if (!entry->h_addr_list[i]) return i;
  return 0;
}

String TIpSockControl::HostEntName(const THostEnt* entry) {
  return entry && entry->h_name ? String(entry->h_name) : String();
}

uint16_t TIpSockControl::ServEntPort(const TServEnt* entry) {
  return entry ? NetToHostShort(static_cast<uint16_t>(entry->s_port)) : 0;
}

String TIpSockControl::ServEntName(const TServEnt* entry) {
  return entry && entry->s_name ? String(entry->s_name) : String();
}

String TIpSockControl::WinSockDescription() const { return WinSockAccess ? WinSockAccess->WsaData.szDescription : ""; }
String TIpSockControl::WinSockStatus() const { return WinSockAccess ? WinSockAccess->WsaData.szSystemStatus : ""; }
uint16_t TIpSockControl::WinSockVersion() const { return WinSockAccess ? WinSockAccess->WsaData.wVersion : 0; }

TSocket TIpSockControl::CreateSocket() {
  throw EIpProgrammerError();  // abstract here: a plain control has no socket objects
}

void TIpSockControl::FreeSocket(TSocket) { throw EIpProgrammerError(); }

void TIpSockControl::SetSocketKind(uint8_t kind) {
  if (IsActive()) throw EIpActiveError();
  FSocketKind = kind;
  if (kind == 0) {
    FProtocolName = "tcp";
    FSocketType = sockStream;
  } else if (kind == 1) {
    FProtocolName = "udp";
    FSocketType = sockDgram;
  }
}

void TIpSockControl::DoLookupAddress(uintptr_t, uint32_t) {}

void TIpSockControl::NotifyError(TSocket socket, int errCode, const String& errStr) {
  if (OnError) OnError(this, socket, errCode, errStr);
}

void TIpSockControl::NotifyErrorReply(uintptr_t handle, int errCode, const String& errStr) {
  if (OnErrorReply) OnErrorReply(this, static_cast<uint32_t>(handle), errCode, errStr);
}

void TIpSockControl::DoIdleTimeout(TSocket, bool&) {}
void TIpSockControl::DoItemSent(TSocket, int, int) {}
void TIpSockControl::DoLookupName(uintptr_t, const String&) {}
void TIpSockControl::DoLookupPort(uintptr_t, uint16_t) {}
void TIpSockControl::DoReadLine(TSocket, const String&) {}
void TIpSockControl::DoLookupService(uintptr_t, const String&) {}
void TIpSockControl::DoStatus(TSocket, uint8_t) {}
void TIpSockControl::NotifyAccept(TSocket) {}

void TIpSockControl::NotifyClose(TSocket socket) {
  if (TIpSocket* s = FindSocket(socket, false)) {
    s->HandleClose();
    FreeSocket(socket);
  }
}

void TIpSockControl::NotifyConnect(TSocket socket) {
  if (TIpSocket* s = FindSocket(socket, false)) s->HandleConnect();
}

void TIpSockControl::NotifyOutOfBand(TSocket socket) {
  if (TIpSocket* s = FindSocket(socket, false)) s->HandleOutOfBand();
}

void TIpSockControl::NotifyRead(TSocket socket) {
  if (TIpSocket* s = FindSocket(socket, false)) s->HandleRead();
}

void TIpSockControl::NotifyWrite(TSocket socket) {
  if (TIpSocket* s = FindSocket(socket, false)) s->HandleWrite();
}

void TIpSockControl::DoTimer() {
  uint32_t now = SystemApi().GetTickCount();
  uint32_t elapsed = now < FLastTick ? (0xFFFFFFFFu - FLastTick) + now : now - FLastTick;
  FLastTick = now;
  TimerElapsed(elapsed);
}

void TIpSockControl::TimerElapsed(uint32_t) {}

TIpSocket* TIpSockControl::FindSocket(TSocket, bool raiseIfMissing) {
  if (raiseIfMissing) throw EIpNoSocketError();
  return nullptr;
}

void TIpSockControl::HandleException(const std::exception& e) {
  if (Application) Application->HandleException(this, e);
}

void TIpSockControl::WndProc(TMessage& message) {
  if (message.Msg == wmTimer) {
    try {
      DoTimer();
    } catch (const std::exception& e) {
      SetTimerInterval(0);
      HandleException(e);
    }
    return;
  }
  if (message.Msg == wmQueryEndSession) {
    try {
      message.Result = 1;
    } catch (const std::exception& e) {
      HandleException(e);
    }
    return;
  }
  if (!Dispatch(message)) message.Result = 0;
}

bool TIpSockControl::Dispatch(TMessage& message) {
  switch (message.Msg) {
    case IPM_SOCKET_EVENT: SocketEvent(message); return true;
    case IPM_SOCKET_FREE: FreeSocket(static_cast<TSocket>(message.WParam)); return true;
    case IPM_SEND_WINDOW_SIZE:
      if (TIpSocket* s = FindSocket(static_cast<TSocket>(message.WParam), false)) s->SendWindowSize();
      return true;
    default: return false;
  }
}

void TIpSockControl::SocketEvent(TMessage& message) {
  const TSocket socket = static_cast<TSocket>(message.WParam);
  const uint32_t lparam = static_cast<uint32_t>(message.LParam);
  const int error = static_cast<int>(lparam >> 16);
  const uint32_t event = lparam & 0xFFFF;
  try {
    if (error != 0) {
      NotifyError(socket, error, Format(SWinSockErrorFormat, {error, ErrorText(error), EventName(event)}));
      if (event == fdClose) NotifyClose(socket);
    } else {
      switch (event) {
        case fdRead: NotifyRead(socket); break;
        case fdWrite: NotifyWrite(socket); break;
        case fdOob: NotifyOutOfBand(socket); break;
        case fdAccept: NotifyAccept(socket); break;
        case fdConnect: NotifyConnect(socket); break;
        case fdClose: NotifyClose(socket); break;
        default: break;
      }
    }
  } catch (const EIpWinSockError& e) {
    NotifyError(socket, e.ErrorCode(), e.Message());
  } catch (const std::exception& e) {
    HandleException(e);
  }
  message.Result = 0;
}

void TIpSockControl::AttachWindow(THandle wnd) { AttachedWindows.push_back(wnd); }

void TIpSockControl::DetachWindow(THandle wnd) {
  for (auto it = AttachedWindows.begin(); it != AttachedWindows.end(); ++it)
    if (*it == wnd) {
      AttachedWindows.erase(it);
      return;
    }
}
