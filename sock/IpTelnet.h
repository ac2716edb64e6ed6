// Telnet option handling of a data socket in telnet mode, as byte-in, byte-out logic. Received
// bytes go through Filter, which takes out commands, answers option negotiation and
// subnegotiations, and returns the data bytes they carry; it keeps an unfinished command for
// the next read. Everything this side sends (negotiation answers, status, terminal type,
// window size) goes to OnSend as raw protocol bytes; each negotiation command received or sent
// goes to OnLog. The class knows no socket: the data socket owns one, feeds it what recv
// returned, queues what OnSend hands it, and doubles 0xFF in user data with TelnetEscape.
// It takes no lock of its own: the data socket calls it under the socket's lock.
#pragma once

#include <bitset>
#include <cstdint>
#include <functional>
#include <optional>

#include "toolkit/SysUtils.h"

// Telnet command bytes.
enum TIpTelnetCommand : uint8_t {
  tcSE = 240,
  tcNOP = 241,
  tcSB = 250,
  tcWILL = 251,
  tcWONT = 252,
  tcDO = 253,
  tcDONT = 254,
  tcIAC = 255
};

// The telnet options this side knows by name.
enum TIpTelnetOption : uint8_t {
  toBinary = 0,
  toEcho = 1,
  toSuppressGoAhead = 3,
  toStatus = 5,
  toTerminalType = 24,
  toWindowSize = 31
};

// One bit per option number.
using TIpTelnetOptionSet = std::bitset<256>;

// Directions of a logged negotiation command.
enum TIpTelnetDirection : uint8_t { tdReceived = 1, tdSent = 2 };

// What the peer learns about the terminal in front of this side.
struct TIpTelnetTerminal {
  String TypeName;  // empty: "dumb"
  uint16_t Width = 0;
  uint16_t Height = 0;
};

class TIpTelnet {
 public:
  // The longest subnegotiation body (after IAC SB, undoubled) that is waited for.
  static constexpr size_t MaxSubnegotiation = 4096;

  TIpTelnet();
  virtual ~TIpTelnet() = default;

  // Raw protocol bytes to put on the wire; unassigned: nothing is sent.
  std::function<void(const String& bytes)> OnSend;
  // Each WILL, WONT, DO or DONT received (tdReceived) and each command sent (tdSent).
  std::function<void(uint8_t direction, uint8_t cmd, uint8_t opt)> OnLog;

  // Options this side agrees to perform, performs now, and asked about first (never: nothing
  // here asks first); the same three for the peer's options.
  TIpTelnetOptionSet LocalSupported;   // {0, 3, 5, 24, 31}
  TIpTelnetOptionSet LocalEnabled;     // empty
  TIpTelnetOptionSet LocalPending;     // empty
  TIpTelnetOptionSet RemoteSupported;  // {0, 1, 3}
  TIpTelnetOptionSet RemoteEnabled;    // empty
  TIpTelnetOptionSet RemotePending;    // empty

  // The attached terminal; none by default (the terminal type is then "dumb" and no window
  // size is ever sent).
  std::optional<TIpTelnetTerminal> Terminal;

  // Takes the bytes just received and returns the data bytes they carry. Commands are
  // answered on the way; input that ends inside a command is kept and put in front of the
  // next call's bytes. Unless the peer sends in binary mode, CR NUL becomes a bare CR. The
  // result is never longer than received, so a caller may write it over its receive buffer.
  // The answers go to OnSend in one piece once the input is read: should OnSend (or a
  // handler) raise, the data of this call is lost with the exception, but what was read is
  // not read, nor answered, again.
  String Filter(const String& received);
  // Bytes of received input held back for the next call: an unfinished command, or the body
  // of an unfinished subnegotiation read so far (at most MaxSubnegotiation bytes; none of one
  // being skipped).
  size_t PendingSize() const { return FPending.size() + FSubBody.size(); }

  // Answers a received command with its option byte. True when the option byte belongs to the
  // command (WILL, WONT, DO, DONT); false leaves the byte to be read again as input.
  virtual bool HandleTelnetCommand(uint8_t Cmd, uint8_t Opt);
  // A received subnegotiation: the bytes between IAC SB and IAC SE, option byte first, each
  // doubled IAC as one 0xFF. A body longer than MaxSubnegotiation is dropped instead: the rest
  // of it is skipped up to its IAC SE, without being kept.
  virtual void HandleSubnegotiation(const String& Text);

  // Sends IAC Cmd Opt.
  void SendTelnetCommand(uint8_t Cmd, uint8_t Opt);
  // STATUS IS: which options each side performs, all 256 in ascending order, 0xFF and 0xFA
  // doubled in the body. Only while STATUS is enabled here.
  void SendStatus();
  // TERMINAL-TYPE IS with the terminal's type name. Only while TERMINAL-TYPE is enabled here.
  void SendTerminalType();
  // The terminal's width and height. Only while NAWS is enabled here and a terminal exists.
  void SendWindowSize();
  // IAC SB, the body with 0xFF doubled, IAC SE.
  void SendSubnegotiation(const String& body);
  // This side performs Opt from now on; for NAWS the window size goes out at once.
  void SetLocalOption(uint8_t Opt);

  // Data to send with every 0xFF byte doubled, so the peer does not read it as IAC.
  static String TelnetEscape(const String& data);

 private:
  // Reads the body of the subnegotiation that FInSubnegotiation says is open from FPending[i]
  // on. True when it ended at its IAC SE (handed on, or dropped when it was longer than
  // MaxSubnegotiation); false when the input ran out.
  bool ReadSubnegotiation(size_t& i);
  // Appends one received data byte to out, unless it is the NUL of a CR NUL.
  void PutData(String& out, uint8_t b);
  // Reads FPending from i on, answering commands into FAnswers; i ends past what was read.
  void Scan(String& out, size_t& i);
  void SendAnswers();
  void Sent(const String& bytes);
  void Logged(uint8_t direction, uint8_t cmd, uint8_t opt);

  String FPending;                 // received input not yet read
  bool FInSubnegotiation = false;  // after IAC SB, before its IAC SE
  String FSubBody;                 // the undoubled body read so far
  bool FSkipping = false;          // the body outgrew MaxSubnegotiation: skipped up to IAC SE
  bool FFiltering = false;         // inside Filter: answers wait in FAnswers
  String FAnswers;
  bool FAfterCR = false;  // the last data byte was a CR
};
