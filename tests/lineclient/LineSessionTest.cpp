// One run of LineClient.exe against the fake WinSock and the fake window system: what it sends,
// what it prints, and the status it ends with.
#include <gtest/gtest.h>

#include <functional>

#include "fakes/FakePlatform.h"
#include "fakes/FakeWinSock.h"
#include "lineclient/LineSession.h"
#include "sock/IpDataSocket.h"

namespace {

using Lines = std::vector<String>;

struct TRecordedOutput final : TLineOutput {
  Lines Printed, Errors;
  void Line(const String& line) override { Printed.push_back(line); }
  void Error(const String& text) override { Errors.push_back(text); }
};

// The session and the world around it; `S` is the client's socket once it was made.
struct World {
  TFakePlatform Platform;
  TFakeWinSockModule WinSock;
  TFakeWinSock& Fake = WinSock.Fake;
  TRecordedOutput Output;
  std::unique_ptr<TLineSession> Session;
  TSocket S = InvalidSocket;

  void Pump() { Platform.ProcessMessages(); }
  void Event(uint32_t event, int error = 0) {
    Fake.PostEvent(S, event, error);
    Pump();
  }
  void Up() {
    Event(fdConnect);
    Event(fdWrite);
  }
  void Arrive(const String& bytes) {
    Fake.Sockets.at(S).Input += bytes;
    Event(fdRead);
  }
  void PeerCloses() {
    Fake.Sockets.at(S).PeerClosed = true;
    Event(fdClose);
  }
};

TEST(LineSession, RunsToTheStatusItShould) {
  struct Case {
    const char* What;
    std::vector<String> Arguments;
    std::function<void(World&)> Steps;
    Lines Printed;
    Lines Errors;
    int Status;
    String Sent;  // what the peer got
  };
  const Case cases[] = {
      {"lines both ways, then the peer closes with an unterminated rest",
       {"-s", "hello", "-s", "two words", "10.1.2.3"},
       [](World& w) {
         w.Up();
         w.Arrive("first\r\nsec");
         w.Arrive("ond\nrest\r");
         w.PeerCloses();
       },
       {"first", "second", "rest"},
       {},
       lcsClosed,
       "hello\r\ntwo words\r\n"},
      {"--lines 3: what comes with the third line or after it is not printed",
       {"-n", "3", "10.1.2.3"},
       [](World& w) {
         w.Up();
         w.Arrive("1\r\n2\r\n");
         w.Arrive("3\r\n4\r\n5\r\n");
         w.Arrive("6\r\n");
         w.Pump();
       },
       {"1", "2", "3"},
       {},
       lcsClosed,
       ""},
      {"refused",
       {"10.1.2.3"},
       [](World& w) { w.Event(fdConnect, 10061); },
       {},
       {"WinSock Error (10061): Connection refused, on API 'Fd_Connect'"},
       lcsNoConnection,
       ""},
      {"reset, as WinSock reports it",
       {"10.1.2.3"},
       [](World& w) {
         w.Up();
         w.Arrive("hi\r\n");
         w.Event(fdClose, 10054);
       },
       {"hi"},
       {"WinSock Error (10054): Connection reset by peer, on API 'Fd_Close'"},
       lcsNoConnection,
       ""},
      {"reset, as Wine reports it: a plain close, and a send refused afterwards",
       {"10.1.2.3"},
       [](World& w) {
         w.Up();
         w.Fake.Sockets.at(w.S).SendError = 10054;
         w.PeerCloses();
       },
       {},
       {"WinSock Error (10054): Connection reset by peer, on API 'Fd_Close'"},
       lcsNoConnection,
       ""},
      {"idle for 1 s",
       {"-t", "1", "10.1.2.3"},
       [](World& w) {
         w.Up();
         w.Arrive("a\r\n");
         w.Platform.Advance(1000);  // data moved: the idle time starts again
         EXPECT_FALSE(w.Session->Finished());
         w.Platform.Advance(1000);
       },
       {"a"},
       {"LineClient: nothing arrived for 1 s; closing"},
       lcsIdle,
       ""},
      {"a line too long for the buffer is dropped and reading goes on",
       {"10.1.2.3"},
       [](World& w) {
         w.Up();
         w.Session->Client().NotifyError(w.S, TIpDataSocket::LineTooLongError, "too long");
         w.Arrive("next\r\n");
         w.PeerCloses();
       },
       {"next"},
       {"too long"},
       lcsClosed,
       ""},
      {"a log line that could not be written: the session goes on, and ends with 5",
       {"10.1.2.3"},
       [](World& w) {
         w.Up();
         w.Session->Client().NotifyError(w.S, LogWriteErrorCode, "cannot write event.log");
         w.Arrive("next\r\n");
         w.PeerCloses();
       },
       {"next"},
       {"cannot write event.log"},
       lcsLogFailed,
       ""},
      {"refused by the SOCKS4 proxy: its text, status 3",
       {"--socks4", "127.0.0.5:1080", "-s", "x", "10.1.2.3:7"},
       [](World& w) {
         w.Up();
         w.Arrive(String("\0\x5B\0\0\0\0\0\0", 8));
       },
       {},
       {"SOCKS request refused - 91"},
       lcsProxyRefused,
       String("\x04\x01\0\x07\x0A\x01\x02\x03\0", 9)},
      {"the proxy itself refuses the connection: no connection, status 2",
       {"--socks5", "127.0.0.5:1080", "10.1.2.3"},
       [](World& w) { w.Event(fdConnect, 10061); },
       {},
       {"WinSock Error (10061): Connection refused, on API 'Fd_Connect'"},
       lcsNoConnection,
       ""},
      {"through a SOCKS5 proxy with user name and password, the --send text after the grant",
       {"--socks5", "127.0.0.5:1080", "--user", "u", "--password", "pw", "-s", "x", "10.1.2.3:7"},
       [](World& w) {
         w.Up();
         w.Arrive(String("\x05\x02", 2));
         w.Arrive(String("\x01\x00", 2));
         w.Arrive(String("\x05\0\0\x01\0\0\0\0\0\0", 10) + "hi\r\n");
         w.PeerCloses();
       },
       {"hi"},
       {},
       lcsClosed,
       String("\x05\x02\0\x02\x01\x01u\x02pw\x05\x01\0\x01\x0A\x01\x02\x03\0\x07x\r\n", 23)},
      {"--telnet: the terminal type dumb when asked, the prompt as a line",
       {"--telnet", "10.1.2.3"},
       [](World& w) {
         w.Up();
         w.Arrive("\xFF\xFD\x18");
         w.Arrive("\xFF\xFA\x18\x01\xFF\xF0login: \r\n");
         w.PeerCloses();
       },
       {"login: "},
       {},
       lcsClosed,
       String("\xFF\xFB\x18\xFF\xFA\x18\0dumb\xFF\xF0", 13)},
      {"--telnet --window: the window size after WILL NAWS",
       {"--telnet", "--window", "80x24", "10.1.2.3"},
       [](World& w) {
         w.Up();
         w.Arrive("\xFF\xFD\x1F");
         w.PeerCloses();
       },
       {},
       {},
       lcsClosed,
       String("\xFF\xFB\x1F\xFF\xFA\x1F\0\x50\0\x18\xFF\xF0", 12)},
      {"a send that fails breaks the connection",
       {"-s", "x", "10.1.2.3"},
       [](World& w) {
         w.Event(fdConnect);
         w.Fake.Sockets.at(w.S).SendError = 10053;
         w.Event(fdWrite);
       },
       {},
       {"WinSock Error (10053): Software caused connection abort, on API 'send'"},
       lcsNoConnection,
       ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.What);
    World w;
    const TLineClientArgs args = ParseLineClientArgs(c.Arguments);
    ASSERT_TRUE(args.Ok);
    w.Session = std::make_unique<TLineSession>(args.Options, w.Output);
    w.Session->Start();
    w.S = w.Fake.LastMade;
    ASSERT_NE(w.S, InvalidSocket);
    c.Steps(w);
    w.Pump();
    EXPECT_TRUE(w.Session->Finished());
    EXPECT_EQ(w.Session->Status(), c.Status);
    EXPECT_EQ(w.Output.Printed, c.Printed);
    EXPECT_EQ(w.Output.Errors, c.Errors);
    EXPECT_EQ(w.Fake.Sockets.at(w.S).Output, c.Sent);
    EXPECT_TRUE(w.Fake.Sockets.at(w.S).Closed);
  }
}

TEST(LineSession, StandardInputFollowsTheSendTextsAndItsEndClosesOnceSentAndAnswered) {
  World w;
  const TLineClientArgs args = ParseLineClientArgs({"-s", "first", "-i", "10.1.2.3:7"});
  ASSERT_TRUE(args.Ok);
  w.Session = std::make_unique<TLineSession>(args.Options, w.Output);
  auto input = std::make_shared<TLineInput>();
  w.Session->SetInput(input);
  input->Push("alpha");  // before the connection is up: kept until it is
  w.Session->Start();
  w.S = w.Fake.LastMade;
  EXPECT_EQ(w.Fake.Sockets.at(w.S).Connects.at(0).sin_port, 0x0700);
  w.Pump();
  input->Push("beta");
  input->End();
  w.Pump();
  EXPECT_FALSE(w.Session->Finished());
  w.Fake.Sockets.at(w.S).SendRoom = 8;  // "first\r\n" and a byte of the rest, then it blocks
  w.Up();
  EXPECT_FALSE(w.Session->Finished());  // still sending
  w.Fake.Sockets.at(w.S).SendRoom = -1;
  w.Event(fdWrite);
  EXPECT_EQ(w.Fake.Sockets.at(w.S).Output, "first\r\nalpha\r\nbeta\r\n");
  // All sent: the send side is shut, and the answer to the last line is still read.
  EXPECT_FALSE(w.Session->Finished());
  EXPECT_EQ(w.Fake.Sockets.at(w.S).Shutdowns, std::vector<int>{1});
  w.Arrive("to beta\r\n");
  w.PeerCloses();
  EXPECT_TRUE(w.Session->Finished());
  EXPECT_EQ(w.Session->Status(), lcsClosed);
  EXPECT_EQ(w.Output.Printed, Lines{"to beta"});
  EXPECT_TRUE(w.Output.Errors.empty());
}

TEST(LineSession, AHostThatDoesNotResolveEndsTheSessionAtOnce) {
  World w;
  TLineClientOptions options;
  options.Host = "nowhere.test";
  w.Session = std::make_unique<TLineSession>(options, w.Output);
  w.Session->Start();
  EXPECT_TRUE(w.Session->Finished());
  EXPECT_EQ(w.Session->Status(), lcsNoConnection);
  EXPECT_EQ(w.Output.Errors, Lines{"WinSock Error (11001): Host not found, on API 'gethostbyname'"});
}

}  // namespace
