#include "lineclient/LineSession.h"

#include "sock/IpDataSocket.h"
#include "toolkit/Application.h"

namespace {

// The connection's status kinds (OnStatus).
constexpr uint8_t kStatusConnected = 0;
constexpr uint8_t kStatusClosed = 1;

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

std::vector<String> TLineSplitter::Feed(const char* bytes, size_t count) {
  std::vector<String> lines;
  for (size_t i = 0; i < count; ++i) {
    if (bytes[i] != '\n') {
      FPending += bytes[i];
      continue;
    }
    if (!FPending.empty() && FPending.back() == '\r') FPending.pop_back();
    lines.push_back(std::move(FPending));
    FPending.clear();
  }
  return lines;
}

bool TLineSplitter::Finish(String& rest) {
  if (FPending.empty()) return false;
  rest = std::move(FPending);
  FPending.clear();
  return true;
}

void TLineInput::Push(const String& line) {
  std::lock_guard guard(FLock);
  FLines.push_back(line);
  Wake();
}

void TLineInput::End() {
  std::lock_guard guard(FLock);
  FEnded = true;
  Wake();
}

void TLineInput::Attach(THandle wnd, uint32_t msg) {
  std::lock_guard guard(FLock);
  FWindow = wnd;
  FMessage = msg;
  FWakePending = false;
  if (!FLines.empty() || FEnded) Wake();
}

void TLineInput::Detach() {
  std::lock_guard guard(FLock);
  FWindow = 0;
}

bool TLineInput::Take(std::vector<String>& lines) {
  std::lock_guard guard(FLock);
  FWakePending = false;
  for (String& line : FLines) lines.push_back(std::move(line));
  FLines.clear();
  return FEnded;
}

void TLineInput::Wake() {
  // One wake-up at a time: a fast reader must not fill the thread's message queue.
  if (FWindow == 0 || FWakePending) return;
  FWakePending = WindowSystem().Post(FWindow, FMessage, 0, 0);
}

TLineSession::TLineSession(const TLineClientOptions& options, TLineOutput& output)
    : FOptions(options), FOutput(output), FClient(std::make_unique<TResetAwareClient>(nullptr)) {
  FWindow = WindowSystem().CreateMessageWindow([this](TMessage& m) { OnWindowMessage(m); });
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
    if (kind == kStatusConnected) Connected();
    if (kind == kStatusClosed) Finish();
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
  if (message.Msg == WM_LINE_CLOSE) CloseNow();
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
    FClient->CloseAfterSent();
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
  if (!line.empty() && line.back() == '\r')
    FOutput.Line(line.substr(0, line.size() - 1));
  else
    FOutput.Line(line);
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
  reset = true;
  if (FIdle || FFinished) return;
  FIdle = true;
  FOutput.Error("LineClient: nothing arrived for " + std::to_string(FOptions.IdleSeconds) + " s; closing");
  RequestClose();
}

void TLineSession::RequestClose() {
  if (FCloseRequested) return;
  FCloseRequested = true;
  if (!WindowSystem().Post(FWindow->Handle(), WM_LINE_CLOSE, 0, 0)) CloseNow();
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
