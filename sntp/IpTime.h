// The SNTP exchange: the 48-byte NTP message, the conversions between its 64-bit timestamps
// and date-time values, and the client component that sends one request over UDP port 123
// and reports the reply (server time, clock offset, round-trip delay, stratum) through
// OnSNTPTime. The client can set the system clock itself above a threshold and poll on a timer.
#pragma once

#include <cstdint>
#include <vector>

#include "sock/IpClient.h"
#include "toolkit/Timer.h"

// A timestamp as it lies in the packet: both words in network byte order.
#pragma pack(push, 1)
struct TIpNTPTimestamp {
  uint32_t Seconds;   // whole seconds since 1900-01-01 00:00 UTC
  uint32_t Fraction;  // units of 2^-32 s
};

struct TIpNTPPacket {
  uint8_t Flags;  // leap indicator (bits 7-6), version (5-3), mode (2-0)
  uint8_t Stratum;
  uint8_t Poll;
  uint8_t Precision;
  uint32_t RootDelay;
  uint32_t RootDispersion;
  uint32_t ReferenceIdentifier;
  TIpNTPTimestamp ReferenceTimestamp;
  TIpNTPTimestamp OriginateTimestamp;
  TIpNTPTimestamp ReceiveTimestamp;
  TIpNTPTimestamp TransmitTimestamp;
};
#pragma pack(pop)
static_assert(sizeof(TIpNTPTimestamp) == 8);
static_assert(sizeof(TIpNTPPacket) == 48);

// Seconds since 1900 of a stored timestamp; both words are unsigned.
double NtpStampToSeconds(const TIpNTPTimestamp& stamp);
// The stored timestamp of a date-time: both words truncated, only their low 32 bits kept
// (no NTP era handling: from 2036-02-07 06:28:16 on the seconds wrap).
TIpNTPTimestamp DateTimeToNtpStamp(TDateTime dateTime);
double DateTimeToNtpSeconds(TDateTime dateTime);
TDateTime NtpSecondsToDateTime(double seconds);

// Why a datagram read from the request socket cannot be used as the answer.
enum TIpReplyFault : uint8_t {
  rfNone,            // a usable answer
  rfReadFailed,      // the read itself failed: there are no bytes
  rfWrongSource,     // not from the server's address and port
  rfTooShort,        // fewer than 48 bytes
  rfOversized,       // more than 48 bytes, and not 48 followed by a key id and a digest
  rfWrongOrigin,     // does not echo the request's transmit stamp
  rfNotServer,       // a mode other than 4 (server)
  rfKissOfDeath,     // stratum 0: the server refuses; its reference id carries the code
  rfNoTransmitTime,  // the transmit timestamp is zero
  rfLeapAlarm,       // leap indicator 3: the server's clock is not set
  rfUnsynchronised,  // stratum 16 or more
};

struct TIpReplyVerdict {
  TIpReplyFault Fault = rfNone;
  // Comes from the server and echoes the request's stamp, so it is the answer (usable or
  // not). A datagram that is not may be a spoof or a stale reply: a client waiting for the
  // answer drops it and goes on waiting.
  bool Answer = false;
  size_t Length = 0;
  uint8_t Mode = 0;
  uint8_t Stratum = 0;
  char KissCode[5] = {};  // the reference id as text, unprintable bytes as '?'
  int ReadError = 0;

  bool Usable() const { return Fault == rfNone; }
  // What is wrong, in a few words ("kiss-o'-death RATE", "stratum 16 (...)"); empty when usable.
  String Reason() const;
};

// The request a reply has to answer: the server it went to and the transmit stamp it carried.
struct TIpSntpRequest {
  TSockAddrIn Server;
  TIpNTPTimestamp Stamp;
};

// Checks one datagram of `length` bytes that came from `source`. Without a request (a
// listener that sent nothing) any source and originate stamp are taken. The first fault found
// is the verdict, in this order: source, length, originate, mode, kiss-o'-death, transmit
// time, leap indicator, stratum. The kiss-o'-death comes before the transmit time and the leap
// indicator because a refusing server sends it with leap indicator 3 and often without a time.
TIpReplyVerdict CheckReply(const uint8_t* bytes, size_t length, const TSockAddrIn& source,
                           const TIpSntpRequest* request);
// The verdict when recvfrom failed with WinSock error `error`.
TIpReplyVerdict ReadFailedVerdict(int error);

constexpr uint16_t NtpPort = 123;

// Everything about one reply, handed over at once: the checks' verdict, the four stamps of the
// exchange, when the reply was read, and what they give. T1..T4 are seconds since 1900 (UTC):
// the request's transmit stamp as the reply echoes it, the server's receive and transmit
// stamps, and the moment the datagram was read here.
struct TIpSntpReply {
  TIpReplyVerdict Verdict;
  double T1 = 0, T2 = 0, T3 = 0, T4 = 0;
  // GetTickCount when the datagram was read: a user of the server's time adds what has
  // elapsed since, as the reply may wait before it is handled.
  uint32_t ReadTick = 0;
  double OffsetMs = 0;  // the local clock's error: positive when it is behind; 0 when unusable
  double DelayMs = 0;   // the round trip less the server's hold; 0 when unusable
  uint8_t Stratum = 0;

  bool Usable() const { return Verdict.Usable(); }
  // What is wrong with it, in a few words; empty when usable.
  String Reason() const { return Verdict.Reason(); }
  // The server's transmit time (T3) as a UTC date-time.
  TDateTime TransmitUtc() const { return NtpSecondsToDateTime(T3); }
};

enum TIpBroadcastMode : uint8_t { bmUnicast, bmMulticast };

// (Sender, server transmit time as UTC date-time, offset ms, round-trip delay ms, stratum,
// whether the component itself has just set the system clock).
using TIpClientSNTPEvent = std::function<void(TObject* Sender, TDateTime TimeStamp, double LocalOffset,
                                              double RoundTripDelay, uint8_t Stratum, bool Synchronized)>;
// (Sender, the whole reply): raised just before OnSNTPTime, for every reply it reports.
using TIpSntpReplyEvent = std::function<void(TObject* Sender, const TIpSntpReply& Reply)>;

class TIpCustomSNTPClient : public TIpCustomClient {
 public:
  explicit TIpCustomSNTPClient(TComponent* owner);
  ~TIpCustomSNTPClient() override;

  // Opens a request socket (closing one still open) and sends one request to Server. Raises
  // Exception("invalid udp socket") when no socket can be made. A server name that does not
  // resolve is reported through OnError and nothing is sent.
  void SendRequest();

  // The reply being reported (or last reported) through OnReply and OnSNTPTime. It may be
  // applied only when Usable(): mode 4, a transmit stamp, leap indicator not 3, stratum 1 to
  // 15, and 48 bytes long (or 68 or 72 with a key id and digest after them).
  const TIpSntpReply& Reply() const { return FReply; }
  // The open request socket, InvalidSocket when none.
  TSocket RequestSocket() const { return FSocket; }
  const TIpNTPPacket& Packet() const { return FPacket; }

  void NotifyRead(TSocket socket) override;

 protected:
  TIpBroadcastMode BroadcastMode() const { return FBroadcastMode; }
  void SetBroadcastMode(TIpBroadcastMode value);
  int32_t PollInterval() const { return FPollInterval; }
  void SetPollInterval(int32_t value);
  const String& Server() const { return FServer; }
  void SetServer(const String& value) { FServer = value; }
  int32_t SyncThreshold() const { return FSyncThreshold; }
  void SetSyncThreshold(int32_t value) { FSyncThreshold = value; }

  TIpClientSNTPEvent OnSNTPTime;
  TIpSntpReplyEvent OnReply;

  bool Dispatch(TMessage& message) override;
  void ProcessReply(TMessage& message);
  void FinishRequest();
  void PollTick();

 private:
  void CloseRequestSocket();
  // Reports the reply read (offset, delay, OnSNTPTime) and ends its request.
  void ReportReply();

  TIpBroadcastMode FBroadcastMode = bmUnicast;
  int32_t FPollInterval = 0;
  String FServer;
  int32_t FSyncThreshold = 0;
  TTimer* FPollTimer = nullptr;  // owned through the component tree
  TIpNTPPacket FPacket{};
  TSocket FSocket = InvalidSocket;
  TSockAddrIn FServerAddress{};
  // The transmit stamp of the request that is out, as sent; cleared once answered.
  TIpNTPTimestamp FSentStamp{};
  bool FAwaitingReply = false;
  // Counts the requests made, so that the end of a reply's event can tell whether its handler
  // has made a new one (socket numbers do not tell: a closed one is handed out again).
  uint32_t FRequestSerial = 0;
  TIpSntpReply FReply;  // the reply read last: its verdict, T4 and read tick until reported
  // The notice of a reply read for the request that is out and not yet reported
  // (IPM_SNTP_REPLY, WParam 1); a notice that cannot be posted reports the reply at once.
  TWakeUp FReplyNotice{[this] { ReportReply(); }};
  std::vector<uint8_t> FReceiveBuffer;
};

// The client with its properties public.
class TIpSNTPClient : public TIpCustomSNTPClient {
 public:
  using TIpCustomSNTPClient::TIpCustomSNTPClient;

  using TIpCustomSNTPClient::BroadcastMode;
  using TIpCustomSNTPClient::OnReply;
  using TIpCustomSNTPClient::OnSNTPTime;
  using TIpCustomSNTPClient::PollInterval;
  using TIpCustomSNTPClient::Server;
  using TIpCustomSNTPClient::SetBroadcastMode;
  using TIpCustomSNTPClient::SetPollInterval;
  using TIpCustomSNTPClient::SetServer;
  using TIpCustomSNTPClient::SetSyncThreshold;
  using TIpCustomSNTPClient::SyncThreshold;
};
