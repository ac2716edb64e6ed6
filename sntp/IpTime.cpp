#include "sntp/IpTime.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "sock/IpWinSock.h"

namespace {

constexpr double kTwoTo32 = 4294967296.0;
constexpr double kSecondsPerDay = 86400.0;
constexpr double kNtpEpoch = 2.0;             // date-time of 1900-01-01 00:00
constexpr size_t kReceiveBufferSize = 65536;  // above the largest UDP payload: no datagram is cut
constexpr size_t kReferenceIdOffset = 12;
constexpr size_t kOriginateOffset = 24;
constexpr size_t kTransmitOffset = 40;

// The words of a timestamp are stored big-endian whatever the host's byte order.
uint32_t FromNetwork(uint32_t stored) {
  uint8_t b[4];
  std::memcpy(b, &stored, 4);
  return uint32_t(b[0]) << 24 | uint32_t(b[1]) << 16 | uint32_t(b[2]) << 8 | uint32_t(b[3]);
}

uint32_t ToNetwork(uint32_t value) {
  const uint8_t b[4] = {uint8_t(value >> 24), uint8_t(value >> 16), uint8_t(value >> 8), uint8_t(value)};
  uint32_t stored;
  std::memcpy(&stored, b, 4);
  return stored;
}

// The low 32 bits of a double truncated toward zero. Values a 64-bit integer cannot hold
// (never a real date) give 0 rather than undefined behaviour.
uint32_t TruncatedLow32(double value) {
  if (!(std::fabs(value) < 9.2e18)) return 0;
  return static_cast<uint32_t>(static_cast<uint64_t>(static_cast<int64_t>(value)));
}

constexpr size_t kPacketSize = sizeof(TIpNTPPacket);

// A reply is the 48-byte message, alone or followed by a key id and an MD5 (16-byte) or
// SHA-1 (20-byte) digest, as a server with symmetric keys sends it. The digest is not
// checked: the client has no key.
bool IsReplyLength(size_t length) {
  return length == kPacketSize || length == kPacketSize + 4 + 16 || length == kPacketSize + 4 + 20;
}

bool IsZero(const uint8_t* bytes, size_t n) {
  for (size_t i = 0; i < n; ++i)
    if (bytes[i]) return false;
  return true;
}

}  // namespace

double NtpStampToSeconds(const TIpNTPTimestamp& stamp) {
  return static_cast<double>(FromNetwork(stamp.Seconds)) + static_cast<double>(FromNetwork(stamp.Fraction)) / kTwoTo32;
}

double DateTimeToNtpSeconds(TDateTime dateTime) { return (dateTime - kNtpEpoch) * kSecondsPerDay; }

TDateTime NtpSecondsToDateTime(double seconds) { return seconds / kSecondsPerDay + kNtpEpoch; }

TIpNTPTimestamp DateTimeToNtpStamp(TDateTime dateTime) {
  const double s = DateTimeToNtpSeconds(dateTime);
  const double whole = std::trunc(s);
  TIpNTPTimestamp stamp;
  stamp.Seconds = ToNetwork(TruncatedLow32(whole));
  stamp.Fraction = ToNetwork(TruncatedLow32((s - whole) * kTwoTo32));
  return stamp;
}

TIpReplyVerdict CheckReply(const uint8_t* bytes, size_t length, const TSockAddrIn& source,
                           const TIpSntpRequest* request) {
  TIpReplyVerdict v;
  v.Length = length;
  if (length > 0) v.Mode = bytes[0] & 7;
  if (length > 1) v.Stratum = bytes[1];
  const bool fromServer =
      !request || (source.sin_addr == request->Server.sin_addr && source.sin_port == request->Server.sin_port);
  const bool echoesStamp =
      !request || (length >= kOriginateOffset + sizeof(TIpNTPTimestamp) &&
                   std::memcmp(bytes + kOriginateOffset, &request->Stamp, sizeof request->Stamp) == 0);
  v.Answer = fromServer && echoesStamp;

  const uint8_t leap = length > 0 ? bytes[0] >> 6 : 0;
  if (!fromServer)
    v.Fault = rfWrongSource;
  else if (length < kPacketSize)
    v.Fault = rfTooShort;
  else if (!IsReplyLength(length))
    v.Fault = rfOversized;
  else if (!echoesStamp)
    v.Fault = rfWrongOrigin;
  else if (v.Mode != 4)
    v.Fault = rfNotServer;
  else if (v.Stratum == 0)
    v.Fault = rfKissOfDeath;
  else if (IsZero(bytes + kTransmitOffset, sizeof(TIpNTPTimestamp)))
    v.Fault = rfNoTransmitTime;
  else if (leap == 3)
    v.Fault = rfLeapAlarm;
  else if (v.Stratum >= 16)
    v.Fault = rfUnsynchronised;

  if (v.Fault == rfKissOfDeath) {
    // The code is four ASCII letters; it may be shorter, padded with zero bytes.
    for (size_t i = 0; i < 4 && bytes[kReferenceIdOffset + i]; ++i) {
      const uint8_t c = bytes[kReferenceIdOffset + i];
      v.KissCode[i] = c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '?';
    }
  }
  return v;
}

TIpReplyVerdict ReadFailedVerdict(int error) {
  TIpReplyVerdict v;
  v.Fault = rfReadFailed;
  v.Answer = true;
  v.ReadError = error;
  return v;
}

String TIpReplyVerdict::Reason() const {
  switch (Fault) {
    case rfNone: return String();
    case rfReadFailed: return Format("read failed (WinSock error %d)", {ReadError});
    case rfWrongSource: return "wrong source (not from the server)";
    case rfTooShort: return Format("too short (%d bytes)", {Length});
    case rfOversized: return Format("oversized (%d bytes)", {Length});
    case rfWrongOrigin: return "wrong origin (not the answer to this request)";
    case rfNotServer: return Format("not a server reply (mode %d)", {Mode});
    case rfKissOfDeath: return KissCode[0] ? "kiss-o'-death " + String(KissCode) : "kiss-o'-death (no code)";
    case rfNoTransmitTime: return "no transmit time";
    case rfLeapAlarm: return "leap indicator 3 (the server's clock is not set)";
    case rfUnsynchronised: return Format("stratum %d (the server is not synchronised)", {Stratum});
  }
  return String();
}

TIpCustomSNTPClient::TIpCustomSNTPClient(TComponent* owner) : TIpCustomClient(owner, nullptr) {
  DefaultPort = NtpPort;
  SetSocketKind(1);
  DataInits().LineTerminator = ltCRLF;
  DataInits().ReceiveBufferSize = 1024;
  FReplyNotice.SetTarget(WindowHandle(), IPM_SNTP_REPLY, 1);
  FPollTimer = Make<TTimer>();
  FPollTimer->SetEnabled(false);
  FPollTimer->SetInterval(0);
  FPollTimer->OnTimer = [this](TObject*) {
    // A timer tick has no caller to hand a failure to: it goes to the application's handler.
    try {
      PollTick();
    } catch (const std::exception& e) {
      HandleException(e);
    }
  };
  FReceiveBuffer.resize(kReceiveBufferSize);
}

TIpCustomSNTPClient::~TIpCustomSNTPClient() {
  if (FPollTimer) {
    FPollTimer->SetEnabled(false);
    FreeOwned(FPollTimer);
    FPollTimer = nullptr;
  }
  try {
    CloseRequestSocket();
  } catch (...) {
    // Without a WinSock table there is nothing left to close.
  }
}

void TIpCustomSNTPClient::SetBroadcastMode(TIpBroadcastMode value) {
  if (value == FBroadcastMode) return;
  FBroadcastMode = value;
  if (value == bmMulticast) PollTick();
}

void TIpCustomSNTPClient::SetPollInterval(int32_t value) {
  if (FBroadcastMode == bmMulticast) return;
  FPollInterval = value;
  // A negative interval means no polling, like 0; the largest periods are capped at what a
  // window timer accepts.
  const int64_t ms = value > 0 ? static_cast<int64_t>(value) * 1000 : 0;
  FPollTimer->SetInterval(static_cast<uint32_t>(ms > 0x7FFFFFFF ? 0x7FFFFFFF : ms));
  FPollTimer->SetEnabled(value > 0);
}

void TIpCustomSNTPClient::CloseRequestSocket() {
  if (FSocket == InvalidSocket) return;
  const TSocket s = FSocket;
  FSocket = InvalidSocket;
  FAwaitingReply = false;
  if (WinSockAccess) WinSockAccess->CloseSocket()(s);
}

void TIpCustomSNTPClient::SendRequest() {
  // A request still waiting for its answer is abandoned: its socket is closed and a reply
  // already read for it is not reported.
  ++FRequestSerial;
  CloseRequestSocket();
  FReplyNotice.Cancel();  // its message, when it comes, finds no reply to report

  const TSocket s = WinSockAccess->Socket()(afInet, sockDgram, ipprotoIp);
  if (s == InvalidSocket) throw Exception("invalid udp socket");
  FSocket = s;
  WinSockAccess->WSAAsyncSelect()(FSocket, WindowHandle(), IPM_SOCKET_EVENT, static_cast<int32_t>(fdRead));

  std::memset(&FServerAddress, 0, sizeof FServerAddress);
  FServerAddress.sin_family = afInet;
  FServerAddress.sin_addr = HostToAddress(FServer);
  const int lookupError = FServerAddress.sin_addr == 0 ? WinSockAccess->WSAGetLastError()() : 0;
  FServerAddress.sin_port = HostToNetShort(NtpPort);

  if (FBroadcastMode == bmMulticast) return;

  if (FServerAddress.sin_addr == 0) {
    // Nothing can answer a request sent to 0.0.0.0: say why instead of waiting for ever.
    const int code = lookupError != 0 ? lookupError : wsahostNotFound;
    CloseRequestSocket();
    NotifyError(s, code, EIpWinSockError(code, "gethostbyname").Message());
    return;
  }

  std::memset(&FPacket, 0, sizeof FPacket);
  FPacket.Flags = 0x1B;  // leap 0, version 3, mode 3 (client)
  FPacket.TransmitTimestamp = DateTimeToNtpStamp(SystemTimeToDateTime(SystemApi().GetSystemTime()));
  FSentStamp = FPacket.TransmitTimestamp;
  FAwaitingReply = true;
  WinSockAccess->SendTo()(FSocket, reinterpret_cast<const char*>(&FPacket), sizeof FPacket, 0,
                          reinterpret_cast<const TSockAddr*>(&FServerAddress), sizeof FServerAddress);
}

void TIpCustomSNTPClient::NotifyRead(TSocket socket) {
  if (socket != FSocket || FSocket == InvalidSocket) {
    TIpCustomClient::NotifyRead(socket);
    return;
  }
  TSockAddrIn from{};
  int fromLength = sizeof from;
  const int length = WinSockAccess->RecvFrom()(FSocket, reinterpret_cast<char*>(FReceiveBuffer.data()),
                                               static_cast<int>(FReceiveBuffer.size()), 0,
                                               reinterpret_cast<TSockAddr*>(&from), &fromLength);
  // Once a reply is on its way to ProcessReply, further datagrams (a duplicate, a replay) are
  // read only to drain the socket.
  if (FReplyNotice.Outstanding()) return;

  TIpReplyVerdict verdict;
  if (length == SocketCallFailed) {
    // Nothing waiting (the event outlived its datagram): keep waiting for the answer.
    const int error = WinSockAccess->WSAGetLastError()();
    if (error == wsaeWouldBlock) return;
    verdict = ReadFailedVerdict(error);
  } else {
    const bool listening = FBroadcastMode == bmMulticast;
    if (!listening && !FAwaitingReply) return;
    const TIpSntpRequest request{FServerAddress, FSentStamp};
    verdict = CheckReply(FReceiveBuffer.data(), static_cast<size_t>(length), from, listening ? nullptr : &request);
    // A datagram that is not the answer (another source, another originate) is a spoof or a
    // stale reply: the answer may still come.
    if (!verdict.Answer) return;
  }
  FAwaitingReply = false;  // a replayed copy of this answer no longer counts
  std::memset(&FPacket, 0, sizeof FPacket);
  if (length > 0) std::memcpy(&FPacket, FReceiveBuffer.data(), std::min(static_cast<size_t>(length), kPacketSize));
  FReply = TIpSntpReply{};
  FReply.Verdict = verdict;
  FReply.ReadTick = SystemApi().GetTickCount();
  FReply.T4 = DateTimeToNtpSeconds(SystemTimeToDateTime(SystemApi().GetSystemTime()));
  FReplyNotice.Request();
}

bool TIpCustomSNTPClient::Dispatch(TMessage& message) {
  if (message.Msg == IPM_SNTP_REPLY) {
    ProcessReply(message);
    message.Result = 0;
    return true;
  }
  return TIpCustomClient::Dispatch(message);
}

void TIpCustomSNTPClient::ProcessReply(TMessage& message) {
  if (message.WParam != 1) return;
  // Only the message posted for a datagram read counts. A stray one, a second one for the same
  // datagram, or one for a reply that a newer request has voided finds no reply pending.
  if (!FReplyNotice.Arrived()) return;
  FReplyNotice.Done();
  ReportReply();
}

void TIpCustomSNTPClient::ReportReply() {
  bool synchronized = false;
  TIpSntpReply& r = FReply;
  r.Stratum = FPacket.Stratum;
  r.T1 = NtpStampToSeconds(FPacket.OriginateTimestamp);
  r.T2 = NtpStampToSeconds(FPacket.ReceiveTimestamp);
  r.T3 = NtpStampToSeconds(FPacket.TransmitTimestamp);
  r.OffsetMs = r.DelayMs = 0;
  if (r.Usable()) {
    // T4 is when the datagram was read, however long the reply then waited to be handled.
    // The time on the network: the whole exchange less the time the server held the request.
    r.DelayMs = ((r.T4 - r.T1) - (r.T3 - r.T2)) * 1000;
    const double offsetSeconds = ((r.T2 - r.T1) + (r.T3 - r.T4)) / 2;
    r.OffsetMs = offsetSeconds * 1000;
    if (FSyncThreshold > 0 && std::fabs(r.OffsetMs) > FSyncThreshold) {
      const double now = DateTimeToNtpSeconds(SystemTimeToDateTime(SystemApi().GetSystemTime()));
      synchronized = SystemApi().SetSystemTime(DateTimeToSystemTime(NtpSecondsToDateTime(now + offsetSeconds))) == 0;
    }
  }
  const uint32_t answered = FRequestSerial;
  // The handlers get a copy: one of them may send a new request, whose reply replaces FReply.
  const TIpSntpReply reply = r;
  if (OnReply) OnReply(this, reply);
  if (OnSNTPTime) OnSNTPTime(this, reply.TransmitUtc(), reply.OffsetMs, reply.DelayMs, reply.Stratum, synchronized);
  // A request the handler has made meanwhile has a socket of its own, maybe with the answered
  // socket's number: it stays open for its answer.
  if (FBroadcastMode == bmUnicast && FRequestSerial == answered) FinishRequest();
}

void TIpCustomSNTPClient::FinishRequest() {
  CloseRequestSocket();
  FPollTimer->SetEnabled(FPollTimer->Interval() != 0);
}

void TIpCustomSNTPClient::PollTick() {
  FPollTimer->SetEnabled(false);
  SendRequest();
}
