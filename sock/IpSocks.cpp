#include "sock/IpSocks.h"

#include <algorithm>
#include <cstring>

#include "sock/IpConst.h"

namespace {

void PutBytes(String& out, const void* data, size_t size) { out.append(static_cast<const char*>(data), size); }

uint8_t At(const String& s, size_t i) { return static_cast<uint8_t>(s[i]); }

// Four decimal numbers of 0 to 255 with a dot between each two.
bool IsDottedAddress(const String& text) {
  int parts = 0;
  size_t i = 0;
  while (parts < 4) {
    size_t digits = 0;
    int value = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9' && digits < 3) {
      value = value * 10 + (text[i] - '0');
      ++i;
      ++digits;
    }
    if (digits == 0 || value > 255) return false;
    if (++parts < 4) {
      if (i == text.size() || text[i] != '.') return false;
      ++i;
    }
  }
  return i == text.size();
}

// A text up to its first NUL, which would end it early on the wire anyway.
String UpToNul(const String& text) { return text.substr(0, text.find('\0')); }

}  // namespace

TIpSocksHandshake::TIpSocksHandshake(TIpSocksVersion version, const String& userCode, const String& password,
                                     uint32_t targetAddress, uint16_t targetPort, const String& targetName)
    : FVersion(version),
      FUserCode(userCode),
      FPassword(password),
      FTargetAddress(targetAddress),
      FTargetPort(targetPort),
      FTargetName(targetName) {}

String TIpSocksHandshake::Start() {
  if (FState != NotStarted) return String();
  FState = RequestSent;
  String out;
  if (FVersion == svSocks5) {
    out = {'\x05', '\x02', '\x00', '\x02'};
    return out;
  }
  // SOCKS4a lets the proxy resolve a name: the address 0.0.0.1 says that the name follows the
  // user id. A dotted address needs no resolving and goes as plain SOCKS4.
  bool byName = FVersion == svSocks4a && !FTargetName.empty() && !IsDottedAddress(FTargetName);
  out = {'\x04', '\x01'};
  PutBytes(out, &FTargetPort, 2);
  if (byName)
    out += String{'\0', '\0', '\0', '\x01'};
  else
    PutBytes(out, &FTargetAddress, 4);
  out += UpToNul(FUserCode);
  out += '\0';
  if (byName) {
    out += UpToNul(FTargetName);
    out += '\0';
  }
  return out;
}

String TIpSocksHandshake::ConnectRequest5() const {
  String out = {'\x05', '\x01', '\x00', '\x01'};
  PutBytes(out, &FTargetAddress, 4);
  PutBytes(out, &FTargetPort, 2);
  return out;
}

String TIpSocksHandshake::AuthRequest5() const {
  String out = {'\x01'};
  for (const String* text : {&FUserCode, &FPassword}) {
    size_t n = std::min(text->size(), MaxAuthLength);
    out += static_cast<char>(n);
    out.append(*text, 0, n);
  }
  return out;
}

void TIpSocksHandshake::Refuse(int code) { Refuse(code, Format(SSocksRefused, {code})); }

void TIpSocksHandshake::Refuse(int code, const String& text) {
  FRefused = true;
  FRefusalCode = code;
  FRefusalText = text;
}

void TIpSocksHandshake::Grant(const String& reply, size_t addressAt, size_t portAt) {
  FBoundAddress = 0;
  if (addressAt != String::npos) std::memcpy(&FBoundAddress, reply.data() + addressAt, 4);
  std::memcpy(&FBoundPort, reply.data() + portAt, 2);
  FState = Connected;
}

size_t TIpSocksHandshake::ReplyLength() const {
  if (FVersion != svSocks5) return 8;
  if (FState != ConnectSent) return 2;
  // The connect reply's length follows from its address type (and for a domain name from the
  // name's length byte): version, reply, reserved, type, address, 2-byte port.
  if (FReply.size() < 4) return 4;
  switch (At(FReply, 3)) {
    case 1: return 4 + 4 + 2;
    case 3: return FReply.size() < 5 ? 5 : 4 + 1 + At(FReply, 4) + 2;
    case 4: return 4 + 16 + 2;
    default: return 4;  // unreadable: refused as it stands
  }
}

void TIpSocksHandshake::CheckHeader() {
  const String& r = FReply;
  // SOCKS4 replies carry version 0, the SOCKS5 authentication reply that of its own
  // subnegotiation, 1.
  uint8_t version = FVersion != svSocks5 ? 0 : FState == AuthSent ? 1 : 5;
  if (r.size() >= 1 && At(r, 0) != version) {
    Refuse(BadVersionCode, Format(SSocksBadVersion, {int(At(r, 0))}));
    return;
  }
  if (r.size() < 2) return;
  uint8_t code = At(r, 1);
  if (FVersion != svSocks5) {
    if (code != 90) Refuse(code);
  } else if (FState == RequestSent) {
    if (code != 0 && code != 2) Refuse(code);  // 255: none acceptable; others were not offered
  } else if (code != 0) {
    Refuse(code);
  }
}

void TIpSocksHandshake::ProcessReply(TIpSocksStep& step) {
  const String& r = FReply;
  if (FVersion != svSocks5) {
    Grant(r, 4, 2);
  } else if (FState == RequestSent) {
    if (At(r, 1) == 0) {
      step.Send += ConnectRequest5();
      FState = ConnectSent;
    } else {
      step.Send += AuthRequest5();
      FState = AuthSent;
    }
  } else if (FState == AuthSent) {
    step.Send += ConnectRequest5();
    FState = ConnectSent;
  } else {
    uint8_t type = At(r, 3);
    if (type == 1)
      Grant(r, 4, 8);
    else if (type == 3 || type == 4)
      Grant(r, String::npos, r.size() - 2);  // a name or an IPv6 address: no IPv4 address to report
    else
      Refuse(BadAddressTypeCode, Format(SSocksBadAddressType, {int(type)}));
  }
}

TIpSocksStep TIpSocksHandshake::Receive(const String& received) {
  TIpSocksStep step;
  // Once refused, nothing the proxy sends means anything: no later byte may count as a grant.
  if (Refused()) return step;
  bool wasGranted = Granted();
  if (State() == NotStarted) step.Send = Start();
  // A reply may come in pieces, and the proxy may pass on the target's first bytes in the same
  // read as its final reply: collect each reply until it is whole, then the rest is data. A
  // wrong version or a refusal code is acted on as soon as it is read.
  size_t i = 0;
  while (!Done()) {
    size_t need = ReplyLength();  // grows as a reply's header shows its length
    if (FReply.size() == need) {
      ProcessReply(step);
      FReply.clear();
      continue;
    }
    if (i == received.size()) break;
    size_t take = std::min(need - FReply.size(), received.size() - i);
    FReply.append(received, i, take);
    i += take;
    CheckHeader();
  }
  step.Finished = Refused() || (Granted() && !wasGranted);
  if (Granted()) step.Data = received.substr(i);
  return step;
}
