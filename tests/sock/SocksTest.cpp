#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "fakes/ByteText.h"
#include "sock/IpSocks.h"

namespace {

// Bytes as hex pairs, with text between single quotes: "05 00 'hello' 0D 0A".
String H(const char* notation) {
  String out;
  for (const char* p = notation; *p;) {
    if (*p == ' ') {
      ++p;
    } else if (*p == '\'') {
      const char* end = std::strchr(p + 1, '\'');
      out.append(p + 1, end);
      p = end + 1;
    } else {
      out += static_cast<char>(std::stoi(String(p, 2), nullptr, 16));
      p += 2;
    }
  }
  return out;
}

// The target of every row, 192.168.1.20 port 80, as a socket address holds it.
uint32_t TargetAddress() {
  uint32_t v;
  std::memcpy(&v, H("C0 A8 01 14").data(), 4);
  return v;
}
uint16_t TargetPort() {
  uint16_t v;
  std::memcpy(&v, H("00 50").data(), 2);
  return v;
}

enum Outcome { Waiting, Granted, Refused };

struct SocksRow {
  const char* Name;
  TIpSocksVersion Version;
  String User, Password, TargetName;
  std::vector<const char*> Reads;  // what the proxy sends, read by read
  String Sent;                     // everything this side sends, the first request included
  Outcome Result;
  int Code = 0;            // refused: RefusalCode
  const char* Bound = "";  // granted: the bound address and port as the reply carried them
  const char* Data = "";   // handed on as data
  const char* Text = "";   // refused: the text, when not the proxy's refusal of Code
};

struct Run {
  String Sent, Data;
  int Finished = 0;
  TIpSocksHandshake Handshake;
};

Run Play(const SocksRow& row, const std::vector<String>& reads) {
  Run run{"", "", 0,
          TIpSocksHandshake(row.Version, row.User, row.Password, TargetAddress(), TargetPort(), row.TargetName)};
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
  EXPECT_EQ(Hex(run.Data), Hex(H(row.Data)));
  EXPECT_EQ(h.Granted(), row.Result == Granted);
  EXPECT_EQ(h.Refused(), row.Result == Refused);
  EXPECT_EQ(h.Done(), row.Result != Waiting);
  EXPECT_EQ(run.Finished, row.Result == Waiting ? 0 : 1);  // reported once
  if (row.Result == Granted) {
    EXPECT_EQ(h.State(), TIpSocksHandshake::Connected);
    uint32_t address = h.BoundAddress();
    uint16_t port = h.BoundPort();
    String bound(reinterpret_cast<const char*>(&address), 4);
    bound.append(reinterpret_cast<const char*>(&port), 2);
    EXPECT_EQ(Hex(bound), Hex(H(row.Bound)));
  }
  if (row.Result == Refused) {
    EXPECT_EQ(h.RefusalCode(), row.Code);
    EXPECT_EQ(h.RefusalText(), *row.Text ? String(row.Text) : "SOCKS request refused - " + std::to_string(row.Code));
  }
}

// Runs the row read by read as given, then with all its reads joined into one, split in two at
// every position and one byte at a time: how the proxy's bytes arrive must not change what is
// sent, decided or handed on.
void RunRow(const SocksRow& row) {
  SCOPED_TRACE(row.Name);
  std::vector<String> reads;
  String all;
  for (const char* r : row.Reads) {
    reads.push_back(H(r));
    all += reads.back();
  }
  {
    SCOPED_TRACE("as given");
    Check(row, Play(row, reads));
  }
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

// The requests of the rows.
const String S4abc = H("04 01 00 50 C0 A8 01 14 'abc' 00");
const String S4 = H("04 01 00 50 C0 A8 01 14 00");
const String G5 = H("05 02 00 02");
const String C5 = H("05 01 00 01 C0 A8 01 14 00 50");
const String Kai5 = H("01 03 'kai' 02 'pw'");
const int BadVersion = TIpSocksHandshake::BadVersionCode;

// clang-format off
const std::vector<SocksRow> Rows = {
  // SOCKS4 and 4a
  {"socks4 with user abc sends 12 bytes, granted", svSocks4, "abc", "", "",
   {"00 5A 1F 90 0A 00 00 07"}, S4abc, Granted, 0, "0A 00 00 07 1F 90"},
  {"socks4 result 91 refused", svSocks4, "abc", "", "", {"00 5B 00 00 00 00 00 00"}, S4abc, Refused, 91},
  {"socks4 result 92 refused", svSocks4, "", "", "", {"00 5C 00 00 00 00 00 00"}, S4, Refused, 92},
  {"socks4 grant and the server's greeting in one read", svSocks4, "abc", "", "",
   {"00 5A 00 50 0A 00 00 07 '220 ready' 0D 0A"}, S4abc, Granted, 0, "0A 00 00 07 00 50", "'220 ready' 0D 0A"},
  {"socks4 reply split over two reads, data after it", svSocks4, "abc", "", "",
   {"00 5A 00 50", "0A 00 00 07", "'data'"}, S4abc, Granted, 0, "0A 00 00 07 00 50", "'data'"},
  {"socks4 refusal takes the whole reply", svSocks4, "", "", "", {"00 5B 00 00", "00 00 00 00"}, S4, Refused, 91},
  {"socks4 refused: later bytes are not read", svSocks4, "", "", "",
   {"00 5B 00 00 00 00 00 00 00 5A", "00 00 00 00 00 00", "'data'"}, S4, Refused, 91},
  {"socks4 refusal known from its first two bytes", svSocks4, "", "", "", {"00 5C"}, S4, Refused, 92},
  {"socks4 reply of a wrong version, an HTTP server", svSocks4, "", "", "",
   {"'HTTP/1.0 400 Bad Request' 0D 0A 0D 0A"}, S4, Refused, BadVersion, "", "",
   "SOCKS reply of wrong version - 72"},
  {"socks4 reply of version 4", svSocks4, "", "", "", {"04 5A 00 00 00 00 00 00"}, S4, Refused, BadVersion, "", "",
   "SOCKS reply of wrong version - 4"},
  {"socks4 no reply yet", svSocks4, "", "", "", {}, S4, Waiting},
  {"socks4 ignores the name", svSocks4, "", "", "time.example.jp", {}, S4, Waiting},
  {"socks4 user id ends at its first NUL", svSocks4, String("ab\0c", 4), "", "", {},
   H("04 01 00 50 C0 A8 01 14 'ab' 00"), Waiting},
  {"socks4a with a dotted target sends the socks4 request", svSocks4a, "abc", "", "192.168.1.20",
   {"00 5A 00 50 C0 A8 01 14"}, S4abc, Granted, 0, "C0 A8 01 14 00 50"},
  {"socks4a with a name sends 0.0.0.1 and the name after the user id", svSocks4a, "abc", "", "time.example.jp",
   {"00 5A 00 50 0A 00 00 07"}, H("04 01 00 50 00 00 00 01 'abc' 00 'time.example.jp' 00"), Granted, 0,
   "0A 00 00 07 00 50"},
  {"socks4a with a name and no user id", svSocks4a, "", "", "localhost", {"00 5B 00 00 00 00 00 00"},
   H("04 01 00 50 00 00 00 01 00 'localhost' 00"), Refused, 91},
  {"socks4a with a text that only looks dotted sends it as a name", svSocks4a, "", "", "192.168.1.256", {},
   H("04 01 00 50 00 00 00 01 00 '192.168.1.256' 00"), Waiting},
  {"socks4a with a numeric name of three parts sends it as a name", svSocks4a, "", "", "192.168.1", {},
   H("04 01 00 50 00 00 00 01 00 '192.168.1' 00"), Waiting},
  {"socks4a without a name sends the socks4 request", svSocks4a, "", "", "", {}, S4, Waiting},

  // SOCKS5: methods and authentication
  {"socks5 without user offers both methods, no authentication", svSocks5, "", "", "",
   {"05 00", "05 00 00 01 0A 00 00 09 04 38"}, G5 + C5, Granted, 0, "0A 00 00 09 04 38"},
  {"socks5 method 2 without user sends both lengths 0", svSocks5, "", "", "",
   {"05 02", "01 00", "05 00 00 01 0A 00 00 09 00 51"}, G5 + H("01 00 00") + C5, Granted, 0, "0A 00 00 09 00 51"},
  {"socks5 user and password", svSocks5, "kai", "pw", "",
   {"05 02", "01 00", "05 00 00 01 0A 00 00 09 00 51"}, G5 + Kai5 + C5, Granted, 0, "0A 00 00 09 00 51"},
  {"socks5 no acceptable method", svSocks5, "", "", "", {"05 FF"}, G5, Refused, 255},
  {"socks5 no acceptable method, later bytes are not read", svSocks5, "", "", "",
   {"05 FF", "05 00 05 00 00 01 01 02 03 04 00 01"}, G5, Refused, 255},
  {"socks5 method 1 was not offered", svSocks5, "", "", "", {"05 01"}, G5, Refused, 1},
  {"socks5 method 3 was not offered, later bytes are not read", svSocks5, "", "", "",
   {"05 03 05 00", "05 00 00 01 01 02 03 04 00 01"}, G5, Refused, 3},
  {"socks5 method reply of a wrong version", svSocks5, "", "", "", {"04 00"}, G5, Refused, BadVersion, "", "",
   "SOCKS reply of wrong version - 4"},
  {"socks5 authentication failed", svSocks5, "kai", "pw", "", {"05 02", "01 01"}, G5 + Kai5, Refused, 1},
  {"socks5 authentication reply of a wrong version", svSocks5, "kai", "pw", "", {"05 02", "02 00"}, G5 + Kai5,
   Refused, BadVersion, "", "", "SOCKS reply of wrong version - 2"},

  // SOCKS5: the connect reply
  {"socks5 connection not allowed by ruleset", svSocks5, "", "", "",
   {"05 00", "05 02 00 01 00 00 00 00 00 00"}, G5 + C5, Refused, 2},
  {"socks5 refusal known from the connect reply's first two bytes", svSocks5, "", "", "", {"05 00", "05 01"},
   G5 + C5, Refused, 1},
  {"socks5 connect reply of a wrong version", svSocks5, "", "", "", {"05 00", "00 5A 00 50 01 02 03 04 00 00"},
   G5 + C5, Refused, BadVersion, "", "", "SOCKS reply of wrong version - 0"},
  {"socks5 grant and data in one read", svSocks5, "", "", "",
   {"05 00", "05 00 00 01 0A 00 00 09 00 51 FF FB 01 'login: '"}, G5 + C5, Granted, 0, "0A 00 00 09 00 51",
   "FF FB 01 'login: '"},
  {"socks5 reply with a domain name as bound address, data after it", svSocks5, "", "", "",
   {"05 00", "05 00 00 03 0A 'proxy.test' 12 34 'hello'"}, G5 + C5, Granted, 0, "00 00 00 00 12 34", "'hello'"},
  {"socks5 reply with an empty domain name", svSocks5, "", "", "", {"05 00", "05 00 00 03 00 12 35 'x'"},
   G5 + C5, Granted, 0, "00 00 00 00 12 35", "'x'"},
  {"socks5 reply with an IPv6 bound address, data after it", svSocks5, "", "", "",
   {"05 00", "05 00 00 04 20 01 0D B8 00 00 00 00 00 00 00 00 00 00 00 01 04 38 'hi'"}, G5 + C5, Granted, 0,
   "00 00 00 00 04 38", "'hi'"},
  {"socks5 refusal with an IPv6 address takes the whole reply", svSocks5, "", "", "",
   {"05 00", "05 05 00 04 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"}, G5 + C5, Refused, 5},
  {"socks5 reply with an unknown address type", svSocks5, "", "", "", {"05 00", "05 00 00 02 01 02 03 04 05 06"},
   G5 + C5, Refused, TIpSocksHandshake::BadAddressTypeCode, "", "", "SOCKS reply with unknown address type - 2"},
  {"socks5 refusal of an unknown address type is the proxy's refusal", svSocks5, "", "", "", {"05 00", "05 04 00 00"},
   G5 + C5, Refused, 4},
  {"socks5 waiting inside a domain name", svSocks5, "", "", "", {"05 00", "05 00 00 03 0A 'proxy.tes'"}, G5 + C5,
   Waiting},
  {"socks5 waiting inside the connect reply", svSocks5, "", "", "", {"05 00", "05 00 00 01 0A"}, G5 + C5, Waiting},
  {"socks5 waiting for the connect reply", svSocks5, "", "", "", {"05 00"}, G5 + C5, Waiting},
};
// clang-format on

TEST(SocksHandshake, Exchanges) {
  for (const SocksRow& row : Rows) RunRow(row);
}

TEST(SocksHandshake, LongUserAndPasswordAreCutAt255) {
  TIpSocksHandshake h(svSocks5, String(300, 'u'), String(256, 'p'), TargetAddress(), TargetPort());
  h.Start();
  TIpSocksStep step = h.Receive(H("05 02"));
  EXPECT_EQ(step.Send, H("01 FF") + String(255, 'u') + H("FF") + String(255, 'p'));
  EXPECT_EQ(h.State(), TIpSocksHandshake::AuthSent);
}

TEST(SocksHandshake, StagesFollowTheSocketsSocksState) {
  TIpSocksHandshake h(svSocks5, "", "", TargetAddress(), TargetPort());
  EXPECT_EQ(h.State(), TIpSocksHandshake::NotStarted);
  EXPECT_FALSE(h.Start().empty());
  EXPECT_EQ(h.State(), TIpSocksHandshake::RequestSent);
  EXPECT_TRUE(h.Start().empty());
  h.Receive(H("05 02"));
  EXPECT_EQ(h.State(), TIpSocksHandshake::AuthSent);
  h.Receive(H("01 00"));
  EXPECT_EQ(h.State(), TIpSocksHandshake::ConnectSent);
  EXPECT_FALSE(h.Done());
  h.Receive(H("05 00 00 01 01 02 03 04 00 01"));
  EXPECT_EQ(h.State(), TIpSocksHandshake::Connected);
}

TEST(SocksHandshake, AReplyBeforeStartStartsTheHandshake) {
  TIpSocksHandshake h(svSocks5, "", "", TargetAddress(), TargetPort());
  TIpSocksStep step = h.Receive(H("05 00"));
  EXPECT_EQ(Hex(step.Send), Hex(G5 + C5));
  EXPECT_EQ(h.State(), TIpSocksHandshake::ConnectSent);
  EXPECT_TRUE(h.Start().empty());
}

}  // namespace
