// The data socket: the socket object of a connected client. Received bytes flow one way: it
// reads whatever WinSock has for it, passes the bytes through the receive stages (SOCKS reply,
// telnet commands, high-bit stripping, echo, discard) and then the line framer, whose pieces
// it hands to its owner (DoReadLine) as lines, fixed-length records or raw chunks, or writes
// to a stream. It sends through a queue of items, so that a
// send that would block goes on when WinSock reports the socket writable again. It counts the
// bytes both ways, reports data movement and idle time on the owner's timer ticks, logs raw
// and delivered bytes to the owner's debug log, and closes in order: what is still buffered is
// delivered first.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include "sock/IpSocket.h"
#include "sock/IpSocks.h"
#include "sock/IpTelnet.h"
#include "sock/LineFramer.h"
#include "toolkit/Streams.h"

// Received bytes that a data socket posts to a listener window (IPM_DATA_COPY, WParam): the
// receiver takes them over with this, which frees them when it goes.
std::unique_ptr<uint8_t[]> TakeDataCopy(uintptr_t wparam);

class TIpDataSocket : public TIpBaseSocket {
 public:
  static constexpr uint32_t BufferCapacity = 65536;              // the most one recv reads
  static constexpr uint32_t MaxLineBuf = 1048576;                // longest line kept while its end is missing
  static constexpr int LineTooLongError = LineTooLongErrorCode;  // OnError code when a line outgrows MaxLineBuf
  static constexpr uint32_t StreamChunk = 1460;                  // bytes read from a stream per send
  static constexpr uint32_t TelnetStreamChunk = 1024;

  // `inits` may be nullptr: the defaults of TIpDataInits then apply.
  TIpDataSocket(TIpSockControl* owner, TSocket existing, const TSockAddrIn& localAddress, const TIpDataInits* inits,
                const TIpSocksServerInfo* socks);
  ~TIpDataSocket() override;

  // How received bytes are handed on. Read and changed on the owner's thread.
  uint32_t FixedLineLength = 80;  // record length with ltNone
  uint32_t IdleTimeout = 0;       // ms; 0 = none
  char LineTermChar = '\n';       // the terminator of ltOther
  TIpLineTerminator LineTerminator = ltCRLF;
  TIpLogOptionSet LogOptions = LogOption(loHighData) | LogOption(loTelnet);
  TIpReceiveMode ReceiveMode = rmLine;
  bool StripLineTerminator = false;

  // Where rmStream writes; not owned (the caller keeps it alive while it is set).
  TStream* ReceiveStream() const { return FReceiveStream; }
  void SetReceiveStream(TStream* stream);
  // Windows that get a copy of every received piece (IPM_DATA_COPY); the receiver frees it.
  void AddListenerWindow(THandle wnd);
  void RemoveListenerWindow(THandle wnd);

  // The socket's buffer sizes: tried with SO_RCVBUF / SO_SNDBUF and halved while the system
  // refuses them, down to 1460 bytes; 1460 or less keeps the system's default.
  void SetReceiveBufferSize(int size);
  void SetSendBufferSize(int size);

  // State, for the owner and for tests.
  uint32_t IdleCount() const { return FIdleCount; }
  bool Writable() const { return FWritable; }
  // Received bytes not yet delivered: the start of a line whose end has not come.
  std::string_view Unframed() const { return FFramer.Unframed(); }
  size_t QueuedItems() const { return FSendQueue.size(); }
  // The proxy refused the connection (or hung up during the handshake): nothing can be sent.
  bool Refused() const { return FSocks && FSocks->Refused(); }

  // The virtual operations added to those of the base socket, in slot order.
  // OnIdleTimeout; a handler that sets Reset starts the idle time again.
  virtual void IdleTimedOut();
  // The one way to send. Queues `len` bytes of `data`, or the content of `stream` (taken over
  // and read chunk by chunk as it goes out); `closeAfter` closes the socket once the item is
  // sent and has the owner free the object (IPM_SOCKET_FREE); `protocol` bytes are not counted
  // as data nor logged as written data; `raw` bytes get no telnet doubling. Returns the item's
  // id, or 0 when it went out at once (protocol items get none and no OnItemSent). Raises
  // EIpWinSockError 10057 for the user's bytes after the proxy refused the connection.
  virtual int QueueData(const void* data, int len, std::unique_ptr<TStream> stream, bool closeAfter, bool protocol,
                        bool raw);
  // The telnet hooks (telnet mode): each command received with its option byte, and each
  // subnegotiation body, as TIpTelnet hands them on. By default they answer as TIpTelnet
  // does; a descendant may answer otherwise (with the Send operations below), or call these
  // for the usual answer. HandleTelnetCommand returns whether the option byte was used.
  virtual void HandleSubnegotiation(const String& Text);
  virtual bool HandleTelnetCommand(uint8_t Cmd, uint8_t Opt);

  void HandleClose() override;
  void HandleRead() override;
  void HandleTimer(uint32_t elapsed) override;
  void HandleWrite() override;
  // Orderly close: Shutdown, read what is still on its way, deliver what is buffered (the
  // partial line in front) as a last piece, then close the handle, whatever raised before.
  void Close() override;
  void Connect(const TSockAddrIn& addr, const String& addressText) override;

  // The terminal the telnet peer learns about (type name, width and height); used in telnet
  // mode only.
  void SetTelnetTerminal(const TIpTelnetTerminal& terminal);
  // The telnet logic, made on first use: its option sets say what each side performs and what
  // this side agrees to. Its output goes to the send queue as protocol bytes, its commands to
  // the debug log (loTelnet).
  TIpTelnet& Telnet();
  // Negotiation this side starts, through the telnet logic: IAC Cmd Opt; IAC SB, the body
  // with 0xFF doubled, IAC SE; STATUS IS and TERMINAL-TYPE IS, each only while the option is
  // enabled here. They raise EIpWinSockError as QueueData does.
  void SendTelnetCommand(uint8_t Cmd, uint8_t Opt);
  void SendSubnegotiation(const String& Body);
  void SendStatus();
  void SendTerminalType();
  // Reports the terminal's window size to the telnet peer, when it agreed to hear it.
  void SendWindowSize() override;
  // Starts the SOCKS handshake once the proxy connection is up.
  void SendSocksRequest() override;

  // Ends sending: drops what is still queued and shuts the send side down.
  void Shutdown();
  // Finishes the connection from this side: what is queued goes out, then the send side is
  // shut down, so the peer sees the end of the data, and reading goes on until the peer
  // closes. With an IdleTimeout, an idle time-out that OnIdleTimeout does not reset closes the
  // connection too. Data queued afterwards is refused with EIpWinSockError 10058.
  void FinishSending();
  bool Finishing() const { return FFinishing; }
  // Reads once from the socket, passes the bytes through the stages and feeds them to the
  // framer; returns the bytes fed. With `force` it reads also when not connected, and a failing
  // recv ends it quietly.
  int ReadSocket(bool force);
  // Delivers at most one piece of what the framer holds, cut with the settings as they are now
  // (rmLine: a line or record, through the owner's DoReadLine; rmAny: all of it; rmStream:
  // written to the stream); true when the caller should call again. A line that outgrows
  // MaxLineBuf is dropped and reported with LineTooLongError.
  bool ProcessBuffer();
  // Sends from the head of the queue; true when the caller should call again.
  bool FlushQueue();

 protected:
  // The receive filters' hooks, each rewriting the `len` bytes at `data` and returning the new
  // count: the SOCKS reply while the handshake runs (SocksState 1..4), and telnet commands in
  // telnet mode. The SOCKS handshake and the telnet handling fill them in.
  virtual int ProcessSocksReply(uint8_t* data, int len);
  virtual int TelnetFilter(uint8_t* data, int len);

  // The last item id handed out. Ids count up and wrap past 0xFFFFFFFF (as int, past the
  // largest to the most negative), skipping 0, which means "sent at once".
  uint32_t FItemCounter = 0;

 private:
  struct TSendItem {
    int Id = 0;
    bool CloseAfter = false;
    bool Protocol = false;
    std::unique_ptr<TStream> Stream;  // more to read from it
    String Buf;                       // bytes as they go on the wire
    uint32_t Sent = 0;
    uint32_t DataLen = 0;  // user bytes Buf stands for, before telnet doubling
    bool Doubled = false;  // Buf has the user's 0xFF bytes doubled (telnet mode)
  };
  int NextItemId();
  // Sends what the item has left; true when the item is finished.
  bool SendItem(TSendItem& item);
  void LoadStreamChunk(TSendItem& item);
  // Closes after a CloseAfter item and has the owner free the object.
  void CloseAndRequestFree();
  void ClearQueue();
  void ResetIdle() { FIdleCount = 0; }
  void AddIdle(uint32_t elapsed);
  void PostDataCopies(const uint8_t* data, int len);
  void CountRead(uint32_t raw, uint32_t data);
  void CountWritten(uint32_t raw, uint32_t data);
  void Log(uint32_t kind, const void* data, uint32_t len);
  // Hands everything unframed to the owner as one piece.
  bool DeliverRest();
  TIpFraming Framing() const;
  void SetBufferSize(int option, int size);
  // The SOCKS handshake ended: reports the connection or the refusal.
  void SocksFinished();
  // After FinishSending: shuts the send side once nothing is left to send.
  void ShutSendWhenSent();

  uint8_t FBuffer[BufferCapacity];  // what one recv read, rewritten by the stages in place
  TIpLineFramer FFramer;
    std::deque<std::unique_ptr<TSendItem>> FSendQueue;
  // The user's items queued while the SOCKS handshake runs: they go out after the grant.
  std::deque<std::unique_ptr<TSendItem>> FHeldItems;
  std::unique_ptr<TIpSocksHandshake> FSocks;
  std::unique_ptr<TIpTelnet> FTelnet;
  bool FSocksDone = false;  // the last reply ended the handshake; reported after its read
  bool FTelnetReading = false;  // TelnetFilter runs: a failed answer is reported after the read
  bool FDataMoved = false;
  bool FWritable = false;
  bool FFinishing = false;  // FinishSending was called
  bool FSendShut = false;   // the send side is shut down
  uint32_t FIdleCount = 0;
  TStream* FReceiveStream = nullptr;
  std::vector<THandle> FListenerWindows;
};
