// One run of LineClient.exe: a TIpCustomClient connects to HOST:PORT, sends the --send texts
// and the lines of standard input, and hands every line that arrives to the output, until
// either side closes, the --lines count is reached, nothing arrives for the --idle time, or the
// connection fails. The end of standard input finishes the connection (CloseWhenDone): the
// server's answers to the last lines are still printed. Everything here runs on the thread that made the session, driven by window
// messages; the lines of standard input come from a reader thread through a TLineInput.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include "lineclient/Options.h"
#include "sock/IpClient.h"
#include "sock/LineFramer.h"
#include "toolkit/Platform.h"
#include "toolkit/SyncObjs.h"
#include "toolkit/WakeUp.h"

// Where the session's texts go, each without a line end.
class TLineOutput {
 public:
  virtual ~TLineOutput() = default;
  virtual void Line(const String& line) = 0;   // a received line (standard output)
  virtual void Error(const String& text) = 0;  // an error or a notice (standard error)
};

// A line as LineClient prints or sends it: a CR at its end is taken off, so CR LF and bare
// LF both end lines.
String WithoutCR(String line);

// Lines handed from the thread that reads standard input to the session, which a posted
// message wakes. Both hold it: the reader may outlive the session.
class TLineInput {
 public:
  // The reader's side: bytes, cut into lines at LF (a CR just before the LF goes with it);
  // a line (without its line end); and the end of the input, which makes an unterminated
  // rest a line of its own.
  void PushBytes(const char* bytes, size_t count);
  void Push(const String& line);
  void End();
  // The session's side: where to post the wake-up; Detach stops the posting.
  void Attach(THandle wnd, uint32_t msg);
  void Detach();
  // Moves what has come into `lines`; true once the input has ended and nothing is left.
  bool Take(std::vector<String>& lines);

 private:
  TCriticalSection FLock;
  TIpLineFramer FFramer;  // the bytes of a line whose end has not come
  std::deque<String> FLines;
  bool FEnded = false;
  // One wake-up at a time: a fast reader must not fill the thread's message queue. A refused
  // post is tried again with the next line.
  TWakeUp FWake;
};

class TLineSession {
 public:
  TLineSession(const TLineClientOptions& options, TLineOutput& output);
  ~TLineSession();
  TLineSession(const TLineSession&) = delete;
  TLineSession& operator=(const TLineSession&) = delete;

  // Lines to send after the --send texts (--stdin); set before Start.
  void SetInput(std::shared_ptr<TLineInput> input);
  // Configures the client and starts connecting. A connection that cannot even be started (a
  // name that does not resolve, no socket) is reported and ends the session with status 2.
  void Start();
  bool Finished() const { return FFinished; }
  // The exit status (TLineClientStatus) once finished.
  int Status() const { return FStatus; }
  // An unexpected failure outside the connection's own errors (an exception that escaped the
  // library's event handling): reported, and the session ends with status 2.
  void Abort(const String& text);

  // Writes the debug log to its file when one was asked for. A failure is reported and turns
  // a clean status 0 into 3.
  void WriteDebugLog();

  // The client, for tests.
  TIpCustomClient& Client() { return *FClient; }

 private:
  void OnWindowMessage(TMessage& message);
  void Connected();
  void ReadLine(const String& line);
  void Error(int code, const String& text);
  void Idle(bool& reset);
  // Hands the input that has come to the client; after its end, closes once it is sent.
  void SendInput();
  // Sends one line; a failure is reported as an error of the connection.
  void Send(const String& line);
  // Asks for the connection to close from a message of its own, outside the socket's work
  // (at once when the message cannot be posted).
  void RequestClose();
  void CloseNow();
  void Finish();

  const TLineClientOptions FOptions;
  TLineOutput& FOutput;
  std::unique_ptr<TIpCustomClient> FClient;
  std::unique_ptr<TMessageWindow> FWindow;
  std::shared_ptr<TLineInput> FInput;
  TWakeUp FCloseRequest{[this] { CloseNow(); }};

  bool FConnected = false;
  bool FFinished = false;
  bool FFailed = false;        // a WinSock error ended or refused the connection
  bool FIdle = false;          // the idle time ran out
  bool FLogFailed = false;     // a log line could not be written
  bool FProxyRefused = false;  // the SOCKS proxy refused the connection
  bool FInputClosed = false;   // the end of the input has been handed to the client
  uint32_t FLinesSeen = 0;
  int FStatus = lcsClosed;
};
