// The SNTP client against the fake WinSock and the fake platform's virtual clock.
#include <gtest/gtest.h>

#include <cstring>

#include "fakes/FakePlatform.h"
#include "fakes/FakeWinSock.h"
#include "fakes/NtpReplies.h"
#include "sntp/IpTime.h"

namespace {

constexpr uint32_t kServer = 0x3200007F;  // 127.0.0.50, network order
constexpr uint32_t kOther = 0x3300007F;   // 127.0.0.51

struct Report {
  TDateTime TimeStamp;
  double Offset, Delay;
  uint8_t Stratum;
  bool Synchronized, Valid;
};

void PutStamp(std::vector<uint8_t>& bytes, size_t at, double seconds) {
  TIpNTPTimestamp stamp = DateTimeToNtpStamp(NtpSecondsToDateTime(seconds));
  std::memcpy(bytes.data() + at, &stamp, 8);
}

// Puts an exact stamp (whole seconds plus 32-bit fraction) at a byte offset.
void PutRaw(std::vector<uint8_t>& bytes, size_t at, uint32_t seconds, uint32_t fraction) {
  for (int i = 0; i < 4; ++i) {
    bytes[at + i] = uint8_t(seconds >> (24 - 8 * i));
    bytes[at + 4 + i] = uint8_t(fraction >> (24 - 8 * i));
  }
}

class SntpClient : public ::testing::Test {
 protected:
  SntpClient() {
    Ws.Fake.Hosts["ntp.test"] = {kServer};
    Client.SetServer("ntp.test");
    Client.OnSNTPTime = [this](TObject* sender, TDateTime t, double offset, double delay, uint8_t stratum, bool sync) {
      EXPECT_EQ(sender, &Client);
      Reports.push_back({t, offset, delay, stratum, sync, Client.Reply().Usable()});
    };
    Client.OnError = [this](TObject*, uint32_t socket, int code, const String& text) {
      Errors.push_back({socket, code, text});
    };
  }

  TFakeWinSock& Fake() { return Ws.Fake; }
  TFakeWinSock::SocketState& Sock(TSocket s) { return Fake().Sockets.at(s); }

  // The request last sent on a socket.
  std::vector<uint8_t> Request(TSocket s) { return Sock(s).Sent.back().Bytes; }

  // A server reply to the request on socket s: mode 4 version 3, stratum 2, originate echoed,
  // receive and transmit stamps `ahead` seconds after the request's transmit stamp.
  std::vector<uint8_t> Reply(TSocket s, double ahead = 1.0) {
    std::vector<uint8_t> request = Request(s);
    TIpNTPTimestamp sent;
    std::memcpy(&sent, request.data() + 40, 8);
    const TIpNTPTimestamp later = DateTimeToNtpStamp(NtpSecondsToDateTime(NtpStampToSeconds(sent) + ahead));
    return ServerReply(request, later, later);
  }

  // Delivers a datagram to socket s and lets WinSock's read event reach the client.
  void Deliver(TSocket s, std::vector<uint8_t> bytes, uint32_t from = kServer, uint16_t port = 123) {
    Sock(s).Incoming.push_back({std::move(bytes), from, port});
    Platform.Post(Client.WindowHandle(), IPM_SOCKET_EVENT, s, static_cast<int32_t>(fdRead));
    Platform.ProcessMessages();
  }

  TSocket Send() {
    Client.SendRequest();
    return Client.RequestSocket();
  }

  struct Error {
    uint32_t Socket;
    int Code;
    String Text;
  };
  TFakePlatform Platform;
  TFakeWinSockModule Ws;
  TIpSNTPClient Client{nullptr};
  std::vector<Report> Reports;
  std::vector<Error> Errors;
};

TEST_F(SntpClient, IsAUdpClientOnPort123WithItsSettings) {
  EXPECT_EQ(Client.DefaultPort, 123);
  EXPECT_EQ(Client.SocketKind(), 1);
  EXPECT_EQ(Client.SocketType(), sockDgram);
  EXPECT_EQ(Client.DataInits().LineTerminator, ltCRLF);
  EXPECT_EQ(Client.DataInits().ReceiveBufferSize, 1024);
  EXPECT_EQ(Client.BroadcastMode(), bmUnicast);
  EXPECT_EQ(Client.PollInterval(), 0);
  EXPECT_EQ(Client.SyncThreshold(), 0);
  EXPECT_EQ(Client.SocksServer().Port, 1080);
  EXPECT_EQ(Client.RequestSocket(), InvalidSocket);

  TIpSocksServerInfo other;
  other.Address = "proxy";
  other.Password = "pw";
  other.Port = 1081;
  other.SocksVersion = svSocks5;
  other.UserCode = "me";
  Client.SocksServer().Assign(other);
  EXPECT_EQ(Client.SocksServer().Address, "proxy");
  EXPECT_EQ(Client.SocksServer().Password, "pw");
  EXPECT_EQ(Client.SocksServer().Port, 1081);
  EXPECT_EQ(Client.SocksServer().SocksVersion, svSocks5);
  EXPECT_EQ(Client.SocksServer().UserCode, "me");

  // It drives its own datagram sockets and never makes a data socket, so connecting through
  // the client base is refused and leaves no socket behind.
  const size_t open = Fake().Sockets.size();
  try {
    Client.ConnectTo("127.0.0.1:123");
    ADD_FAILURE() << "ConnectTo made a data socket";
  } catch (const EIpWinSockError& e) {
    EXPECT_STREQ(e.what(), "This client makes no data socket");
  }
  EXPECT_EQ(Client.DataSocket(), nullptr);
  EXPECT_EQ(Fake().Sockets.size(), open);
}

TEST_F(SntpClient, RequestIsFortyEightBytesToPort123StampedWithUtcNow) {
  Platform.UtcNow = 45292.0;  // 2024-01-01 00:00:00.000 UTC
  TSocket s = Send();
  ASSERT_NE(s, InvalidSocket);
  EXPECT_EQ(Sock(s).Type, sockDgram);
  EXPECT_EQ(Sock(s).SelectWindow, Client.WindowHandle());
  EXPECT_EQ(Sock(s).SelectMessage, IPM_SOCKET_EVENT);
  EXPECT_EQ(Sock(s).SelectEvents, 1);
  ASSERT_EQ(Sock(s).Sent.size(), 1u);
  EXPECT_EQ(Sock(s).Sent[0].FromAddress, kServer);
  EXPECT_EQ(Sock(s).Sent[0].FromPort, 123);
  std::vector<uint8_t> expected(48, 0);
  expected[0] = 0x1B;
  const uint8_t stamp[8] = {0xE9, 0x3C, 0x7F, 0x00, 0, 0, 0, 0};
  std::copy(stamp, stamp + 8, expected.begin() + 40);
  EXPECT_EQ(Sock(s).Sent[0].Bytes, expected);

  // Milliseconds of the clock reach the fraction.
  Platform.UtcNow = 45292.0 + 0.25 / 86400.0;
  s = Send();
  auto bytes = Request(s);
  EXPECT_EQ(bytes[44], 0x40);
  EXPECT_EQ(bytes[45], 0x00);
  EXPECT_EQ(bytes[43], 0x00);
}

TEST_F(SntpClient, OffsetAndDelayFromFixedStamps) {
  Platform.UtcNow = 45292.0;
  TSocket s = Send();
  const uint32_t t1 = 0xE93C7F00;
  std::vector<uint8_t> r(48, 0);
  r[0] = 0x24;  // version 4, mode 4
  r[1] = 3;
  PutRaw(r, 24, t1, 0);
  PutRaw(r, 32, t1 + 10, 0x20000000);  // T2 = T1 + 10.125
  PutRaw(r, 40, t1 + 10, 0x40000000);  // T3 = T1 + 10.25
  Platform.UtcNow += 0.5 / 86400.0;    // T4 = T1 + 0.5
  Deliver(s, r);
  ASSERT_EQ(Reports.size(), 1u);
  // delay = (T4 - T1) - (T3 - T2): the 125 ms the server held the request are not network
  // time; offset = ((T2 - T1) + (T3 - T4)) / 2
  EXPECT_NEAR(Reports[0].Delay, 375.0, 1e-3);
  EXPECT_NEAR(Reports[0].Offset, 9937.5, 1e-3);
  EXPECT_EQ(Reports[0].Stratum, 3);
  EXPECT_FALSE(Reports[0].Synchronized);
  EXPECT_TRUE(Reports[0].Valid);
  EXPECT_NEAR((Reports[0].TimeStamp - 45292.0) * 86400.0, 10.25, 1e-6);
  EXPECT_TRUE(Platform.SystemTimesSet.empty());  // threshold 0: never set
  EXPECT_TRUE(Sock(s).Closed);
  EXPECT_EQ(Client.RequestSocket(), InvalidSocket);
}

TEST_F(SntpClient, AReplyIsTimedWhenItIsReadNotWhenItIsHandled) {
  TSocket s = Send();
  auto r = Reply(s, 0.0);  // T2 = T3 = T1
  Platform.Advance(250);   // on the network
  Sock(s).Incoming.push_back({r, kServer, 123});
  Client.NotifyRead(s);
  const uint32_t readTick = Platform.Tick;
  Platform.Tick += 3000;  // the message loop was busy
  Platform.UtcNow += 3.0 / 86400.0;
  Platform.ProcessMessages();
  ASSERT_EQ(Reports.size(), 1u);
  EXPECT_NEAR(Reports[0].Delay, 250.0, 0.01);
  EXPECT_NEAR(Reports[0].Offset, -125.0, 0.01);
  EXPECT_EQ(Client.Reply().ReadTick, readTick);
}

TEST_F(SntpClient, SyncThresholdIsStrictlyExceededBeforeTheClockIsSet) {
  Client.SetSyncThreshold(500);
  Platform.UtcNow = 45292.0;
  const uint32_t t1 = 0xE93C7F00;
  auto reply = [&](uint32_t fraction) {
    std::vector<uint8_t> r(48, 0);
    r[0] = 0x1C;
    r[1] = 1;
    PutRaw(r, 24, t1, 0);
    PutRaw(r, 32, t1, fraction);
    PutRaw(r, 40, t1, fraction);
    return r;
  };
  TSocket s = Send();
  Deliver(s, reply(0x80000000));  // offset exactly 500.0 ms
  ASSERT_EQ(Reports.size(), 1u);
  EXPECT_DOUBLE_EQ(Reports[0].Offset, 500.0);
  EXPECT_FALSE(Reports[0].Synchronized);
  EXPECT_TRUE(Platform.SystemTimesSet.empty());

  s = Send();
  Deliver(s, reply(static_cast<uint32_t>(0.500001 * 4294967296.0)));  // 500.001 ms
  ASSERT_EQ(Reports.size(), 2u);
  EXPECT_GT(Reports[1].Offset, 500.0);
  EXPECT_TRUE(Reports[1].Synchronized);
  ASSERT_EQ(Platform.SystemTimesSet.size(), 1u);
  const TSystemTime& st = Platform.SystemTimesSet[0];  // T4 + offset = 00:00:00.500
  EXPECT_EQ(st.wYear, 2024);
  EXPECT_EQ(st.wHour, 0);
  EXPECT_EQ(st.wSecond, 0);
  EXPECT_EQ(st.wMilliseconds, 500);

  // A negative offset counts by its size.
  Client.SetSyncThreshold(100);
  s = Send();
  auto r = reply(0);
  PutRaw(r, 32, t1 - 1, 0);
  PutRaw(r, 40, t1 - 1, 0);
  Deliver(s, r);
  ASSERT_EQ(Reports.size(), 3u);
  EXPECT_DOUBLE_EQ(Reports[2].Offset, -1000.0);
  EXPECT_TRUE(Reports[2].Synchronized);
  ASSERT_EQ(Platform.SystemTimesSet.size(), 2u);
  EXPECT_EQ(Platform.SystemTimesSet[1].wYear, 2023);
  EXPECT_EQ(Platform.SystemTimesSet[1].wSecond, 59);
}

TEST_F(SntpClient, OnlyServerRepliesFromASynchronisedServerAreValid) {
  Client.SetSyncThreshold(1);  // any valid reply here would set the clock
  struct Case {
    uint8_t Flags, Stratum;
    bool ZeroTransmit, Valid;
  };
  const Case cases[] = {
      {0x1C, 2, false, true},  {0x24, 2, false, true},   {0x1C, 1, false, true},  {0x1C, 15, false, true},
      {0x1B, 2, false, false}, {0x1C, 2, true, false},   {0xDC, 2, false, false}, {0x5C, 2, false, true},
      {0x1C, 0, false, false}, {0x1C, 16, false, false}, {0x1D, 2, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "flags " << int(c.Flags) << " stratum " << int(c.Stratum));
    Reports.clear();
    Platform.SystemTimesSet.clear();
    TSocket s = Send();
    auto r = Reply(s, 5.0);
    r[0] = c.Flags;
    r[1] = c.Stratum;
    if (c.ZeroTransmit) std::fill(r.begin() + 40, r.end(), 0);
    Deliver(s, r);
    ASSERT_EQ(Reports.size(), 1u);
    EXPECT_EQ(Reports[0].Valid, c.Valid);
    EXPECT_EQ(Reports[0].Stratum, c.Stratum);
    EXPECT_EQ(Reports[0].Synchronized, c.Valid);
    EXPECT_EQ(Platform.SystemTimesSet.size(), c.Valid ? 1u : 0u);
    if (c.Valid) {
      EXPECT_NEAR(Reports[0].Offset, 5000.0, 1.0);
    } else {
      EXPECT_EQ(Reports[0].Offset, 0.0);
      EXPECT_EQ(Reports[0].Delay, 0.0);
    }
    // The transmit time is reported as it came, valid or not.
    EXPECT_NEAR(Reports[0].TimeStamp, c.ZeroTransmit ? 2.0 : Platform.UtcNow + 5.0 / 86400.0, 1e-8);
    EXPECT_TRUE(Sock(s).Closed);
  }
}

TEST_F(SntpClient, DatagramLongerThanAPacketIsAnInvalidReply) {
  TSocket s = Send();
  auto r = Reply(s);
  r.resize(60, 0xAB);
  Deliver(s, r);
  ASSERT_EQ(Reports.size(), 1u);
  EXPECT_FALSE(Reports[0].Valid);
  EXPECT_EQ(Reports[0].Offset, 0.0);
  EXPECT_EQ(Reports[0].Delay, 0.0);
  EXPECT_EQ(Reports[0].Stratum, 2);
  EXPECT_TRUE(Sock(s).Closed);
}

TEST_F(SntpClient, KeyIdAndDigestAfterThePacketAreReadOtherLengthsAreRefused) {
  // 68 and 72 bytes: the 48 bytes, a key id and an MD5 or SHA-1 digest.
  const std::pair<size_t, bool> cases[] = {{47, false}, {48, true},  {49, false}, {52, false}, {60, false},
                                           {68, true},  {70, false}, {72, true},  {76, false}, {1000, false}};
  for (auto [length, valid] : cases) {
    SCOPED_TRACE(testing::Message() << length << " bytes");
    Reports.clear();
    TSocket s = Send();
    auto r = Reply(s, 2.0);
    r.resize(length, 0x5A);
    Deliver(s, r);
    ASSERT_EQ(Reports.size(), 1u);
    EXPECT_EQ(Reports[0].Valid, valid);
    EXPECT_NEAR(Reports[0].Offset, valid ? 2000.0 : 0.0, 1.0);
    EXPECT_TRUE(Sock(s).Closed);
  }
}

TEST_F(SntpClient, ForeignDatagramsAreDroppedAndTheRealReplyStillCounts) {
  TSocket s = Send();
  auto real = Reply(s, 3.0);
  auto spoofed = Reply(s, 100.0);
  Deliver(s, spoofed, kOther, 123);   // another address
  Deliver(s, spoofed, kServer, 124);  // another port
  auto wrongOriginate = spoofed;
  wrongOriginate[31] ^= 1;
  Deliver(s, wrongOriginate);            // not an answer to our request
  Deliver(s, std::vector<uint8_t>(20));  // too short to carry an originate stamp
  EXPECT_TRUE(Reports.empty());
  EXPECT_FALSE(Sock(s).Closed);
  EXPECT_EQ(Client.RequestSocket(), s);
  EXPECT_TRUE(Sock(s).Incoming.empty());  // each was read off the socket

  Deliver(s, real);
  ASSERT_EQ(Reports.size(), 1u);
  EXPECT_TRUE(Reports[0].Valid);
  EXPECT_NEAR(Reports[0].Offset, 3000.0, 1.0);
  EXPECT_TRUE(Sock(s).Closed);
}

TEST_F(SntpClient, ADuplicateOrReplayedReplyIsNotReportedTwice) {
  TSocket s = Send();
  auto real = Reply(s, 2.0);
  // Both copies are read before the first is processed.
  Sock(s).Incoming.push_back({real, kServer, 123});
  Sock(s).Incoming.push_back({real, kServer, 123});
  Platform.Post(Client.WindowHandle(), IPM_SOCKET_EVENT, s, static_cast<int32_t>(fdRead));
  Platform.Post(Client.WindowHandle(), IPM_SOCKET_EVENT, s, static_cast<int32_t>(fdRead));
  Platform.ProcessMessages();
  ASSERT_EQ(Reports.size(), 1u);
  EXPECT_TRUE(Reports[0].Valid);

  EXPECT_TRUE(Sock(s).Incoming.empty());
}

TEST_F(SntpClient, FailedReadIsAnAllZeroInvalidReplyAndEndsTheRequest) {
  TSocket s = Send();
  Fake().RecvFromError = 10054;
  Deliver(s, Reply(s));
  ASSERT_EQ(Reports.size(), 1u);
  EXPECT_EQ(Reports[0].TimeStamp, 2.0);
  EXPECT_EQ(Reports[0].Offset, 0.0);
  EXPECT_EQ(Reports[0].Delay, 0.0);
  EXPECT_EQ(Reports[0].Stratum, 0);
  EXPECT_FALSE(Reports[0].Synchronized);
  EXPECT_FALSE(Reports[0].Valid);
  EXPECT_TRUE(Sock(s).Closed);
}

TEST_F(SntpClient, ReadEventWithNothingToReadKeepsWaiting) {
  TSocket s = Send();
  Platform.Post(Client.WindowHandle(), IPM_SOCKET_EVENT, s, static_cast<int32_t>(fdRead));
  Platform.ProcessMessages();
  EXPECT_TRUE(Reports.empty());
  EXPECT_FALSE(Sock(s).Closed);
  Deliver(s, Reply(s));
  EXPECT_EQ(Reports.size(), 1u);
}

TEST_F(SntpClient, ReadErrorEventGoesToOnErrorAndTheSocketStays) {
  TSocket s = Send();
  Platform.Post(Client.WindowHandle(), IPM_SOCKET_EVENT, s, static_cast<int32_t>(fdRead | (10054u << 16)));
  Platform.ProcessMessages();
  ASSERT_EQ(Errors.size(), 1u);
  EXPECT_EQ(Errors[0].Code, 10054);
  EXPECT_EQ(Errors[0].Text, "WinSock Error (10054): Connection reset by peer, on API 'Fd_Read'");
  EXPECT_TRUE(Reports.empty());
  EXPECT_FALSE(Sock(s).Closed);
}

TEST_F(SntpClient, ANewRequestClosesTheOneStillWaiting) {
  TSocket first = Send();
  auto late = Reply(first);
  TSocket second = Send();
  EXPECT_NE(first, second);
  EXPECT_TRUE(Sock(first).Closed);
  EXPECT_FALSE(Sock(second).Closed);
  // A late event for the first socket is not the client's reply.
  Deliver(first, late);
  EXPECT_TRUE(Reports.empty());
  EXPECT_EQ(Sock(first).Incoming.size(), 1u);

  // A reply read but not yet processed when a new request goes out is not reported.
  // (The read is made directly so that the new request can come before the message loop runs.)
  Sock(second).Incoming.push_back({Reply(second), kServer, 123});
  Client.NotifyRead(second);
  TSocket third = Send();
  Platform.ProcessMessages();
  EXPECT_TRUE(Reports.empty());
  EXPECT_FALSE(Sock(third).Closed);
  Deliver(third, Reply(third));
  EXPECT_EQ(Reports.size(), 1u);
}

TEST_F(SntpClient, ARequestMadeFromTheReplyEventStaysOpenAndIsAnswered) {
  for (bool reused : {false, true}) {
    SCOPED_TRACE(reused ? "the new socket gets the answered one's number" : "the new socket has a number of its own");
    Reports.clear();
    const TSocket answered = Send();
    TSocket next = InvalidSocket;
    Client.OnSNTPTime = [&](TObject*, TDateTime t, double offset, double delay, uint8_t stratum, bool sync) {
      Reports.push_back({t, offset, delay, stratum, sync, Client.Reply().Usable()});
      if (Reports.size() > 1) return;
      // The platform hands out the number of a closed socket again.
      if (reused) Fake().NextSocket = answered;
      Client.SendRequest();
      next = Client.RequestSocket();
      if (reused) Sock(next).Closed = false;
    };
    Deliver(answered, Reply(answered));
    ASSERT_EQ(Reports.size(), 1u);
    EXPECT_EQ(next == answered, reused);
    EXPECT_EQ(Client.RequestSocket(), next);
    EXPECT_FALSE(Sock(next).Closed);
    Deliver(next, Reply(next, 4.0));
    ASSERT_EQ(Reports.size(), 2u);
    EXPECT_TRUE(Reports[1].Valid);
    EXPECT_NEAR(Reports[1].Offset, 4000.0, 1.0);
    EXPECT_TRUE(Sock(next).Closed);
    EXPECT_EQ(Client.RequestSocket(), InvalidSocket);
  }
}

TEST_F(SntpClient, UnresolvableServerIsReportedAndNothingIsSent) {
  Client.SetServer("nowhere.test");
  TSocket s = Send();
  EXPECT_EQ(s, InvalidSocket);
  ASSERT_EQ(Errors.size(), 1u);
  EXPECT_EQ(Errors[0].Code, 11001);
  EXPECT_EQ(Errors[0].Text, "WinSock Error (11001): Host not found, on API 'gethostbyname'");
  const TSocket made = Fake().NextSocket - 1;
  EXPECT_EQ(Errors[0].Socket, made);
  EXPECT_TRUE(Sock(made).Closed);
  EXPECT_TRUE(Sock(made).Sent.empty());

  // The resolver's own code is passed on; without one the code is 11001.
  Fake().HostLookupError = 11002;
  Send();
  ASSERT_EQ(Errors.size(), 2u);
  EXPECT_EQ(Errors[1].Code, 11002);
  EXPECT_EQ(Errors[1].Text.rfind("WinSock Error (11002): ", 0), 0u);
  EXPECT_NE(Errors[1].Text.find("on API 'gethostbyname'"), String::npos);
  Fake().HostLookupError = 0;
  Fake().WsaLastError = 0;
  Send();
  ASSERT_EQ(Errors.size(), 3u);
  EXPECT_EQ(Errors[2].Code, 11001);
  EXPECT_TRUE(Reports.empty());
}

TEST_F(SntpClient, NoSocketRaisesInvalidUdpSocket) {
  Fake().SocketError = 10024;
  try {
    Client.SendRequest();
    FAIL() << "no exception";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "invalid udp socket");
  }
  EXPECT_EQ(Client.RequestSocket(), InvalidSocket);
}

TEST_F(SntpClient, ReadEventsOfOtherSocketsAndOtherReplyMessagesAreNotReplies) {
  TSocket s = Send();
  Sock(s).Incoming.push_back({Reply(s), kServer, 123});
  Platform.Post(Client.WindowHandle(), IPM_SOCKET_EVENT, s + 50, static_cast<int32_t>(fdRead));
  Platform.Post(Client.WindowHandle(), IPM_SNTP_REPLY, 0, 0);
  Platform.Post(Client.WindowHandle(), IPM_SNTP_REPLY, 2, 0);
  Platform.ProcessMessages();
  EXPECT_TRUE(Reports.empty());
  EXPECT_EQ(Sock(s).Incoming.size(), 1u);
  EXPECT_FALSE(Sock(s).Closed);
}

TEST_F(SntpClient, OnlyADatagramReadForTheRequestIsReportedAndOnlyOnce) {
  auto stray = [&] {
    Platform.Post(Client.WindowHandle(), IPM_SNTP_REPLY, 1, 0);
    Platform.ProcessMessages();
  };
  stray();  // before any request
  EXPECT_TRUE(Reports.empty());

  TSocket s = Send();
  stray();  // a request is out, nothing has been read
  EXPECT_TRUE(Reports.empty());
  EXPECT_FALSE(Sock(s).Closed);

  // A second message for the datagram read, before the first is handled.
  Sock(s).Incoming.push_back({Reply(s, 2.0), kServer, 123});
  Client.NotifyRead(s);
  Platform.Post(Client.WindowHandle(), IPM_SNTP_REPLY, 1, 0);
  Platform.ProcessMessages();
  ASSERT_EQ(Reports.size(), 1u);
  EXPECT_TRUE(Reports[0].Valid);

  stray();  // after the reply was reported
  EXPECT_EQ(Reports.size(), 1u);
}

TEST_F(SntpClient, AReplyWhoseMessageCannotBePostedIsReportedAtOnce) {
  Platform.RefusedPost = IPM_SNTP_REPLY;
  for (double ahead : {2.0, 3.0}) {
    SCOPED_TRACE(ahead);
    Reports.clear();
    TSocket s = Send();
    Deliver(s, Reply(s, ahead));
    ASSERT_EQ(Reports.size(), 1u);
    EXPECT_TRUE(Reports[0].Valid);
    EXPECT_NEAR(Reports[0].Offset, ahead * 1000.0, 1.0);
    EXPECT_TRUE(Sock(s).Closed);
    EXPECT_EQ(Client.RequestSocket(), InvalidSocket);
  }
}

TEST_F(SntpClient, PollTimerSendsOneRequestPerReply) {
  Client.SetPollInterval(60);
  EXPECT_EQ(Client.PollInterval(), 60);
  const size_t before = Fake().Sockets.size();
  Platform.Advance(59999);
  EXPECT_EQ(Fake().Sockets.size(), before);
  Platform.Advance(1);
  ASSERT_EQ(Fake().Sockets.size(), before + 1);
  TSocket s = Client.RequestSocket();
  EXPECT_EQ(Sock(s).Sent.size(), 1u);
  // No reply: polling waits.
  Platform.Advance(180000);
  EXPECT_EQ(Fake().Sockets.size(), before + 1);
  Deliver(s, Reply(s));
  EXPECT_EQ(Reports.size(), 1u);
  Platform.Advance(59999);
  EXPECT_EQ(Fake().Sockets.size(), before + 1);
  Platform.Advance(1);
  EXPECT_EQ(Fake().Sockets.size(), before + 2);

  // 0 stops polling after the request that is out.
  Client.SetPollInterval(0);
  s = Client.RequestSocket();
  Deliver(s, Reply(s));
  Platform.Advance(600000);
  EXPECT_EQ(Fake().Sockets.size(), before + 2);

  // A negative interval never polls, not even once a reply has come.
  Client.SetPollInterval(-5);
  Send();
  Deliver(Client.RequestSocket(), Reply(Client.RequestSocket()));
  Platform.Advance(600000);
  EXPECT_EQ(Fake().Sockets.size(), before + 3);
}

TEST_F(SntpClient, MulticastOpensOneSocketAndTakesEveryDatagram) {
  Client.SetPollInterval(30);
  Client.SetBroadcastMode(bmMulticast);
  ASSERT_EQ(Fake().Sockets.size(), 1u);
  TSocket s = Client.RequestSocket();
  EXPECT_TRUE(Sock(s).Sent.empty());
  Client.SetBroadcastMode(bmMulticast);
  EXPECT_EQ(Fake().Sockets.size(), 1u);
  // The poll timer was stopped and the interval cannot change in this mode.
  Client.SetPollInterval(10);
  EXPECT_EQ(Client.PollInterval(), 30);
  Platform.Advance(120000);
  EXPECT_EQ(Fake().Sockets.size(), 1u);

  std::vector<uint8_t> r(48, 0);
  r[0] = 0x25;  // broadcast mode 5: reported, not valid
  r[1] = 2;
  PutStamp(r, 40, DateTimeToNtpSeconds(Platform.UtcNow));
  Deliver(s, r, kOther, 5000);
  r[0] = 0x24;
  Deliver(s, r, kOther, 5000);
  ASSERT_EQ(Reports.size(), 2u);
  EXPECT_FALSE(Reports[0].Valid);
  EXPECT_TRUE(Reports[1].Valid);
  EXPECT_FALSE(Sock(s).Closed);
}

TEST(SntpClientLifetime, DestroyingTheClientClosesItsRequestSocket) {
  TFakePlatform platform;
  TFakeWinSockModule ws;
  ws.Fake.Hosts["ntp.test"] = {kServer};
  TSocket s;
  {
    TIpSNTPClient client(nullptr);
    client.SetServer("ntp.test");
    client.SetPollInterval(10);
    client.SendRequest();
    s = client.RequestSocket();
    EXPECT_FALSE(ws.Fake.Sockets.at(s).Closed);
  }
  EXPECT_TRUE(ws.Fake.Sockets.at(s).Closed);
  platform.Advance(60000);  // the poll timer went with the client
  EXPECT_EQ(ws.Fake.Sockets.size(), 1u);
}

}  // namespace
