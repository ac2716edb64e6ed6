#include "sock/IpTelnet.h"

namespace {

constexpr char kIAC = static_cast<char>(tcIAC);
constexpr uint8_t kCR = 13;

bool IsNegotiation(uint8_t cmd) { return cmd >= tcWILL && cmd <= tcDONT; }

String Bytes(std::initializer_list<uint8_t> bytes) {
  String s;
  for (uint8_t b : bytes) s += static_cast<char>(b);
  return s;
}

}  // namespace

TIpTelnet::TIpTelnet() {
  for (uint8_t o : {toBinary, toSuppressGoAhead, toStatus, toTerminalType, toWindowSize}) LocalSupported.set(o);
  for (uint8_t o : {toBinary, toEcho, toSuppressGoAhead}) RemoteSupported.set(o);
}

String TIpTelnet::Filter(const String& received) {
  String out;
  if (received.empty()) return out;
  FPending += received;
  size_t i = 0;
  // The input read is taken out before the answers go: should sending (or a handler) raise,
  // the commands already answered are not read, and answered, again.
  FFiltering = true;
  try {
    Scan(out, i);
  } catch (...) {
    FFiltering = false;
    FPending.erase(0, i);
    try {
      SendAnswers();
    } catch (...) {
    }
    throw;
  }
  FFiltering = false;
  FPending.erase(0, i);
  SendAnswers();
  return out;
}

void TIpTelnet::Scan(String& out, size_t& i) {
  const String& p = FPending;
  const size_t n = p.size();
  while (i < n) {
    if (FInSubnegotiation) {
      if (!ReadSubnegotiation(i)) break;
      continue;
    }
    const uint8_t b = static_cast<uint8_t>(p[i]);
    if (b != tcIAC) {
      PutData(out, b);
      ++i;
      continue;
    }
    if (i + 1 >= n) break;
    const uint8_t c = static_cast<uint8_t>(p[i + 1]);
    if (c == tcIAC) {
      PutData(out, tcIAC);
      i += 2;
      continue;
    }
    if (i + 2 >= n) break;
    if (c == tcSB) {
      FInSubnegotiation = true;
      FSubBody.clear();
      i += 2;
      continue;
    }
    const uint8_t opt = static_cast<uint8_t>(p[i + 2]);
    if (IsNegotiation(c)) Logged(tdReceived, c, opt);
    // A handler that raises has used the option byte.
    const size_t command = i;
    i += 3;
    if (!HandleTelnetCommand(c, opt)) i = command + 2;
  }
}

void TIpTelnet::SendAnswers() {
  if (FAnswers.empty()) return;
  String answers;
  answers.swap(FAnswers);
  if (OnSend) OnSend(answers);
}

bool TIpTelnet::ReadSubnegotiation(size_t& i) {
  const String& p = FPending;
  while (i < p.size()) {
    // One item of the body: a byte, a doubled IAC that stands for one 0xFF, or an IAC before
    // another byte, which the peer should not send inside a body and which stays as it came.
    String item(1, p[i]);
    if (static_cast<uint8_t>(p[i]) == tcIAC) {
      if (i + 1 >= p.size()) return false;
      const uint8_t x = static_cast<uint8_t>(p[i + 1]);
      if (x == tcSE) {
        i += 2;
        FInSubnegotiation = false;
        if (FSkipping) {
          FSkipping = false;
          return true;
        }
        String body;
        body.swap(FSubBody);
        HandleSubnegotiation(body);
        return true;
      }
      if (x != tcIAC) item += p[i + 1];
    }
    i += static_cast<uint8_t>(p[i]) == tcIAC ? 2 : 1;
    if (FSkipping) continue;
    if (FSubBody.size() + item.size() > MaxSubnegotiation) {
      // Given up: the body is dropped and the rest of it skipped, up to its IAC SE.
      FSkipping = true;
      FSubBody.clear();
      FSubBody.shrink_to_fit();
      continue;
    }
    FSubBody += item;
  }
  return false;
}

void TIpTelnet::PutData(String& out, uint8_t b) {
  // Outside binary mode a bare CR travels as CR NUL; the NUL is no data. Every other byte after
  // a CR is data, LF and CR included. The CR goes out at once, so a CR that ends a read is not
  // held back; the flag drops a NUL that arrives with the next read. In binary mode every byte
  // is data.
  const bool afterCR = FAfterCR;
  FAfterCR = b == kCR;
  if (afterCR && b == 0 && !RemoteEnabled.test(toBinary)) return;
  out += static_cast<char>(b);
}

bool TIpTelnet::HandleTelnetCommand(uint8_t Cmd, uint8_t Opt) {
  switch (Cmd) {
    case tcDO:
      if (LocalEnabled.test(Opt)) return true;
      if (LocalSupported.test(Opt)) {
        // WILL first: a window size that comes before WILL NAWS is one the peer never asked
        // for and may take for garbage.
        SendTelnetCommand(tcWILL, Opt);
        SetLocalOption(Opt);
      } else {
        SendTelnetCommand(tcWONT, Opt);
      }
      return true;
    case tcDONT:
      if (LocalEnabled.test(Opt)) {
        LocalEnabled.reset(Opt);
        SendTelnetCommand(tcWONT, Opt);
      }
      return true;
    case tcWILL:
      if (RemoteEnabled.test(Opt)) return true;
      if (RemoteSupported.test(Opt)) {
        RemoteEnabled.set(Opt);
        SendTelnetCommand(tcDO, Opt);
      } else {
        SendTelnetCommand(tcDONT, Opt);
      }
      return true;
    case tcWONT:
      if (RemoteEnabled.test(Opt)) {
        RemoteEnabled.reset(Opt);
        SendTelnetCommand(tcDONT, Opt);
      }
      return true;
    default: return false;
  }
}

void TIpTelnet::HandleSubnegotiation(const String& Text) {
  if (Text.size() < 2 || Text[1] != 1) return;  // 1: SEND
  if (static_cast<uint8_t>(Text[0]) == toStatus) SendStatus();
  if (static_cast<uint8_t>(Text[0]) == toTerminalType) SendTerminalType();
}

void TIpTelnet::SendTelnetCommand(uint8_t Cmd, uint8_t Opt) {
  Sent(Bytes({tcIAC, Cmd, Opt}));
  Logged(tdSent, Cmd, Opt);
}

void TIpTelnet::SendStatus() {
  if (!LocalEnabled.test(toStatus)) return;
  // STATUS IS, then WILL n for each option this side performs and DO n for each the peer
  // performs. An option number may itself be 0xFF or 0xFA, the two bytes the body doubles.
  String body = Bytes({toStatus, 0});
  for (unsigned n = 0; n < 256; ++n) {
    if (LocalEnabled.test(n)) body += Bytes({tcWILL, static_cast<uint8_t>(n)});
    if (RemoteEnabled.test(n)) body += Bytes({tcDO, static_cast<uint8_t>(n)});
  }
  String doubled;
  for (char ch : body) {
    doubled += ch;
    if (ch == kIAC || static_cast<uint8_t>(ch) == tcSB) doubled += ch;
  }
  Sent(Bytes({tcIAC, tcSB}) + doubled + Bytes({tcIAC, tcSE}));
}

void TIpTelnet::SendTerminalType() {
  if (!LocalEnabled.test(toTerminalType)) return;
  String name = Terminal && !Terminal->TypeName.empty() ? Terminal->TypeName : String("dumb");
  SendSubnegotiation(Bytes({toTerminalType, 0}) + name);  // TERMINAL-TYPE IS
}

void TIpTelnet::SendWindowSize() {
  if (!LocalEnabled.test(toWindowSize) || !Terminal) return;
  const uint16_t w = Terminal->Width, h = Terminal->Height;
  SendSubnegotiation(Bytes({toWindowSize, static_cast<uint8_t>(w >> 8), static_cast<uint8_t>(w),
                            static_cast<uint8_t>(h >> 8), static_cast<uint8_t>(h)}));
}

void TIpTelnet::SetLocalOption(uint8_t Opt) {
  LocalEnabled.set(Opt);
  if (Opt == toWindowSize) SendWindowSize();
}

String TIpTelnet::TelnetEscape(const String& data) {
  String out;
  out.reserve(data.size());
  for (char ch : data) {
    out += ch;
    if (ch == kIAC) out += ch;
  }
  return out;
}

void TIpTelnet::Sent(const String& bytes) {
  if (FFiltering)
    FAnswers += bytes;
  else if (OnSend)
    OnSend(bytes);
}

void TIpTelnet::Logged(uint8_t direction, uint8_t cmd, uint8_t opt) {
  if (OnLog) OnLog(direction, cmd, opt);
}

void TIpTelnet::SendSubnegotiation(const String& body) {
  Sent(Bytes({tcIAC, tcSB}) + TelnetEscape(body) + Bytes({tcIAC, tcSE}));
}
