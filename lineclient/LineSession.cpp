#include "lineclient/LineSession.h"

#include "sock/IpDataSocket.h"
#include "toolkit/Application.h"

namespace {

// A client that tells a reset connection from an orderly close. WinSock reports a reset with
// an error in its FD_CLOSE event; Wine's WinSock reports it as a plain FD_CLOSE, but refuses a
// send on the socket afterwards with the reset's error. So an FD_CLOSE that came without an
// error is checked with a send of no bytes (which puts nothing on the wire) before the socket
// closes, and a refusal is reported as the reset it stands for.
class TResetAwareClient final : public TIpCustomClient {
 public:
  using TIpCustomClient::TIpCustomClient;

  void NotifyError(TSocket socket, int errCode, const String& errStr) override {
    const TIpErrorOrigin origin = ErrorOrigin(errCode);
    if (socket == SocketHandle() && (origin == eoWinSock || origin == eoSocks || origin == eoUnknown))
      FErrorReported = true;
    TIpCustomClient::NotifyError(socket, errCode, errStr);
  }

  void NotifyClose(TSocket socket) override {
    if (socket == SocketHandle() && Connected() && !FErrorReported && WinSockAccess &&
        WinSockAccess->Send()(socket, "", 0, 0) != 0 && WinSockAccess->WSAGetLastError()() == wsaeConnReset)
      NotifyError(socket, wsaeConnReset, EIpWinSockError(wsaeConnReset, EventName(fdClose)).Message());
    TIpCustomClient::NotifyClose(socket);
  }

 private:
  bool FErrorReported = false;  // a WinSock error came for the client's socket
};

}  // namespace

String WithoutCR(String line) {
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

void TLineInput::PushBytes(const char* bytes, size_t count) {
  // Lines end at LF; standard input's lines have no length limit.
  TIpFraming framing;
  framing.Terminator = ltLF;
  framing.Strip = true;
  framing.MaxLine = SIZE_MAX;
  std::lock_guard guard(FLock);
  FFramer.Feed(bytes, count);
  String line;
  const size_t before = FLines.size();
  while (FFramer.Next(framing, line) == TIpLineFramer::fsPiece) FLines.push_back(WithoutCR(std::move(line)));
  if (FLines.size() != before) FWake.Request();
}

void TLineInput::Push(const String& line) {
  std::lock_guard guard(FLock);
  FLines.push_back(line);
  FWake.Request();
}

void TLineInput::End() {
  std::lock_guard guard(FLock);
  String rest;
  if (FFramer.TakeAll(rest)) FLines.push_back(std::move(rest));
  FEnded = true;
  FWake.Request();
}

void TLineInput::Attach(THandle wnd, uint32_t msg) {
  std::lock_guard guard(FLock);
  FWake.SetTarget(wnd, msg);
  FWake.Cancel();
  if (!FLines.empty() || FEnded) FWake.Request();
}

void TLineInput::Detach() {
  std::lock_guard guard(FLock);
  FWake.SetTarget(0, 0);
}

bool TLineInput::Take(std::vector<String>& lines) {
  std::lock_guard guard(FLock);
  // What comes after this needs a wake-up of its own; one still on its way finds nothing.
  FWake.Cancel();
  for (String& line : FLines) lines.push_back(std::move(line));
  FLines.clear();
  return FEnded;
}

TLineSession::TLineSession(const TLineClientOptions& options, TLineOutput& output)
    : FOptions(options), FOutput(output), FClient(std::make_unique<TResetAwareClient>(nullptr)) {
  FWindow = WindowSystem().CreateMessageWindow([this](TMessage& m) { OnWindowMessage(m); });
  FCloseRequest.SetTarget(FWindow->Handle(), WM_LINE_CLOSE);
}

TLineSession::~TLineSession() {
  if (FInput) FInput->Detach();
}

void TLineSession::SetInput(std::shared_ptr<TLineInput> input) {
  if (FInput) FInput->Detach();
  FInput = std::move(input);
}

void TLineSession::Start() {
  TIpCustomClient& c = *FClient;
  // Lines end at LF; a CR before it is taken off in ReadLine, so CR LF and bare LF peers both
  // work.
  TIpDataInits& inits = c.DataInits();
  inits.LineTerminator = ltLF;
  inits.StripLineTerminator = true;
  inits.IdleTimeout = FOptions.IdleSeconds * 1000;
  c.DefaultPort = FOptions.Port;
  if (!FOptions.SocksHost.empty()) {
    TIpSocksServerInfo& socks = c.SocksServer();
    socks.Address = FOptions.SocksHost;
    socks.Port = FOptions.SocksPort;
    socks.SocksVersion = FOptions.SocksVersion;
    socks.UserCode = FOptions.SocksUser;
    socks.Password = FOptions.SocksPassword;
  }
  if (FOptions.Telnet) inits.SocketOptions |= SockOption(soTelnet);
  // Lines reach ReadLine while the socket reads them, so those still buffered when the
  // connection closes are printed before the close is handled.
  c.DirectLineEvents = true;
  if (!FOptions.DebugLogFile.empty()) {
    inits.LogOptions = LogOption(loHighData) | LogOption(loLowData) | LogOption(loTelnet);
    c.DebugLog().SetFileName(FOptions.DebugLogFile);
    c.DebugLog().SetEnabled(true);
  }
  if (!FOptions.EventLogFile.empty()) {
    c.EventLog().SetFileName(FOptions.EventLogFile);
    c.EventLog().SetEnabled(true);
  }
  c.OnStatus = [this](TObject*, TSocket, uint8_t kind, const TIpConnRec&, const TIpSockStatRec&) {
    if (kind == skConnected) Connected();
    if (kind == skClosed) Finish();
  };
  c.OnReadLine = [this](TObject*, TSocket, const String& line) { ReadLine(line); };
  c.OnError = [this](TObject*, uint32_t, int code, const String& text) { Error(code, text); };
  c.OnIdleTimeout = [this](TObject*, TSocket, bool& reset) { Idle(reset); };
  if (FInput) FInput->Attach(FWindow->Handle(), WM_LINE_INPUT);
  try {
    c.ConnectTo(FOptions.Host, FOptions.Port);
    // Without a type or a window size nothing is attached: the type is then "dumb" and no
    // window size is reported.
    if (FOptions.Telnet && (!FOptions.TerminalType.empty() || FOptions.WindowCols != 0))
      c.DataSocket()->SetTelnetTerminal({FOptions.TerminalType, FOptions.WindowCols, FOptions.WindowRows});
  } catch (const std::exception& e) {
    FOutput.Error(ExceptionMessage(e));
    FFailed = true;
    Finish();
  }
}

void TLineSession::Abort(const String& text) {
  FOutput.Error(text);
  if (FFinished) return;
  FFailed = true;
  RequestClose();
}

void TLineSession::WriteDebugLog() {
  if (FOptions.DebugLogFile.empty() || !FClient->DebugLog().HasEntries()) return;
  try {
    FClient->DebugLog().WriteDebugLog();
  } catch (const std::exception& e) {
    FOutput.Error(ExceptionMessage(e));
    if (FStatus == lcsClosed) FStatus = lcsLogFailed;
    // The client's destructor would try the same file again.
    FClient->DebugLog().ClearBuffer();
  }
}

void TLineSession::OnWindowMessage(TMessage& message) {
  if (message.Msg == WM_LINE_INPUT) SendInput();
  if (message.Msg == WM_LINE_CLOSE && FCloseRequest.Arrived()) {
    FCloseRequest.Done();
    CloseNow();
  }
}

void TLineSession::Connected() {
  FConnected = true;
  for (const String& text : FOptions.Sends) Send(text);
  SendInput();
}

void TLineSession::SendInput() {
  if (!FInput || !FConnected || FInputClosed || FFinished) return;
  std::vector<String> lines;
  const bool ended = FInput->Take(lines);
  for (const String& line : lines) Send(line);
  if (!ended || FFinished) return;
  FInputClosed = true;
  try {
    // The peer's answers to the last lines are still read: the connection ends when the peer
    // closes, or when nothing arrives for the idle time.
    FClient->CloseWhenDone();
  } catch (const EIpWinSockError& e) {
    Error(e.ErrorCode(), e.Message());
  }
}

void TLineSession::Send(const String& line) {
  try {
    FClient->SendText(line + "\r\n");
  } catch (const EIpWinSockError& e) {
    Error(e.ErrorCode(), e.Message());
  }
}

void TLineSession::ReadLine(const String& line) {
  if (FOptions.Lines != 0 && FLinesSeen >= FOptions.Lines) return;
  ++FLinesSeen;
  FOutput.Line(WithoutCR(line));
  if (FOptions.Lines != 0 && FLinesSeen == FOptions.Lines) RequestClose();
}

void TLineSession::Error(int code, const String& text) {
  FOutput.Error(text);
  switch (ErrorOrigin(code)) {
    case eoLineTooLong: return;  // the line is dropped and reading goes on
    case eoLogWrite: FLogFailed = true; return;
    case eoSocks:
      if (!FFinished) FProxyRefused = true;
      break;
    default: break;
  }
  if (FFinished) return;
  FFailed = true;
  RequestClose();
}

void TLineSession::Idle(bool& reset) {
  // After the end of the input the client closes the connection itself: a quiet peer is the
  // normal end then.
  if (FInputClosed) return;
  reset = true;
  if (FIdle || FFinished) return;
  FIdle = true;
  FOutput.Error("LineClient: nothing arrived for " + std::to_string(FOptions.IdleSeconds) + " s; closing");
  RequestClose();
}

void TLineSession::RequestClose() {
  if (!FFinished) FCloseRequest.Request();
}

void TLineSession::CloseNow() {
  if (FFinished) return;
  const TSocket socket = FClient->SocketHandle();
  if (socket != InvalidSocket) {
    try {
      FClient->Disconnect(socket);
    } catch (const std::exception& e) {
      FOutput.Error(ExceptionMessage(e));
    }
  }
  // A socket that never connected reports no close.
  Finish();
}

void TLineSession::Finish() {
  if (FFinished) return;
  FFinished = true;
  FConnected = false;
  if (FProxyRefused)
    FStatus = lcsProxyRefused;
  else if (FFailed)
    FStatus = lcsNoConnection;
  else if (FIdle)
    FStatus = lcsIdle;
  else if (FLogFailed)
    FStatus = lcsLogFailed;
  else
    FStatus = lcsClosed;
}
