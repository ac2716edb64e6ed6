// The lifetime rule of the client header as one table: a handler that disconnects, reconnects
// or raises in each event of a connection, on the fake WinSock that reuses closed handle numbers
// as the platform does. Each row is what the user sees; the sanitizers watch the rest.
#include <gtest/gtest.h>

#include "fakes/FakePlatform.h"
#include "fakes/FakeWinSock.h"
#include "sock/IpClient.h"
#include "sock/IpDataSocket.h"
#include "toolkit/Application.h"

namespace {

enum TEvent { evUp, evClosed, evMoved, evError, evDirectLine, evQueuedLine, evItemSent, evIdle, evGrant, evRefusal };
enum TAction { acDisconnect, acReconnect, acRaise };

struct LifetimeRow {
  TEvent Event;
  TAction Action;
  const char* Seen;  // the user's events; "|" where the handler acted
};

// One row's world: a fresh platform, WinSock and client.
struct LifetimeRun {
  TFakePlatform Platform;
  TFakeWinSockModule WinSock;
  TFakeWinSock& Fake = WinSock.Fake;
  TApplication App;
  TIpCustomClient C{nullptr};
  String Seen;
  TEvent Target = evUp;
  TAction Action = acRaise;
  bool Acted = false;
  bool Reconnected = false;

  void See(const String& what) { Seen += (Seen.empty() ? "" : " ") + what; }
  // Records the user's event; the row's handler acts once, in the first event of its kind.
  void On(const String& seen, TEvent event, TSocket socket) {
    See(seen);
    if (event != Target || Acted) return;
    Acted = true;
    See("|");
    if (Action == acRaise) throw Exception("boom");
    C.Disconnect(socket);
    if (Action == acReconnect) Reconnected = C.ConnectTo("10.1.2.3:81") != InvalidSocket;
  }
  LifetimeRun() {
    Fake.ReuseClosedNumbers = true;
    App.OnException = [this](TObject*, const std::exception& e) { See("shown:" + ExceptionMessage(e)); };
    C.DataInits().IdleTimeout = 1000;
    C.DataInits().StripLineTerminator = true;
    C.OnStatus = [this](TObject*, TSocket s, uint8_t kind, const TIpConnRec& c, const TIpSockStatRec&) {
      const bool proxied = !C.SocksServer().Address.empty(), target = c.RemoteAddress == 0x0302010Au;
      if (kind == 0) On(target ? "up" : "up:elsewhere", proxied ? evGrant : evUp, s);
      if (kind > 0) On(kind == 1 ? "closed" : "moved", kind == 1 ? evClosed : evMoved, s);
    };
    C.OnError = [this](TObject*, uint32_t s, int code, const String&) {
      On("error:" + std::to_string(code), code == 91 ? evRefusal : evError, s);
    };
    C.OnReadLine = [this](TObject*, TSocket s, const String& line) {
      On("line:" + line, C.DirectLineEvents ? evDirectLine : evQueuedLine, s);
    };
    C.OnItemSent = [this](TObject*, TSocket s, int id, int) { On("sent:" + std::to_string(id), evItemSent, s); };
    C.OnIdleTimeout = [this](TObject*, TSocket s, bool& reset) { reset = true, On("idle", evIdle, s); };
  }
  void Pump(uint32_t ms = 0) { Platform.Advance(ms); }
  // A step of the peer, WinSock or the user; none once the handler disconnected or reconnected.
  void Step(const std::function<void()>& step) {
    if (Acted && Action != acRaise) return;
    try {
      step();
    } catch (const std::exception& e) {
      See("raised:" + ExceptionMessage(e));
    }
  }
  TFakeWinSock::SocketState& Sock(TSocket s) { return Fake.Sockets.at(s); }
  void Post(TSocket s, uint32_t event, int error = 0) { Fake.PostEvent(s, event, error); }

  // A connection that sends one item, moves data, idles, reads three lines and is reset; or,
  // for the close status, closes itself with an item sent through the data socket's own queue.
  void Direct() {
    const TSocket s = C.ConnectTo("10.1.2.3:80");
    C.SendText("hi");
    Step([&] { Post(s, fdConnect), Pump(); });
    Step([&] { Post(s, fdWrite), Pump(); });
    Step([&] { Pump(500); });
    Step([&] { Pump(1000); });
    Step([&] {
      Sock(s).Input = "a\r\nb\r\nc";
      if (Target != evClosed) return Post(s, fdRead), Post(s, fdClose, 10054), Pump();
      Post(s, fdRead), Pump();
      C.DataSocket()->QueueData("bye", 3, nullptr, true, false, false);
    });
  }
  // Through a SOCKS 4 proxy: the reply comes with a line and another waits; a granted
  // connection is closed by the peer, a refused one is left open by the proxy.
  void Proxied(bool grant) {
    C.SocksServer().Address = "127.0.0.1";
    const TSocket s = C.ConnectTo("10.1.2.3:80");
    C.SendText("hi");
    Step([&] { Post(s, fdConnect), Post(s, fdWrite), Pump(500); });
    See(C.Connected() ? "connected" : "handshake");
    Step([&] { Sock(s).Input = Reply(grant) + "a\r\nb\r\n", Sock(s).RecvChunk = 11, Post(s, fdRead), Pump(); });
    if (grant) Step([&] { Sock(s).PeerClosed = true, Post(s, fdClose), Pump(); });
  }
  static String Reply(bool grant) { return String("\0", 1) + (grant ? "Z" : "[") + String(6, '\0'); }
  void Run(const LifetimeRow& row) {
    Target = row.Event;
    Action = row.Action;
    C.DirectLineEvents = row.Event == evDirectLine;
    if (row.Event == evGrant || row.Event == evRefusal)
      Proxied(row.Event == evGrant);
    else
      Direct();
    Pump();
    // What the user can do next: a reconnected client gets its connection up and sends on it.
    const TSocket s = C.SocketHandle();
    if (Reconnected) {
      Post(s, fdConnect), Post(s, fdWrite), Pump();
      if (!C.SocksServer().Address.empty()) Sock(s).Input = Reply(true), Post(s, fdRead), Pump();
    }
    try {
      if (C.SendText("z") == 0 && Sock(s).Output.ends_with("z")) See("sends");
    } catch (const EIpWinSockError& e) {
      See("send:" + std::to_string(e.ErrorCode()));
    }
  }
};

TEST(Lifetime, AHandlerMayDisconnectReconnectOrRaiseInAnyEvent) {
  const LifetimeRow rows[] = {
      {evUp, acDisconnect, "up | closed send:10057"},
      {evUp, acReconnect, "up | closed up sends"},
      {evUp, acRaise, "up | shown:boom sent:1 moved idle line:a line:b error:10054 line:c closed send:10057"},
      {evClosed, acDisconnect, "up sent:1 moved idle line:a line:b line:c closed | send:10057"},
      {evClosed, acReconnect, "up sent:1 moved idle line:a line:b line:c closed | up sends"},
      {evClosed, acRaise, "up sent:1 moved idle line:a line:b line:c closed | raised:boom send:10057"},
      {evMoved, acDisconnect, "up sent:1 moved | closed send:10057"},
      {evMoved, acReconnect, "up sent:1 moved | closed up sends"},
      {evMoved, acRaise, "up sent:1 moved | shown:boom idle line:a line:b error:10054 line:c closed send:10057"},
      {evError, acDisconnect, "up sent:1 moved idle line:a line:b error:10054 | line:c closed send:10057"},
      {evError, acReconnect, "up sent:1 moved idle line:a line:b error:10054 | line:c closed up sends"},
      {evError, acRaise, "up sent:1 moved idle line:a line:b error:10054 | shown:boom line:c closed send:10057"},
      {evDirectLine, acDisconnect, "up sent:1 moved idle line:a | line:b line:c closed send:10057"},
      {evDirectLine, acReconnect, "up sent:1 moved idle line:a | line:b line:c closed up sends"},
      {evDirectLine, acRaise, "up sent:1 moved idle line:a | shown:boom line:b error:10054 line:c closed send:10057"},
      {evQueuedLine, acDisconnect, "up sent:1 moved idle line:a | line:b line:c closed send:10057"},
      {evQueuedLine, acReconnect, "up sent:1 moved idle line:a | line:b line:c closed up sends"},
      {evQueuedLine, acRaise, "up sent:1 moved idle line:a | shown:boom line:b error:10054 line:c closed send:10057"},
      {evItemSent, acDisconnect, "up sent:1 | closed send:10057"},
      {evItemSent, acReconnect, "up sent:1 | closed up sends"},
      {evItemSent, acRaise, "up sent:1 | shown:boom moved idle line:a line:b error:10054 line:c closed send:10057"},
      {evIdle, acDisconnect, "up sent:1 moved idle | closed send:10057"},
      {evIdle, acReconnect, "up sent:1 moved idle | closed up sends"},
      {evIdle, acRaise, "up sent:1 moved idle | shown:boom line:a line:b error:10054 line:c closed send:10057"},
      // The handshake is no connection yet; the grant's own read is committed before it is
      // reported, and the items held for it go out whatever its handler does.
      {evGrant, acDisconnect, "handshake up | line:a line:b closed send:10057"},
      {evGrant, acReconnect, "handshake up | line:a line:b closed up sends"},
      {evGrant, acRaise, "handshake up | sent:1 shown:boom line:a line:b closed send:10057"},
      // Nothing after a refusal is data, and nothing can be sent on it.
      {evRefusal, acDisconnect, "handshake error:91 | closed send:10057"},
      {evRefusal, acReconnect, "handshake error:91 | closed up sends"},
      {evRefusal, acRaise, "handshake error:91 | shown:boom send:10057"},
  };
  for (const LifetimeRow& row : rows) {
    SCOPED_TRACE(std::to_string(row.Event) + "/" + std::to_string(row.Action));
    LifetimeRun run;
    run.Run(row);
    EXPECT_EQ(run.Seen, row.Seen);
  }
}

}  // namespace
