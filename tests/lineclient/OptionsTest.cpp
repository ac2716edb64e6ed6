// The command line of LineClient.exe: what each argument list yields, and which are refused.
#include <gtest/gtest.h>

#include "lineclient/Options.h"

namespace {

using Args = std::vector<String>;

TEST(LineClientOptions, AcceptedCommandLines) {
  struct Case {
    const char* What;
    Args Arguments;
    String Host;
    uint16_t Port;
    Args Sends;
    bool Stdin;
    uint32_t Lines;
    uint32_t Idle;
    String DebugLog, EventLog;
  };
  const Case cases[] = {
      {"host alone: port 23, idle 30", {"127.0.0.91"}, "127.0.0.91", 23, {}, false, 0, 30, "", ""},
      {"port after the last colon", {"127.0.0.91:7"}, "127.0.0.91", 7, {}, false, 0, 30, "", ""},
      {"a dotless name keeps its port", {"localhost:65535"}, "localhost", 65535, {}, false, 0, 30, "", ""},
      {"--port when HOST names none", {"-p", "2323", "localhost"}, "localhost", 2323, {}, false, 0, 30, "", ""},
      {"HOST's own port wins over --port", {"--port=1", "h.example:2"}, "h.example", 2, {}, false, 0, 30, "", ""},
      {"every option, short forms, HOST first",
       {"10.0.0.1", "-s", "a", "-i", "-n", "3", "-t", "0", "-s", "b c"},
       "10.0.0.1",
       23,
       {"a", "b c"},
       true,
       3,
       0,
       "",
       ""},
      {"long forms, separate and with =",
       {"--send", "x", "--send=y=z", "--stdin", "--lines=1", "--idle", "4294967", "--debug-log", "d.log",
        "--event-log=e.log", "127.0.0.1"},
       "127.0.0.1",
       23,
       {"x", "y=z"},
       true,
       1,
       4294967,
       "d.log",
       "e.log"},
      {"an empty text is a line too", {"-s", "", "h.example"}, "h.example", 23, {""}, false, 0, 30, "", ""},
      {"a text may begin with '-'", {"-s", "-p", "h.example"}, "h.example", 23, {"-p"}, false, 0, 30, "", ""},
      {"-- ends the options", {"-t", "5", "--", "-odd.host"}, "-odd.host", 23, {}, false, 0, 5, "", ""},
      {"leading zeros", {"-n", "007", "h.example:0080"}, "h.example", 80, {}, false, 7, 30, "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.What);
    const TLineClientArgs r = ParseLineClientArgs(c.Arguments);
    ASSERT_TRUE(r.Ok) << r.Error;
    EXPECT_EQ(r.Error, "");
    EXPECT_EQ(r.Options.Host, c.Host);
    EXPECT_EQ(r.Options.Port, c.Port);
    EXPECT_EQ(r.Options.Sends, c.Sends);
    EXPECT_EQ(r.Options.Stdin, c.Stdin);
    EXPECT_EQ(r.Options.Lines, c.Lines);
    EXPECT_EQ(r.Options.IdleSeconds, c.Idle);
    EXPECT_EQ(r.Options.DebugLogFile, c.DebugLog);
    EXPECT_EQ(r.Options.EventLogFile, c.EventLog);
    EXPECT_FALSE(r.Options.Help);
  }
}

TEST(LineClientOptions, RefusedCommandLines) {
  struct Case {
    Args Arguments;
    String Error;
  };
  const Case cases[] = {
      {{}, "no HOST given"},
      {{"-n", "2"}, "no HOST given"},
      {{"h.example:70000"}, "bad port '70000' (1-65535)"},
      {{"h.example:65536"}, "bad port '65536' (1-65535)"},
      {{"h.example:0"}, "bad port '0' (1-65535)"},
      {{"h.example:x"}, "bad port 'x' (1-65535)"},
      {{"h.example:"}, "bad port '' (1-65535)"},
      {{"h.example:-1"}, "bad port '-1' (1-65535)"},
      {{"h.example:+7"}, "bad port '+7' (1-65535)"},
      {{"h.example:99999999999"}, "bad port '99999999999' (1-65535)"},
      {{"-p", "70000", "h.example"}, "bad port '70000' (1-65535)"},
      {{"-p", "0", "h.example"}, "bad port '0' (1-65535)"},
      {{"--port=x", "h.example"}, "bad port 'x' (1-65535)"},
      {{":23"}, "empty HOST in ':23'"},
      {{"--socks5", "127.0.0.5", "h"}, "bad proxy '127.0.0.5' (ADDR:PORT)"},
      {{"--socks5", ":1080", "h"}, "bad proxy ':1080' (ADDR:PORT)"},
      {{"--socks4", "a:0", "h"}, "bad proxy 'a:0' (ADDR:PORT)"},
      {{"--socks4", "a:1", "--socks5", "a:2", "h"}, "more than one proxy given"},
      {{"--window", "80", "h"}, "bad window size '80' (COLSxROWS)"},
      {{"--window", "0x24", "h"}, "bad window size '0x24' (COLSxROWS)"},
      {{"--window", "80x", "h"}, "bad window size '80x' (COLSxROWS)"},
      {{"--terminal-type=", "h"}, "empty terminal type"},
      {{"--telnet=1", "h"}, "option '--telnet' takes no value"},
      {{""}, "empty HOST"},
      {{"a.example", "b.example"}, "more than one HOST: 'a.example' and 'b.example'"},
      {{"-n", "0", "h.example"}, "bad line count '0' (1 or more)"},
      {{"-n", "4294967296", "h.example"}, "bad line count '4294967296' (1 or more)"},
      {{"-t", "-1", "h.example"}, "bad idle time '-1' (0-4294967 seconds)"},
      {{"-t", "4294968", "h.example"}, "bad idle time '4294968' (0-4294967 seconds)"},
      {{"-t", "1.5", "h.example"}, "bad idle time '1.5' (0-4294967 seconds)"},
      {{"h.example", "-s"}, "option '-s' needs a value"},
      {{"h.example", "--send"}, "option '--send' needs a value"},
      {{"--stdin=yes", "h.example"}, "option '--stdin' takes no value"},
      {{"-x", "h.example"}, "unknown option '-x'"},
      {{"--port", "23", "--ports=2", "h.example"}, "unknown option '--ports=2'"},
      {{"-p23", "h.example"}, "unknown option '-p23'"},
      {{"--debug-log=", "h.example"}, "empty file name for --debug-log"},
      {{"--event-log", "", "h.example"}, "empty file name for --event-log"},
  };
  for (const Case& c : cases) {
    String shown;
    for (const String& a : c.Arguments) shown += "[" + a + "]";
    SCOPED_TRACE(shown);
    const TLineClientArgs r = ParseLineClientArgs(c.Arguments);
    EXPECT_FALSE(r.Ok);
    EXPECT_EQ(r.Error, c.Error);
  }
}

TEST(LineClientOptions, HelpNeedsNoHostAndTheUsageNamesEveryOption) {
  const TLineClientArgs r = ParseLineClientArgs({"--help"});
  ASSERT_TRUE(r.Ok);
  EXPECT_TRUE(r.Options.Help);
  const String usage = LineClientUsage();
  EXPECT_EQ(usage.rfind("usage: LineClient.exe [options] HOST[:PORT]\r\n", 0), 0u);
  for (const char* option :
       {"--port", "--send", "--stdin", "--lines", "--idle", "--debug-log", "--event-log", "--socks4 ", "--socks4a",
        "--socks5", "--user", "--password", "--telnet", "--terminal-type", "--window"})
    EXPECT_NE(usage.find(option), String::npos) << option;
}

TEST(LineClientOptions, ProxyAndTelnetOptions) {
  struct Case {
    Args Arguments;
    String SocksHost;
    uint16_t SocksPort;
    TIpSocksVersion Version;
    String User, Password;
    bool Telnet;
    String TerminalType;
    uint16_t Cols, Rows;
  };
  const Case cases[] = {
      {{"h"}, "", 1080, svSocks4, "", "", false, "", 0, 0},
      {{"--socks4", "127.0.0.5:1081", "--user", "abc", "h"}, "127.0.0.5", 1081, svSocks4, "abc", "", false, "", 0, 0},
      {{"--socks4a=p.example:9", "h"}, "p.example", 9, svSocks4a, "", "", false, "", 0, 0},
      {{"--socks5", "127.0.0.5:1080", "--user=u", "--password", "p w", "h"},
       "127.0.0.5",
       1080,
       svSocks5,
       "u",
       "p w",
       false,
       "",
       0,
       0},
      {{"--telnet", "--terminal-type", "vt100", "--window", "80x24", "h"},
       "",
       1080,
       svSocks4,
       "",
       "",
       true,
       "vt100",
       80,
       24},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.Arguments));
    const TLineClientArgs r = ParseLineClientArgs(c.Arguments);
    ASSERT_TRUE(r.Ok) << r.Error;
    const TLineClientOptions& o = r.Options;
    EXPECT_EQ(o.SocksHost, c.SocksHost);
    EXPECT_EQ(o.SocksPort, c.SocksPort);
    EXPECT_EQ(o.SocksVersion, c.Version);
    EXPECT_EQ(o.SocksUser, c.User);
    EXPECT_EQ(o.SocksPassword, c.Password);
    EXPECT_EQ(o.Telnet, c.Telnet);
    EXPECT_EQ(o.TerminalType, c.TerminalType);
    EXPECT_EQ(o.WindowCols, c.Cols);
    EXPECT_EQ(o.WindowRows, c.Rows);
  }
}

}  // namespace
