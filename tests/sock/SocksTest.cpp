#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "sock/IpSocks.h"

namespace {

String B(std::initializer_list<int> bytes) {
  String s;
  for (int b : bytes) s += static_cast<char>(b);
  return s;
}

String Hex(const String& s) {
  static const char digits[] = "0123456789ABCDEF";
  String out;
  for (char ch : s) {
    auto b = static_cast<uint8_t>(ch);
    if (!out.empty()) out += ' ';
    out += digits[b >> 4];
    out += digits[b & 15];
  }
  return out;
}

// An address or port as a socket address holds it: the bytes in wire order.
uint32_t Net4(int a, int b, int c, int d) {
  uint8_t bytes[4] = {uint8_t(a), uint8_t(b), uint8_t(c), uint8_t(d)};
  uint32_t v;
  std::memcpy(&v, bytes, 4);
  return v;
}
uint16_t Net2(int port) {
  uint8_t bytes[2] = {uint8_t(port >> 8), uint8_t(port)};
  uint16_t v;
  std::memcpy(&v, bytes, 2);
  return v;
}

enum Outcome { Waiting, Granted, Refused };

struct SocksRow {
  const char* Name;
  TIpSocksVersion Version;
  String User;
  String Password;
  String TargetName;          // for SOCKS4a
  std::vector<String> Reads;  // what the proxy sends, read by read
  String Sent;                // everything this side sends, the first request included
  Outcome Result;
  int Code = 0;  // refusal: RefusalCode; granted: the bound port
  String Data = {};
  uint32_t Bound = 0;  // granted: the bound address
  String Text = {};    // refused: the text, when not the proxy's refusal of Code
};

// The target of every row: 192.168.1.20 port 80.
const uint32_t TargetAddress = Net4(192, 168, 1, 20);
const uint16_t TargetPort = Net2(80);

struct Run {
  String Sent, Data;
  int Finished = 0;
  TIpSocksHandshake Handshake;
};

Run Play(const SocksRow& row, const std::vector<String>& reads) {
  Run run{"", "", 0, TIpSocksHandshake(row.Version, row.User, row.Password, TargetAddress, TargetPort, row.TargetName)};
  run.Sent = run.Handshake.Start();
  for (const String& r : reads) {
    TIpSocksStep step = run.Handshake.Receive(r);
    run.Sent += step.Send;
    run.Data += step.Data;
    run.Finished += step.Finished;
  }
  return run;
}

void Check(const SocksRow& row, const Run& run) {
  const TIpSocksHandshake& h = run.Handshake;
  EXPECT_EQ(Hex(run.Sent), Hex(row.Sent));
  EXPECT_EQ(Hex(run.Data), Hex(row.Data));
  EXPECT_EQ(h.Granted(), row.Result == Granted);
  EXPECT_EQ(h.Refused(), row.Result == Refused);
  EXPECT_EQ(h.Done(), row.Result != Waiting);
  EXPECT_EQ(run.Finished, row.Result == Waiting ? 0 : 1);
  if (row.Result == Granted) {
    EXPECT_EQ(h.State(), TIpSocksHandshake::Connected);
    EXPECT_EQ(h.BoundAddress(), row.Bound);
    EXPECT_EQ(h.BoundPort(), Net2(row.Code));
  }
  if (row.Result == Refused) {
    EXPECT_EQ(h.RefusalCode(), row.Code);
    EXPECT_EQ(h.RefusalText(), row.Text.empty() ? "SOCKS request refused - " + std::to_string(row.Code) : row.Text);
  }
}

// Runs the row read by read as given, then with all its reads joined into one, split in two at
// every position and one byte at a time: how the proxy's bytes arrive must not change what is
// sent, decided or handed on.
void RunRow(const SocksRow& row) {
  SCOPED_TRACE(row.Name);
  {
    SCOPED_TRACE("as given");
    Check(row, Play(row, row.Reads));
  }
  String all;
  for (const String& r : row.Reads) all += r;
  {
    SCOPED_TRACE("joined");
    Check(row, Play(row, {all}));
  }
  for (size_t at = 1; at < all.size(); ++at) {
    SCOPED_TRACE("split at " + std::to_string(at));
    Check(row, Play(row, {all.substr(0, at), all.substr(at)}));
  }
  std::vector<String> bytes;
  for (char ch : all) bytes.emplace_back(1, ch);
  SCOPED_TRACE("byte by byte");
  Check(row, Play(row, bytes));
}

// The first requests of the rows.
const String Socks4Abc = B({4, 1, 0, 80, 192, 168, 1, 20, 'a', 'b', 'c', 0});
const String Socks4NoUser = B({4, 1, 0, 80, 192, 168, 1, 20, 0});
const String Greeting5 = B({5, 2, 0, 2});
const String Connect5 = B({5, 1, 0, 1, 192, 168, 1, 20, 0, 80});

const std::vector<SocksRow> Rows = {
    {"socks4 with user abc sends 12 bytes, granted",
     svSocks4,
     "abc",
     "",
     "",
     {B({0, 90, 0x1F, 0x90, 10, 0, 0, 7})},
     Socks4Abc,
     Granted,
     0x1F90,
     "",
     Net4(10, 0, 0, 7)},
    {"socks4 result 91 refused", svSocks4, "abc", "", "", {B({0, 91, 0, 0, 0, 0, 0, 0})}, Socks4Abc, Refused, 91},
    {"socks4 result 92 refused", svSocks4, "", "", "", {B({0, 92, 0, 0, 0, 0, 0, 0})}, Socks4NoUser, Refused, 92},
    {"socks4 grant and the server's greeting in one read",
     svSocks4,
     "abc",
     "",
     "",
     {B({0, 90, 0, 80, 10, 0, 0, 7}) + "220 ready\r\n"},
     Socks4Abc,
     Granted,
     80,
     "220 ready\r\n",
     Net4(10, 0, 0, 7)},
    {"socks4 reply split over two reads, data after it",
     svSocks4,
     "abc",
     "",
     "",
     {B({0, 90, 0, 80}), B({10, 0, 0, 7}), "data"},
     Socks4Abc,
     Granted,
     80,
     "data",
     Net4(10, 0, 0, 7)},
    {"socks4 refusal takes the whole reply",
     svSocks4,
     "",
     "",
     "",
     {B({0, 91, 0, 0}), B({0, 0, 0, 0})},
     Socks4NoUser,
     Refused,
     91},
    {"socks4 refused: later bytes are not read",
     svSocks4,
     "",
     "",
     "",
     {B({0, 91, 0, 0, 0, 0, 0, 0, 0, 90}), B({0, 0, 0, 0, 0, 0}), "data"},
     Socks4NoUser,
     Refused,
     91},
    {"socks4 refusal known from its first two bytes", svSocks4, "", "", "", {B({0, 92})}, Socks4NoUser, Refused, 92},
    {"socks4 reply of a wrong version, an HTTP server",
     svSocks4,
     "",
     "",
     "",
     {"HTTP/1.0 400 Bad Request\r\n\r\n"},
     Socks4NoUser,
     Refused,
     TIpSocksHandshake::BadVersionCode,
     "",
     0,
     "SOCKS reply of wrong version - 72"},
    {"socks4 reply of version 4",
     svSocks4,
     "",
     "",
     "",
     {B({4, 90, 0, 0, 0, 0, 0, 0})},
     Socks4NoUser,
     Refused,
     TIpSocksHandshake::BadVersionCode,
     "",
     0,
     "SOCKS reply of wrong version - 4"},
    {"socks4 no reply yet", svSocks4, "", "", "", {}, Socks4NoUser, Waiting},
    {"socks4a with a dotted target sends the socks4 request",
     svSocks4a,
     "abc",
     "",
     "192.168.1.20",
     {B({0, 90, 0, 80, 192, 168, 1, 20})},
     Socks4Abc,
     Granted,
     80,
     "",
     TargetAddress},
    {"socks4a with a name sends 0.0.0.1 and the name after the user id",
     svSocks4a,
     "abc",
     "",
     "time.example.jp",
     {B({0, 90, 0, 80, 10, 0, 0, 7})},
     B({4, 1, 0, 80, 0, 0, 0, 1, 'a', 'b', 'c', 0}) + "time.example.jp" + B({0}),
     Granted,
     80,
     "",
     Net4(10, 0, 0, 7)},
    {"socks4a with a name and no user id",
     svSocks4a,
     "",
     "",
     "localhost",
     {B({0, 91, 0, 0, 0, 0, 0, 0})},
     B({4, 1, 0, 80, 0, 0, 0, 1, 0}) + "localhost" + B({0}),
     Refused,
     91},
    {"socks4a with a text that only looks dotted sends it as a name",
     svSocks4a,
     "",
     "",
     "192.168.1.256",
     {},
     B({4, 1, 0, 80, 0, 0, 0, 1, 0}) + "192.168.1.256" + B({0}),
     Waiting},
    {"socks4a with a numeric name of three parts sends it as a name",
     svSocks4a,
     "",
     "",
     "192.168.1",
     {},
     B({4, 1, 0, 80, 0, 0, 0, 1, 0}) + "192.168.1" + B({0}),
     Waiting},
    {"socks4a without a name sends the socks4 request", svSocks4a, "", "", "", {}, Socks4NoUser, Waiting},
    {"socks4 ignores the name", svSocks4, "", "", "time.example.jp", {}, Socks4NoUser, Waiting},
    {"socks4 user id ends at its first NUL",
     svSocks4,
     String("ab\0c", 4),
     "",
     "",
     {},
     B({4, 1, 0, 80, 192, 168, 1, 20, 'a', 'b', 0}),
     Waiting},
    {"socks5 without user offers both methods, no authentication",
     svSocks5,
     "",
     "",
     "",
     {B({5, 0}), B({5, 0, 0, 1, 10, 0, 0, 9, 0x04, 0x38})},
     Greeting5 + Connect5,
     Granted,
     0x0438,
     "",
     Net4(10, 0, 0, 9)},
    {"socks5 method 2 without user sends both lengths 0",
     svSocks5,
     "",
     "",
     "",
     {B({5, 2}), B({1, 0}), B({5, 0, 0, 1, 10, 0, 0, 9, 0, 81})},
     Greeting5 + B({1, 0, 0}) + Connect5,
     Granted,
     81,
     "",
     Net4(10, 0, 0, 9)},
    {"socks5 user and password",
     svSocks5,
     "kai",
     "pw",
     "",
     {B({5, 2}), B({1, 0}), B({5, 0, 0, 1, 10, 0, 0, 9, 0, 81})},
     Greeting5 + B({1, 3, 'k', 'a', 'i', 2, 'p', 'w'}) + Connect5,
     Granted,
     81,
     "",
     Net4(10, 0, 0, 9)},
    {"socks5 no acceptable method", svSocks5, "", "", "", {B({5, 255})}, Greeting5, Refused, 255},
    {"socks5 authentication failed",
     svSocks5,
     "kai",
     "no",
     "",
     {B({5, 2}), B({1, 1})},
     Greeting5 + B({1, 3, 'k', 'a', 'i', 2, 'n', 'o'}),
     Refused,
     1},
    {"socks5 connection not allowed by ruleset",
     svSocks5,
     "",
     "",
     "",
     {B({5, 0}), B({5, 2, 0, 1, 0, 0, 0, 0, 0, 0})},
     Greeting5 + Connect5,
     Refused,
     2},
    {"socks5 grant and data in one read",
     svSocks5,
     "",
     "",
     "",
     {B({5, 0}), B({5, 0, 0, 1, 10, 0, 0, 9, 0, 81}) + B({0xFF, 0xFB, 1}) + "login: "},
     Greeting5 + Connect5,
     Granted,
     81,
     B({0xFF, 0xFB, 1}) + "login: ",
     Net4(10, 0, 0, 9)},
    {"socks5 reply with a domain name as bound address, data after it",
     svSocks5,
     "",
     "",
     "",
     {B({5, 0}), B({5, 0, 0, 3, 10}) + "proxy.test" + B({0x12, 0x34}) + "hello"},
     Greeting5 + Connect5,
     Granted,
     0x1234,
     "hello",
     0},
    {"socks5 reply with an empty domain name",
     svSocks5,
     "",
     "",
     "",
     {B({5, 0}), B({5, 0, 0, 3, 0, 0x12, 0x35, 'x'})},
     Greeting5 + Connect5,
     Granted,
     0x1235,
     "x",
     0},
    {"socks5 reply with an IPv6 bound address, data after it",
     svSocks5,
     "",
     "",
     "",
     {B({5, 0}), B({5, 0, 0, 4, 0x20, 1, 0xD, 0xB8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0x04, 0x38}) + "hi"},
     Greeting5 + Connect5,
     Granted,
     0x0438,
     "hi",
     0},
    {"socks5 refusal with an IPv6 address takes the whole reply",
     svSocks5,
     "",
     "",
     "",
     {B({5, 0}), B({5, 5, 0, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0})},
     Greeting5 + Connect5,
     Refused,
     5},
    {"socks5 reply with an unknown address type",
     svSocks5,
     "",
     "",
     "",
     {B({5, 0}), B({5, 0, 0, 2, 1, 2, 3, 4, 5, 6})},
     Greeting5 + Connect5,
     Refused,
     TIpSocksHandshake::BadAddressTypeCode,
     "",
     0,
     "SOCKS reply with unknown address type - 2"},
    {"socks5 refusal of an unknown address type is the proxy's refusal",
     svSocks5,
     "",
     "",
     "",
     {B({5, 0}), B({5, 4, 0, 0})},
     Greeting5 + Connect5,
     Refused,
     4},
    {"socks5 waiting inside a domain name",
     svSocks5,
     "",
     "",
     "",
     {B({5, 0}), B({5, 0, 0, 3, 10}) + "proxy.tes"},
     Greeting5 + Connect5,
     Waiting},
    {"socks5 waiting inside the connect reply",
     svSocks5,
     "",
     "",
     "",
     {B({5, 0}), B({5, 0, 0, 1, 10})},
     Greeting5 + Connect5,
     Waiting},
    {"socks5 method 1 was not offered", svSocks5, "", "", "", {B({5, 1})}, Greeting5, Refused, 1},
    {"socks5 method 3 was not offered, later bytes are not read",
     svSocks5,
     "",
     "",
     "",
     {B({5, 3, 5, 0}), B({5, 0, 0, 1, 1, 2, 3, 4, 0, 1})},
     Greeting5,
     Refused,
     3},
    {"socks5 no acceptable method, later bytes are not read",
     svSocks5,
     "",
     "",
     "",
     {B({5, 255}), B({5, 0, 5, 0, 0, 1, 1, 2, 3, 4, 0, 1})},
     Greeting5,
     Refused,
     255},
    {"socks5 method reply of a wrong version",
     svSocks5,
     "",
     "",
     "",
     {B({4, 0})},
     Greeting5,
     Refused,
     TIpSocksHandshake::BadVersionCode,
     "",
     0,
     "SOCKS reply of wrong version - 4"},
    {"socks5 authentication reply of a wrong version",
     svSocks5,
     "kai",
     "pw",
     "",
     {B({5, 2}), B({2, 0})},
     Greeting5 + B({1, 3, 'k', 'a', 'i', 2, 'p', 'w'}),
     Refused,
     TIpSocksHandshake::BadVersionCode,
     "",
     0,
     "SOCKS reply of wrong version - 2"},
    {"socks5 connect reply of a wrong version",
     svSocks5,
     "",
     "",
     "",
     {B({5, 0}), B({0, 90, 0, 80, 1, 2, 3, 4, 0, 0})},
     Greeting5 + Connect5,
     Refused,
     TIpSocksHandshake::BadVersionCode,
     "",
     0,
     "SOCKS reply of wrong version - 0"},
    {"socks5 refusal known from the connect reply's first two bytes",
     svSocks5,
     "",
     "",
     "",
     {B({5, 0}), B({5, 1})},
     Greeting5 + Connect5,
     Refused,
     1},
    {"socks5 waiting for the connect reply", svSocks5, "", "", "", {B({5, 0})}, Greeting5 + Connect5, Waiting},
};

TEST(SocksHandshake, Exchanges) {
  for (const SocksRow& row : Rows) RunRow(row);
}

TEST(SocksHandshake, LongUserAndPasswordAreCutAt255) {
  String user(300, 'u'), password(256, 'p');
  TIpSocksHandshake h(svSocks5, user, password, TargetAddress, TargetPort);
  h.Start();
  TIpSocksStep step = h.Receive(B({5, 2}));
  ASSERT_EQ(step.Send.size(), 1 + 1 + 255 + 1 + 255u);
  EXPECT_EQ(step.Send.substr(0, 2), B({1, 255}));
  EXPECT_EQ(step.Send.substr(2, 255), String(255, 'u'));
  EXPECT_EQ(step.Send.substr(257, 1), B({255}));
  EXPECT_EQ(step.Send.substr(258), String(255, 'p'));
  EXPECT_EQ(h.State(), TIpSocksHandshake::AuthSent);
}

TEST(SocksHandshake, StagesFollowTheSocketsSocksState) {
  TIpSocksHandshake h(svSocks5, "", "", TargetAddress, TargetPort);
  EXPECT_EQ(h.State(), TIpSocksHandshake::NotStarted);
  EXPECT_FALSE(h.Start().empty());
  EXPECT_EQ(h.State(), TIpSocksHandshake::RequestSent);
  EXPECT_TRUE(h.Start().empty());
  h.Receive(B({5, 2}));
  EXPECT_EQ(h.State(), TIpSocksHandshake::AuthSent);
  h.Receive(B({1, 0}));
  EXPECT_EQ(h.State(), TIpSocksHandshake::ConnectSent);
  EXPECT_FALSE(h.Done());
  h.Receive(B({5, 0, 0, 1, 1, 2, 3, 4, 0, 1}));
  EXPECT_EQ(h.State(), TIpSocksHandshake::Connected);
}

TEST(SocksHandshake, AReplyBeforeStartStartsTheHandshake) {
  TIpSocksHandshake h(svSocks5, "", "", TargetAddress, TargetPort);
  TIpSocksStep step = h.Receive(B({5, 0}));
  EXPECT_EQ(Hex(step.Send), Hex(Greeting5 + Connect5));
  EXPECT_EQ(h.State(), TIpSocksHandshake::ConnectSent);
  EXPECT_TRUE(h.Start().empty());
}

}  // namespace
