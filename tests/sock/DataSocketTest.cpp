// The data socket against the fake WinSock: line framing, records and raw pieces, the receive
// filters, the send queue, statistics, idle time, the debug log and the orderly close.
#include <gtest/gtest.h>

#include <algorithm>

#include "fakes/FakePlatform.h"
#include "fakes/FakeWinSock.h"
#include "sock/IpClient.h"
#include "sock/IpDataSocket.h"
#include "toolkit/Application.h"

namespace {

class DataSocket : public ::testing::Test {
 protected:
  TFakePlatform Platform;
  TFakeWinSockModule WinSock;
  TFakeWinSock& Fake = WinSock.Fake;
  TIpCustomClient C{nullptr};
  std::vector<String> Lines;
  std::vector<std::tuple<TSocket, int, String>> Errors;
  std::vector<std::pair<uint8_t, TIpSockStatRec>> Statuses;
  std::vector<std::pair<int, int>> ItemsSent;  // id, remaining
  TSocket S = InvalidSocket;

  void SetUp() override {
    Fake.ReuseClosedNumbers = true;
    C.OnReadLine = [this](TObject*, TSocket socket, const String& line) {
      EXPECT_EQ(socket, S);
      Lines.push_back(line);
    };
    C.OnError = [this](TObject*, uint32_t socket, int code, const String& text) {
      Errors.emplace_back(socket, code, text);
    };
    C.OnStatus = [this](TObject*, TSocket, uint8_t kind, const TIpConnRec&, const TIpSockStatRec& stats) {
      Statuses.emplace_back(kind, stats);
    };
    C.OnItemSent = [this](TObject*, TSocket, int id, int remaining) { ItemsSent.emplace_back(id, remaining); };
  }
  void Pump() { Platform.ProcessMessages(); }
  void Event(uint32_t event, int error = 0) {
    Fake.PostEvent(S, event, error);
    Pump();
  }
  TFakeWinSock::SocketState& Sock() { return Fake.Sockets.at(S); }
  TIpDataSocket& D() { return *C.DataSocket(); }
  // A fresh connection, up and writable.
  void Connect() {
    if (C.IsActive()) C.Disconnect(C.SocketHandle());
    Pump();
    Lines.clear();
    Statuses.clear();
    S = C.ConnectTo("10.1.2.3:23");
    Event(fdConnect);
    Event(fdWrite);
  }
  void Receive(const String& bytes) {
    Sock().Input += bytes;
    Event(fdRead);
  }
};

struct SwitchRow {
  TIpLineTerminator Before;
  String First;
  TIpLineTerminator After;
  String Second;
  std::vector<String> Lines;
};

TEST_F(DataSocket, ATerminatorChangedMidLineIsFoundInBytesReadBefore) {
  // The bytes of the first read were searched for the old terminator; the new one must still
  // be found among them.
  const SwitchRow rows[] = {
      {ltLF, "ab\rcd", ltCR, "e", {"ab\r"}},
      {ltCR, "a\nb", ltLF, "c", {"a\n"}},
      {ltCRLF, "a\nb", ltLF, "c", {"a\n"}},
      {ltLF, "a\r", ltCRLF, "\nb", {"a\r\n"}},
      {ltOther, "x\ny", ltLF, "z", {"x\n"}},
      {ltCRLF, "x;y", ltOther, "z", {"x;"}},
      // A partial line longer than a record: the records are cut from it.
      {ltCRLF, String(8192, 'a'), ltNone, "b", std::vector<String>(102, String(80, 'a'))},
  };
  C.DataInits().LineTermChar = ';';
  for (const SwitchRow& row : rows) {
    SCOPED_TRACE(row.First.substr(0, 8) + " then " + row.Second);
    C.DataInits().LineTerminator = row.Before;
    Connect();
    Receive(row.First);
    EXPECT_TRUE(Lines.empty());
    D().LineTerminator = row.After;
    Receive(row.Second);
    EXPECT_EQ(Lines, row.Lines);
  }
  // A line that comes a byte a read and spills past the buffer is still found once it ends.
  C.DataInits().LineTerminator = ltCRLF;
  Connect();
  for (int i = 0; i < 9000; ++i) Receive("q");
  Receive("\r");
  Receive("\nnext\r\n");
  EXPECT_EQ(Lines, (std::vector<String>{String(9000, 'q') + "\r\n", "next\r\n"}));
  // After a full buffer moved to the partial line, the next read fills the buffer again: its
  // bytes are new and must be searched.
  Lines.clear();
  Receive(String(8192, 'a'));
  Receive("b\r\n" + String(9000, 'c') + "\r\n");
  EXPECT_EQ(Lines, (std::vector<String>{String(8192, 'a') + "b\r\n", String(9000, 'c') + "\r\n"}));
}

TEST_F(DataSocket, FixedLengthRecordsWithoutTerminator) {
  C.DataInits().LineTerminator = ltNone;
  Connect();
  Receive(String(200, 'x'));
  EXPECT_EQ(Lines, (std::vector<String>{String(80, 'x'), String(80, 'x')}));
  EXPECT_EQ(D().Unframed().size(), 40u);
  Receive(String(40, 'y'));
  ASSERT_EQ(Lines.size(), 3u);
  EXPECT_EQ(Lines[2], String(40, 'x') + String(40, 'y'));
  // Length 0 never delivers.
  C.DataInits().FixedLineLength = 0;
  Connect();
  Receive(String(100, 'x'));
  EXPECT_TRUE(Lines.empty());
}

TEST_F(DataSocket, AnyModeDeliversEachReadAsOnePiece) {
  C.DataInits().ReceiveMode = rmAny;
  Connect();
  Receive("AB\r\nC");
  Receive("D");
  EXPECT_EQ(Lines, (std::vector<String>{"AB\r\nC", "D"}));
}

TEST_F(DataSocket, StreamModeWritesToTheStream) {
  C.DataInits().ReceiveMode = rmStream;
  Connect();
  TMemoryStream stream;
  D().SetReceiveStream(&stream);
  Receive("AB\r\n");
  Receive(String("\0C", 2));
  EXPECT_EQ(stream.Bytes(), String("AB\r\n\0C", 6));
  EXPECT_TRUE(Lines.empty());
  // Without a stream the read is a programming error, shown by the application.
  TApplication app;
  std::vector<String> shown;
  app.OnException = [&](TObject*, const std::exception& e) { shown.push_back(ExceptionMessage(e)); };
  D().SetReceiveStream(nullptr);
  Receive("x");
  EXPECT_EQ(shown, std::vector<String>{"Stream not assigned"});
}

TEST_F(DataSocket, ALineLongerThanTheBufferIsDeliveredWholeOnceItEnds) {
  Connect();
  Receive(String(8192, 'a'));
  EXPECT_EQ(D().Unframed().size(), 8192u);
  EXPECT_TRUE(Lines.empty());
  Receive(String(808, 'a'));
  Receive("\r\n");
  ASSERT_EQ(Lines.size(), 1u);
  EXPECT_EQ(Lines[0], String(9000, 'a') + "\r\n");
  EXPECT_TRUE(D().Unframed().empty());
  // A CR LF pair that straddles the spill point is not split.
  Lines.clear();
  Receive(String(8191, 'b') + "\r\nafter\r\n");
  EXPECT_EQ(Lines, (std::vector<String>{String(8191, 'b') + "\r\n", "after\r\n"}));
}

TEST_F(DataSocket, AFullBufferOfShortLinesKeepsEveryLineApart) {
  // One burst of 3000 lines of 11 bytes: each read fills the buffer and ends mid-line.
  C.DataInits().StripLineTerminator = true;
  Connect();
  String burst;
  std::vector<String> expected;
  for (int i = 0; i < 3000; ++i) {
    expected.push_back(Format("line %04d", {i}));
    burst += expected.back() + "\r\n";
  }
  Receive(burst);
  EXPECT_EQ(Lines.size(), expected.size());
  const auto differ = std::mismatch(Lines.begin(), Lines.end(), expected.begin(), expected.end());
  if (differ.first != Lines.end())
    ADD_FAILURE() << "line " << (differ.first - Lines.begin()) << " is " << differ.first->size() << " bytes";
}

TEST_F(DataSocket, ALineBeyondMaxLineBufIsDroppedWithError8001AndReadingGoesOn) {
  C.DataInits().StripLineTerminator = true;
  Connect();
  Sock().RecvChunk = 65536;
  Receive(String(TIpDataSocket::MaxLineBuf + 20000, 'z'));
  ASSERT_EQ(Errors.size(), 1u);
  EXPECT_EQ(Errors[0], std::make_tuple(S, 8001, String("Received line too long, exceeds MaxLineBuf")));
  EXPECT_LT(D().Unframed().size(), 20000u);
  Receive("\r\nnext\r\n");
  ASSERT_EQ(Lines.size(), 2u);
  EXPECT_LT(Lines[0].size(), 20000u);  // the tail of the long line
  EXPECT_EQ(Lines[1], "next");
}

TEST_F(DataSocket, ClosingDeliversTheUnterminatedRestWithThePartialLineInFront) {
  struct Row {
    const char* Name;
    TIpReceiveMode Mode;
    std::vector<String> Reads;
  };
  const Row rows[] = {
      {"short rest", rmLine, {"AB\r\nrest"}},
      // The partial line (8190 bytes) is longer than what is left in the buffer.
      {"9000-byte line", rmLine, {String(9000, 'n')}},
      // The buffer holds more than the partial line.
      {"16381-byte line", rmLine, {String(8192, 'p'), String(8189, 'q')}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.Name);
    C.DataInits().ReceiveMode = row.Mode;
    Connect();
    String all;
    for (const String& r : row.Reads) {
      Receive(r);
      all += r;
    }
    const size_t before = Lines.size();
    Sock().PeerClosed = true;
    Event(fdClose);
    ASSERT_FALSE(Lines.empty());
    // Every byte arrived, once, in order; the rest came as one piece.
    String got;
    for (const String& l : Lines) got += l;
    EXPECT_EQ(got.size(), all.size());
    EXPECT_TRUE(got == all);
    EXPECT_EQ(Lines.size(), before + 1);
    EXPECT_FALSE(C.IsActive());
    EXPECT_EQ(Sock().Shutdowns, std::vector<int>{1});
    EXPECT_EQ(Sock().Closes, 1);
    ASSERT_FALSE(Statuses.empty());
    EXPECT_EQ(Statuses.back().first, 1);
  }
}

TEST_F(DataSocket, BytesStillOnTheirWayAreReadWhenTheSocketCloses) {
  C.DataInits().StripLineTerminator = true;
  Connect();
  Sock().Input = "late one\r\nlate two";  // arrived, FD_READ not yet handled
  C.Disconnect(S);
  Pump();  // the lines' wake-up
  EXPECT_EQ(Lines, (std::vector<String>{"late one", "late two"}));
}

TEST_F(DataSocket, ReceiveFilters) {
  struct Row {
    TIpSockOptionSet Options;
    String Input;
    std::vector<String> Lines;
    String Echoed;
  };
  const Row rows[] = {
      {SockOption(soStripHighBit), "\xC1\xC2\r\n", {"AB\r\n"}, ""},
      {SockOption(soDiscardReceived), "AB\r\n", {}, ""},
      {SockOption(soEchoReceived), "AB\r\n", {"AB\r\n"}, "AB\r\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.Options);
    C.DataInits().SocketOptions = row.Options;
    Connect();
    Receive(row.Input);
    EXPECT_EQ(Lines, row.Lines);
    EXPECT_EQ(Sock().Output, row.Echoed);
    // Raw bytes always count; data bytes as delivered; an echo is no data written.
    Statuses.clear();
    Platform.Advance(500);
    ASSERT_EQ(Statuses.size(), 1u);
    const TIpByteCounts& c = Statuses[0].second.First;
    EXPECT_EQ(c.RawRead, row.Input.size());
    EXPECT_EQ(c.DataRead, row.Options == SockOption(soDiscardReceived) ? 0u : row.Input.size());
    EXPECT_EQ(c.RawWritten, row.Echoed.size());
    EXPECT_EQ(c.DataWritten, 0u);
  }
}

TEST_F(DataSocket, TheSendQueueHandsOutIdsAndReportsEachItemSent) {
  Connect();
  // Writable and idle: out at once, no id, no report.
  EXPECT_EQ(C.SendText("now"), 0);
  EXPECT_EQ(Sock().Output, "now");
  Pump();
  EXPECT_TRUE(ItemsSent.empty());
  // Blocked: queued with ids 1, 2, 3.
  Sock().SendRoom = 2;
  EXPECT_EQ(C.SendText("abc"), 1);  // two bytes go, then the send blocks
  EXPECT_EQ(C.SendText("def"), 2);
  EXPECT_EQ(C.SendText("ghi"), 3);
  EXPECT_FALSE(D().Writable());
  EXPECT_EQ(D().QueuedItems(), 3u);
  EXPECT_EQ(Sock().Output, "nowab");
  // Room for three more: the first item completes, the second goes out in part.
  Sock().SendRoom = 3;
  Event(fdWrite);
  EXPECT_EQ(ItemsSent, (std::vector<std::pair<int, int>>{{1, 2}}));
  EXPECT_EQ(Sock().Output, "nowabcde");
  Sock().SendRoom = -1;
  Event(fdWrite);
  EXPECT_EQ(ItemsSent, (std::vector<std::pair<int, int>>{{1, 2}, {2, 1}, {3, 0}}));
  EXPECT_EQ(Sock().Output, "nowabcdefghi");
  // A send error other than would-block.
  Sock().SendError = 10054;
  EXPECT_THROW(C.SendText("x"), EIpWinSockError);
}

TEST_F(DataSocket, ItemIdsWrapPastTheLargestAndNeverAre0) {
  struct Counted : TIpDataSocket {
    using TIpDataSocket::TIpDataSocket;
    int Next(uint32_t after) { return FItemCounter = after, QueueData("x", 1, nullptr, false, false, false); }
  } d(&C, WinSockAccess->Socket()(afInet, sockStream, 0), C.LocalAddress, nullptr, nullptr);  // never writable
  EXPECT_EQ(std::vector<int>({d.Next(0x7FFFFFFE), d.Next(0x7FFFFFFF), d.Next(0xFFFFFFFE), d.Next(0xFFFFFFFF)}),
            (std::vector<int>{INT32_MAX, INT32_MIN, -1, 1}));
}

TEST_F(DataSocket, AStreamGoesOutInChunks) {
  struct Row {
    size_t Size;
    std::vector<int> Sends;
  };
  const Row rows[] = {
      {3000, {1460, 1460, 80}},
      {2920, {1460, 1460, 0}},  // a multiple of the chunk ends with one empty send
      {0, {0}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.Size);
    Connect();
    String content;
    for (size_t i = 0; i < row.Size; ++i) content += static_cast<char>('a' + i % 26);
    EXPECT_EQ(C.SendStream(std::make_unique<TMemoryStream>(content)), 0);
    EXPECT_EQ(Sock().SendCalls, row.Sends);
    EXPECT_EQ(Sock().Output, content);
  }
}

TEST_F(DataSocket, AnItemMarkedCloseAfterClosesAndFreesTheSocket) {
  Connect();
  Sock().SendRoom = 0;
  EXPECT_EQ(C.SendText("bye\r\n"), 1);
  EXPECT_EQ(C.SendStream(std::make_unique<TMemoryStream>(String("last")), true), 2);
  EXPECT_EQ(C.SendText("dropped"), 3);  // behind the closing item
  Sock().SendRoom = -1;
  Event(fdWrite);
  EXPECT_EQ(Sock().Output, "bye\r\nlast");
  EXPECT_EQ(ItemsSent, (std::vector<std::pair<int, int>>{{1, 2}, {2, 1}}));
  EXPECT_EQ(Sock().Shutdowns, std::vector<int>{1});
  EXPECT_EQ(Sock().Closes, 1);
  EXPECT_FALSE(C.IsActive());  // through IPM_SOCKET_FREE
  EXPECT_EQ(Statuses.back().first, 1);
  EXPECT_EQ(Platform.Queued(IPM_SOCKET_FREE), 0u);
}

TEST_F(DataSocket, IdleTimeoutOnTheThirdQuietTickThenEveryTickUntilReset) {
  C.DataInits().IdleTimeout = 1000;
  Connect();
  std::vector<uint32_t> at;
  bool reset = false;
  C.OnIdleTimeout = [&](TObject*, TSocket socket, bool& r) {
    EXPECT_EQ(socket, S);
    at.push_back(D().IdleCount());
    r = reset;
  };
  Platform.Advance(1000);
  EXPECT_TRUE(at.empty());
  Platform.Advance(500);
  EXPECT_EQ(at, std::vector<uint32_t>{1500});
  Platform.Advance(500);
  EXPECT_EQ(at, (std::vector<uint32_t>{1500, 2000}));
  // Data moving starts the count again.
  Receive("x\r\n");
  Platform.Advance(1000);
  EXPECT_EQ(at.size(), 2u);
  Platform.Advance(500);
  EXPECT_EQ(at.size(), 3u);
  // A handler that resets: the next timeout comes three ticks later.
  reset = true;
  Platform.Advance(500);
  EXPECT_EQ(at.size(), 4u);
  Platform.Advance(1000);
  EXPECT_EQ(at.size(), 4u);
  Platform.Advance(500);
  EXPECT_EQ(at.size(), 5u);
  // A socket that a status handler closed on the same tick has no idle time.
  D().IdleTimeout = 100;
  C.OnStatus = [&](TObject*, TSocket socket, uint8_t kind, const TIpConnRec&, const TIpSockStatRec&) {
    if (kind == skDataMoved) C.Disconnect(socket);
  };
  Receive("y\r\n");
  Platform.Advance(500);
  EXPECT_FALSE(C.IsActive());
  EXPECT_EQ(at.size(), 5u);
}

TEST_F(DataSocket, StatisticsGrowInBothGroupsAndKind2FollowsDataMovement) {
  Connect();
  Receive("12345\r\n");
  C.SendText("abc");
  Statuses.clear();
  Platform.Advance(500);
  ASSERT_EQ(Statuses.size(), 1u);
  EXPECT_EQ(Statuses[0].first, 2);
  const TIpSockStatRec& s = Statuses[0].second;
  const TIpByteCounts expected{7, 3, 7, 3};
  for (const TIpByteCounts* c : {&s.First, &s.Second}) {
    EXPECT_EQ(c->DataRead, expected.DataRead);
    EXPECT_EQ(c->DataWritten, expected.DataWritten);
    EXPECT_EQ(c->RawRead, expected.RawRead);
    EXPECT_EQ(c->RawWritten, expected.RawWritten);
  }
  // Nothing moved: no kind 2.
  Platform.Advance(500);
  EXPECT_EQ(Statuses.size(), 1u);
}

TEST_F(DataSocket, BufferSizesAreHalvedWhileRefused) {
  using O = TFakeWinSock::Option;
  struct Row {
    int Size;
    int Error;  // what setsockopt of SO_RCVBUF answers; 0 success
    std::vector<O> Tried;
  };
  const Row rows[] = {
      {8192, 0, {{0xFFFF, 0x1002, 8192}}},
      {10000, 10055, {{0xFFFF, 0x1002, 10000}, {0xFFFF, 0x1002, 5000}, {0xFFFF, 0x1002, 2500}}},
      {10000, 10042, {{0xFFFF, 0x1002, 10000}}},
      {10000, 10022, {{0xFFFF, 0x1002, 10000}}},
      {1460, 0, {}},
      {1024, 0, {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::to_string(row.Size) + " " + std::to_string(row.Error));
    C.DataInits().ReceiveBufferSize = row.Size;
    C.DataInits().SendBufferSize = 0;
    Fake.SetSockOptError = row.Error;
    Fake.SetSockOptFailName = 0x1002;
    Connect();
    std::vector<O> tried;
    for (const O& o : Sock().Options)
      if (o.Name == 0x1002 || o.Name == 0x1001) tried.push_back(o);
    EXPECT_EQ(tried, row.Tried);
  }
}

TEST_F(DataSocket, TheDebugLogGetsTheDataKindsItsOptionsAskFor) {
  C.DebugLog().SetEnabled(true);
  struct Row {
    TIpLogOptionSet Options;
    std::vector<uint32_t> Kinds;
  };
  const Row rows[] = {
      {LogOption(loHighData) | LogOption(loTelnet), {0x80000001, 0x80000002}},
      {LogOption(loLowData), {0x80000003, 0x80000004}},
      {LogOption(loHighData) | LogOption(loLowData), {0x80000003, 0x80000001, 0x80000004, 0x80000002}},
      {0, {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.Options);
    C.DataInits().LogOptions = row.Options;
    Connect();
    C.DebugLog().ClearBuffer();
    Receive("in\r\n");
    C.SendText("out");
    std::vector<uint32_t> kinds;
    TIpLogEntry e;
    while (C.DebugLog().GetLogEntry(e)) {
      EXPECT_EQ(e.FormatterClass, &TIpSockControl::FormatDataEntry);
      EXPECT_EQ(static_cast<TSocket>(e.Socket), S);
      const String bytes(static_cast<const char*>(e.Data), e.Length);
      EXPECT_EQ(bytes, e.Kind == 0x80000001 || e.Kind == 0x80000003 ? "in\r\n" : "out");
      kinds.push_back(e.Kind);
    }
    EXPECT_EQ(kinds, row.Kinds);
  }
}

TEST_F(DataSocket, ReadAndSendErrorsCarryTheirApiNames) {
  Connect();
  Sock().RecvError = 10054;
  Event(fdRead);
  ASSERT_EQ(Errors.size(), 1u);
  EXPECT_EQ(Errors[0],
            std::make_tuple(S, 10054, String("WinSock Error (10054): Connection reset by peer, on API 'Recv'")));
  // Not connected and would-block are quiet.
  Sock().RecvError = 10057;
  Event(fdRead);
  Sock().RecvError = 0;
  Event(fdRead);
  EXPECT_EQ(Errors.size(), 1u);
  Sock().SendRoom = 0;
  C.SendText("x");
  Sock().SendError = 10053;
  Event(fdWrite);
  ASSERT_EQ(Errors.size(), 2u);
  EXPECT_EQ(std::get<2>(Errors[1]), "WinSock Error (10053): Software caused connection abort, on API 'send'");
}

TEST_F(DataSocket, ListenerWindowsGetACopyOfEachPiece) {
  constexpr THandle kListener = 0x4242;
  Connect();
  D().AddListenerWindow(kListener);
  Receive("ab");
  Receive("cde");
  D().RemoveListenerWindow(kListener);
  Receive("f");
  std::vector<String> copies;
  for (auto& p : Platform.ForeignPosts)
    if (p.Wnd == kListener && p.Msg == IPM_DATA_COPY) {
      auto bytes = TakeDataCopy(p.WParam);
      copies.emplace_back(reinterpret_cast<const char*>(bytes.get()), static_cast<size_t>(p.LParam));
    }
  EXPECT_EQ(copies, (std::vector<String>{"ab", "cde"}));
}

}  // namespace
