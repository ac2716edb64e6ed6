#include <gtest/gtest.h>

#include <array>
#include <optional>
#include <stdexcept>
#include <vector>

#include "fakes/ByteText.h"
#include "sock/IpTelnet.h"

namespace {

String B(std::initializer_list<int> bytes) {
  String s;
  for (int b : bytes) s += static_cast<char>(b);
  return s;
}

std::vector<int> Members(const TIpTelnetOptionSet& set) {
  std::vector<int> out;
  for (int n = 0; n < 256; ++n)
    if (set.test(n)) out.push_back(n);
  return out;
}

using LogCall = std::array<int, 3>;  // direction, command, option
constexpr int IAC = 255, SB = 250, SE = 240, WILL = 251, WONT = 252, DO = 253, DONT = 254, NOP = 241;
constexpr int In = tdReceived, Out = tdSent;

// A telnet object wired to record what it sends, logs and is handed as subnegotiations.
struct Wire : TIpTelnet {
  String Sent;
  std::vector<LogCall> Log;
  std::vector<String> Subs;

  explicit Wire(const std::optional<TIpTelnetTerminal>& terminal) {
    Terminal = terminal;
    OnSend = [this](const String& bytes) { Sent += bytes; };
    OnLog = [this](uint8_t d, uint8_t c, uint8_t o) { Log.push_back({d, c, o}); };
  }
  void HandleSubnegotiation(const String& Text) override {
    Subs.push_back(Hex(Text));
    TIpTelnet::HandleSubnegotiation(Text);
  }
};

struct Read {
  String Input;
  String Data;  // returned by this read
  String Sent;  // sent while filtering this read
};

struct TelnetRow {
  const char* Name;
  std::vector<Read> Reads;
  std::vector<LogCall> Log;
  std::vector<int> LocalEnabled;
  std::vector<int> RemoteEnabled;
  std::vector<String> Subs = {};  // subnegotiation bodies handed on, as hex
  std::optional<TIpTelnetTerminal> Terminal = std::nullopt;
};

// Runs the row read by read, then runs its whole input again split in two at (nearly) every
// position and one byte at a time: what comes out in total must not depend on how the input
// was split.
void RunRow(const TelnetRow& row) {
  SCOPED_TRACE(row.Name);
  Wire w(row.Terminal);
  String input, data, sent;
  for (const Read& r : row.Reads) {
    size_t before = w.Sent.size();
    EXPECT_EQ(Hex(w.Filter(r.Input)), Hex(r.Data)) << "read " << Hex(r.Input);
    EXPECT_EQ(Hex(w.Sent.substr(before)), Hex(r.Sent)) << "read " << Hex(r.Input);
    input += r.Input;
    data += r.Data;
    sent += r.Sent;
  }
  EXPECT_EQ(w.Log, row.Log);
  EXPECT_EQ(w.Subs, row.Subs);
  EXPECT_EQ(Members(w.LocalEnabled), row.LocalEnabled);
  EXPECT_EQ(Members(w.RemoteEnabled), row.RemoteEnabled);

  std::vector<std::vector<String>> splits;
  // A long input is split near both ends, where its commands and its limits lie, and every
  // 512 bytes between.
  for (size_t k = 1; k < input.size(); ++k)
    if (input.size() <= 64 || k <= 16 || k + 16 >= input.size() || k % 512 == 0)
      splits.push_back({input.substr(0, k), input.substr(k)});
  std::vector<String> bytes;
  for (char ch : input) bytes.emplace_back(1, ch);
  if (bytes.size() > 2) splits.push_back(bytes);
  for (const auto& reads : splits) {
    Wire split(row.Terminal);
    String got;
    for (const String& r : reads) {
      String piece = split.Filter(r);
      EXPECT_LE(piece.size(), r.size());  // fits over the bytes it came from
      got += piece;
    }
    SCOPED_TRACE(reads.size() == 2 ? "first read " + Hex(reads[0]) : String("one byte at a time"));
    EXPECT_EQ(Hex(got), Hex(data));
    EXPECT_EQ(Hex(split.Sent), Hex(sent));
    EXPECT_EQ(split.Log, row.Log);
    EXPECT_EQ(split.Subs, row.Subs);
    if (::testing::Test::HasFailure()) return;  // one failing split tells enough
  }
}

const String kDumb = B({IAC, SB, 24, 0}) + "dumb" + B({IAC, SE});

TEST(IpTelnet, FilterAnswersNegotiationAndKeepsData) {
  const TelnetRow rows[] = {
      {"doubled IAC is one data byte", {{B({0x61, IAC, IAC, 0x62}), B({0x61, 0xFF, 0x62}), ""}}, {}, {}, {}},
      {"DO TERMINAL-TYPE, then SEND without a terminal",
       {{B({IAC, DO, 24}), "", B({IAC, WILL, 24})}, {B({IAC, SB, 24, 1, IAC, SE}), "", kDumb}},
       {{In, DO, 24}, {Out, WILL, 24}},
       {24},
       {},
       {"18 01"}},
      {"DO ECHO is refused", {{B({IAC, DO, 1}), "", B({IAC, WONT, 1})}}, {{In, DO, 1}, {Out, WONT, 1}}, {}, {}},
      {"WILL ECHO once answered, twice not",
       {{B({IAC, WILL, 1}), "", B({IAC, DO, 1})}, {B({IAC, WILL, 1}), "", ""}},
       {{In, WILL, 1}, {Out, DO, 1}, {In, WILL, 1}},
       {},
       {1}},
      {"DO NAWS without a terminal sends no window size",
       {{B({IAC, DO, 31}), "", B({IAC, WILL, 31})}},
       {{In, DO, 31}, {Out, WILL, 31}},
       {31},
       {}},
      {"a command split after IAC is answered once, after the second read",
       {{B({IAC}), "", ""}, {B({DO, 3}), "", B({IAC, WILL, 3})}},
       {{In, DO, 3}, {Out, WILL, 3}},
       {3},
       {}},
      {"a subnegotiation split over reads is handled once, after its IAC SE",
       {{B({IAC, DO, 24, IAC, SB, 24}), "", B({IAC, WILL, 24})}, {B({1, IAC}), "", ""}, {B({SE}), "", kDumb}},
       {{In, DO, 24}, {Out, WILL, 24}},
       {24},
       {},
       {"18 01"}},
      {"IAC NOP is dropped, the byte after it kept", {{B({IAC, NOP, 'x'}), "x", ""}}, {}, {}, {}},
      {"the byte after an unknown command is read again, an IAC too",
       {{B({IAC, NOP, IAC, DO, 3}), "", B({IAC, WILL, 3})}},
       {{In, DO, 3}, {Out, WILL, 3}},
       {3},
       {}},
      {"data on both sides of a command",
       {{B({'a', IAC, DO, 1, 'b'}), "ab", B({IAC, WONT, 1})}},
       {{In, DO, 1}, {Out, WONT, 1}},
       {},
       {}},
      {"IAC at the end of a read waits for the next",
       {{B({'a', 'b', IAC}), "ab", ""}, {B({IAC, 'c'}), B({0xFF, 'c'}), ""}},
       {},
       {},
       {}},
      {"DO on an enabled option is not answered again",
       {{B({IAC, DO, 3, IAC, DO, 3}), "", B({IAC, WILL, 3})}},
       {{In, DO, 3}, {Out, WILL, 3}, {In, DO, 3}},
       {3},
       {}},
      {"DONT disables once",
       {{B({IAC, DO, 3, IAC, DONT, 3, IAC, DONT, 3}), "", B({IAC, WILL, 3, IAC, WONT, 3})}},
       {{In, DO, 3}, {Out, WILL, 3}, {In, DONT, 3}, {Out, WONT, 3}, {In, DONT, 3}},
       {},
       {}},
      {"WONT disables once",
       {{B({IAC, WILL, 3, IAC, WONT, 3, IAC, WONT, 3}), "", B({IAC, DO, 3, IAC, DONT, 3})}},
       {{In, WILL, 3}, {Out, DO, 3}, {In, WONT, 3}, {Out, DONT, 3}, {In, WONT, 3}},
       {},
       {}},
      {"WILL on an option the peer may not perform",
       {{B({IAC, WILL, 24}), "", B({IAC, DONT, 24})}},
       {{In, WILL, 24}, {Out, DONT, 24}},
       {},
       {}},
      {"STATUS SEND lists what each side performs",
       {{B({IAC, WILL, 1, IAC, DO, 5, IAC, SB, 5, 1, IAC, SE}), "",
         B({IAC, DO, 1, IAC, WILL, 5, IAC, SB, 5, 0, DO, 1, WILL, 5, IAC, SE})}},
       {{In, WILL, 1}, {Out, DO, 1}, {In, DO, 5}, {Out, WILL, 5}},
       {5},
       {1},
       {"05 01"}},
      {"subnegotiations for options not enabled here, unknown or short, are dropped",
       {{B({IAC, SB, 24, 1, IAC, SE, IAC, SB, 5, 1, IAC, SE, IAC, SB, 99, 1, IAC, SE, 'd', IAC, SB, 24, IAC, SE}), "d",
         ""}},
       {},
       {},
       {},
       {"18 01", "05 01", "63 01", "18"}},
      {"a named terminal gives its type",
       {{B({IAC, DO, 24, IAC, SB, 24, 1, IAC, SE}), "", B({IAC, WILL, 24, IAC, SB, 24, 0}) + "VT100" + B({IAC, SE})}},
       {{In, DO, 24}, {Out, WILL, 24}},
       {24},
       {},
       {"18 01"},
       TIpTelnetTerminal{"VT100", 80, 24}},
      {"an empty read", {{"", "", ""}}, {}, {}, {}},
  };
  for (const TelnetRow& row : rows) RunRow(row);
}

// The peer in binary mode sends bytes that mean nothing but themselves; outside it, CR NUL is
// how the peer sends a bare CR.
TEST(IpTelnet, CarriageReturns) {
  const TelnetRow rows[] = {
      {"in binary mode a CR and the byte after it are data",
       {{B({IAC, WILL, 0}), "", B({IAC, DO, 0})},
        {B({13, 'A', 13, 0, 13, 10, 13, 13, 'B', 13}), B({13, 'A', 13, 0, 13, 10, 13, 13, 'B', 13}), ""},
        {B({0, 'C'}), B({0, 'C'}), ""}},
       {{In, WILL, 0}, {Out, DO, 0}},
       {},
       {0}},
      {"outside binary mode CR NUL is a bare CR, CR and any other byte stay",
       {{B({13, 0, 'A', 13, 10, 13, 'B', 13, 13, 0, 0, 'C', 0}), B({13, 'A', 13, 10, 13, 'B', 13, 13, 0, 'C', 0}), ""}},
       {},
       {},
       {}},
      {"a CR at the end of a read goes out at once; the NUL that follows is dropped",
       {{B({'x', 13}), B({'x', 13}), ""}, {B({0, 'y'}), "y", ""}},
       {},
       {},
       {}},
      {"a command between CR and NUL does not part them", {{B({13, IAC, NOP, 0, 'z'}), B({13, 'z'}), ""}}, {}, {}, {}},
      {"an escaped 0xFF after CR is data", {{B({13, IAC, IAC, 0}), B({13, 0xFF, 0}), ""}}, {}, {}, {}},
  };
  for (const TelnetRow& row : rows) RunRow(row);
}

// A subnegotiation body is read pair by pair, so a doubled IAC inside it neither ends it nor
// reaches the handler doubled. A body longer than MaxSubnegotiation bytes is dropped: the rest
// of it, up to its IAC SE, is skipped and none of it is data.
TEST(IpTelnet, SubnegotiationBodies) {
  const String x4095(4095, 'x');
  const String body4096 = Hex(B({24}) + x4095);
  const TelnetRow rows[] = {
      {"IAC IAC SE inside a body is 0xFF and SE, not the end",
       {{B({IAC, SB, 24, IAC, IAC, SE, 'z', IAC, SE, 'd'}), "d", ""}},
       {},
       {},
       {},
       {"18 FF F0 7A"}},
      {"the body handed on is undoubled",
       {{B({IAC, SB, 24, 2, IAC, IAC, 'x', IAC, SE}), "", ""}},
       {},
       {},
       {},
       {"18 02 FF 78"}},
      {"an IAC before another byte stays in the body as it came",
       {{B({IAC, SB, 24, IAC, NOP, 1, IAC, SE}), "", ""}},
       {},
       {},
       {},
       {"18 FF F1 01"}},
      {"a body of exactly the longest length is handled",
       {{B({IAC, SB, 24}) + x4095 + B({IAC, SE}) + "ok", "ok", ""}},
       {},
       {},
       {},
       {body4096}},
      {"a longer body is skipped to its IAC SE; data resumes after it",
       {{B({IAC, SB, 24}) + x4095 + "DA" + B({IAC, SE}) + "B", "B", ""}},
       {},
       {},
       {}},
      {"IAC IAC SE in the skipped part is 0xFF and SE, not the end",
       {{B({IAC, SB, 24}) + x4095 + B({IAC, IAC, SE, 'q', IAC, SE, 'r'}), "r", ""}},
       {},
       {},
       {}},
      {"a command in the skipped part is not answered",
       {{B({IAC, SB, 24}) + x4095 + B({IAC, DO, 3, IAC, SE, IAC, DO, 3}), "", B({IAC, WILL, 3})}},
       {{In, DO, 3}, {Out, WILL, 3}},
       {3},
       {}},
  };
  for (const TelnetRow& row : rows) RunRow(row);
}

TEST(IpTelnet, AnEndlessSubnegotiationHoldsBackNoMoreThanItsLongestBody) {
  Wire w(std::nullopt);
  String got = w.Filter(B({IAC, SB, 24}));
  for (int read = 0; read < 100; ++read) {
    got += w.Filter(String(1000, 'x') + B({IAC}));
    EXPECT_LE(w.PendingSize(), TIpTelnet::MaxSubnegotiation + 2);
    got += w.Filter(B({IAC}));
  }
  EXPECT_EQ(got, "");
  EXPECT_LE(w.PendingSize(), 1u);
  EXPECT_EQ(w.Filter(B({IAC, SE}) + "x"), "x");
  EXPECT_TRUE(w.Subs.empty());
}

// The answers go out once the input they answer is read: a send that raises loses neither the
// next read's data nor the filter's place, and nothing is answered twice.
TEST(IpTelnet, AnAnswerWhoseSendRaisesIsNotReadAgain) {
  Wire w(std::nullopt);
  w.OnSend = [&](const String& bytes) {
    w.Sent.empty() ? throw std::runtime_error("send failed") : void(w.Sent += bytes);
  };
  EXPECT_THROW(w.Filter(B({'a', IAC, DO, 3, 'b'})), std::runtime_error);
  w.Sent = "-";
  EXPECT_EQ(w.Filter(B({'c', IAC, DO, 1})), "c");
  EXPECT_EQ(Hex(w.Sent), Hex("-" + B({IAC, WONT, 1})));  // DO 3 not answered again
  EXPECT_EQ(Members(w.LocalEnabled), std::vector<int>{3});
}

// The peer learns that we will send our window size before it gets one.
TEST(IpTelnet, DoNawsIsAnsweredWillFirstThenTheWindowSize) {
  RunRow({"DO NAWS with a terminal of 80 by 24",
          {{B({IAC, DO, 31}), "", B({IAC, WILL, 31, IAC, SB, 31, 0, 80, 0, 24, IAC, SE})}, {B({IAC, DO, 31}), "", ""}},
          {{In, DO, 31}, {Out, WILL, 31}, {In, DO, 31}},
          {31},
          {},
          {},
          TIpTelnetTerminal{"", 80, 24}});
}

// Every option in effect is listed, in ascending order; option numbers 250 and 255 are the
// body bytes that are doubled.
TEST(IpTelnet, StatusListsEveryEnabledOptionWithSBAndIACDoubled) {
  Wire w(std::nullopt);
  w.LocalEnabled.set(255);
  w.RemoteEnabled.set(250);
  w.RemoteEnabled.set(3);
  w.SendStatus();  // STATUS itself not enabled here
  EXPECT_EQ(w.Sent, "");
  w.LocalEnabled.set(toStatus);
  w.SendStatus();
  EXPECT_EQ(Hex(w.Sent), Hex(B({IAC, SB, 5, 0, DO, 3, WILL, 5, DO, 250, 250, WILL, 255, 255, IAC, SE})));
}

TEST(IpTelnet, InitialOptionSets) {
  TIpTelnet t;
  EXPECT_EQ(Members(t.LocalSupported), (std::vector<int>{0, 3, 5, 24, 31}));
  EXPECT_EQ(Members(t.RemoteSupported), (std::vector<int>{0, 1, 3}));
  EXPECT_TRUE(t.LocalEnabled.none() && t.LocalPending.none() && t.RemoteEnabled.none() && t.RemotePending.none());
  EXPECT_FALSE(t.Terminal.has_value());
}

TEST(IpTelnet, WindowSizeHighByteFirstWithIACDoubled) {
  Wire w(TIpTelnetTerminal{"", 0x01FF, 0xFF00});
  w.SendWindowSize();  // NAWS not enabled here
  EXPECT_EQ(w.Sent, "");
  w.SetLocalOption(toWindowSize);
  EXPECT_EQ(Hex(w.Sent), Hex(B({IAC, SB, 31, 0x01, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, IAC, SE})));

  Wire none(std::nullopt);
  none.SetLocalOption(toWindowSize);
  none.SendWindowSize();
  EXPECT_EQ(none.Sent, "");
}

TEST(IpTelnet, TelnetEscapeDoublesEveryIAC) {
  EXPECT_EQ(Hex(TIpTelnet::TelnetEscape(B({0xFF, 'a', 0xFF, 0xFF, 0xFE}))),
            Hex(B({0xFF, 0xFF, 'a', 0xFF, 0xFF, 0xFF, 0xFF, 0xFE})));
  EXPECT_EQ(TIpTelnet::TelnetEscape(""), "");
}

TEST(IpTelnet, UnassignedCallbacksAreSkipped) {
  TIpTelnet t;
  EXPECT_EQ(t.Filter(B({'a', IAC, DO, 24, IAC, SB, 24, 1, IAC, SE, IAC, WILL, 9})), "a");
  EXPECT_TRUE(t.LocalEnabled.test(24));
}

}  // namespace
