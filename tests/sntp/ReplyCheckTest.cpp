// The checks of a datagram read as the answer to a request: bytes in, verdict out.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "sntp/IpTime.h"

namespace {

constexpr uint32_t kServer = 0x3200007F;  // 127.0.0.50, network order
constexpr uint32_t kOther = 0x3300007F;   // 127.0.0.51

// A port number as it lies in a socket address: network byte order.
uint16_t Port(uint16_t n) {
  const uint8_t b[2] = {uint8_t(n >> 8), uint8_t(n)};
  uint16_t stored;
  std::memcpy(&stored, b, 2);
  return stored;
}
const uint16_t kPort123 = Port(123);
const uint16_t kPort124 = Port(124);

TSockAddrIn Address(uint32_t address, uint16_t port) {
  TSockAddrIn a{};
  a.sin_family = afInet;
  a.sin_addr = address;
  a.sin_port = port;
  return a;
}

// A usable answer to a request stamped 0xE93C7F00.40000000: mode 4 version 3, stratum 2.
std::vector<uint8_t> GoodReply() {
  std::vector<uint8_t> r(48, 0);
  r[0] = 0x1C;
  r[1] = 2;
  const uint8_t originate[8] = {0xE9, 0x3C, 0x7F, 0x00, 0x40, 0, 0, 0};
  const uint8_t later[8] = {0xE9, 0x3C, 0x7F, 0x01, 0, 0, 0, 0};
  std::memcpy(&r[24], originate, 8);
  std::memcpy(&r[32], later, 8);
  std::memcpy(&r[40], later, 8);
  return r;
}

TIpSntpRequest Sent() {
  TIpSntpRequest request{};
  request.Server = Address(kServer, kPort123);
  const uint8_t stamp[8] = {0xE9, 0x3C, 0x7F, 0x00, 0x40, 0, 0, 0};
  std::memcpy(&request.Stamp, stamp, 8);
  return request;
}

using Shape = std::function<void(std::vector<uint8_t>&)>;
Shape Length(size_t n) {
  return [n](std::vector<uint8_t>& r) { r.resize(n, 0x5A); };
}
Shape Byte(size_t at, uint8_t value) {
  return [at, value](std::vector<uint8_t>& r) { r[at] = value; };
}
Shape Kiss(const char* code, uint8_t flags = 0x1C) {
  return [code, flags](std::vector<uint8_t>& r) {
    r[0] = flags;
    r[1] = 0;
    std::memcpy(&r[12], code, 4);
  };
}
Shape Both(Shape a, Shape b) {
  return [a, b](std::vector<uint8_t>& r) {
    a(r);
    b(r);
  };
}
const Shape kNone = [](std::vector<uint8_t>&) {};
const Shape kNoTransmit = [](std::vector<uint8_t>& r) { std::fill(r.begin() + 40, r.begin() + 48, 0); };

TEST(ReplyCheck, EveryReasonFromTheBytes) {
  struct Case {
    const char* What;
    Shape Change;
    TSockAddrIn Source;
    bool Listening;  // nothing was sent: any source and originate
    TIpReplyFault Fault;
    bool Answer;
    const char* Reason;
  };
  const TSockAddrIn server = Address(kServer, kPort123);
  const Case cases[] = {
      {"usable", kNone, server, false, rfNone, true, ""},
      {"version 4", Byte(0, 0x24), server, false, rfNone, true, ""},
      {"leap indicator 1", Byte(0, 0x5C), server, false, rfNone, true, ""},
      {"stratum 15", Byte(1, 15), server, false, rfNone, true, ""},
      {"key id and MD5 digest", Length(68), server, false, rfNone, true, ""},
      {"key id and SHA-1 digest", Length(72), server, false, rfNone, true, ""},
      {"another address", kNone, Address(kOther, kPort123), false, rfWrongSource, false,
       "wrong source (not from the server)"},
      {"another port", kNone, Address(kServer, kPort124), false, rfWrongSource, false,
       "wrong source (not from the server)"},
      {"another originate", Byte(31, 1), server, false, rfWrongOrigin, false,
       "wrong origin (not the answer to this request)"},
      {"47 bytes", Length(47), server, false, rfTooShort, true, "too short (47 bytes)"},
      {"too short for an originate", Length(31), server, false, rfTooShort, false, "too short (31 bytes)"},
      {"empty", Length(0), server, false, rfTooShort, false, "too short (0 bytes)"},
      {"a key id alone", Length(52), server, false, rfOversized, true, "oversized (52 bytes)"},
      {"60 bytes", Length(60), server, false, rfOversized, true, "oversized (60 bytes)"},
      {"oversized, another originate", Both(Length(60), Byte(31, 1)), server, false, rfOversized, false,
       "oversized (60 bytes)"},
      {"client mode", Byte(0, 0x1B), server, false, rfNotServer, true, "not a server reply (mode 3)"},
      {"broadcast mode", Byte(0, 0x25), server, false, rfNotServer, true, "not a server reply (mode 5)"},
      {"no transmit time", kNoTransmit, server, false, rfNoTransmitTime, true, "no transmit time"},
      {"leap indicator 3", Byte(0, 0xDC), server, false, rfLeapAlarm, true,
       "leap indicator 3 (the server's clock is not set)"},
      {"kiss RATE", Kiss("RATE"), server, false, rfKissOfDeath, true, "kiss-o'-death RATE"},
      {"kiss DENY with leap 3 and no transmit time", Both(Kiss("DENY", 0xDC), kNoTransmit), server, false,
       rfKissOfDeath, true, "kiss-o'-death DENY"},
      {"kiss code with unprintable bytes",
       Kiss("R\x01\x7F"
            "E"),
       server, false, rfKissOfDeath, true, "kiss-o'-death R??E"},
      {"kiss without a code", Kiss("\0\0\0\0"), server, false, rfKissOfDeath, true, "kiss-o'-death (no code)"},
      {"stratum 16", Byte(1, 16), server, false, rfUnsynchronised, true, "stratum 16 (the server is not synchronised)"},
      {"client mode and stratum 0", Both(Byte(0, 0x1B), Byte(1, 0)), server, false, rfNotServer, true,
       "not a server reply (mode 3)"},
      {"listening: any source", kNone, Address(kOther, kPort124), true, rfNone, true, ""},
      {"listening: any originate", Byte(31, 1), server, true, rfNone, true, ""},
      {"listening: still mode 4 only", Byte(0, 0x25), Address(kOther, kPort124), true, rfNotServer, true,
       "not a server reply (mode 5)"},
  };
  const TIpSntpRequest sent = Sent();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.What);
    std::vector<uint8_t> bytes = GoodReply();
    c.Change(bytes);
    const TIpReplyVerdict v = CheckReply(bytes.data(), bytes.size(), c.Source, c.Listening ? nullptr : &sent);
    EXPECT_EQ(v.Fault, c.Fault);
    EXPECT_EQ(v.Usable(), c.Fault == rfNone);
    EXPECT_EQ(v.Answer, c.Answer);
    EXPECT_EQ(v.Reason(), c.Reason);
  }
}

TEST(ReplyCheck, AFailedReadIsItsOwnReason) {
  const TIpReplyVerdict v = ReadFailedVerdict(10054);
  EXPECT_EQ(v.Fault, rfReadFailed);
  EXPECT_FALSE(v.Usable());
  EXPECT_EQ(v.Reason(), "read failed (WinSock error 10054)");
}

}  // namespace
