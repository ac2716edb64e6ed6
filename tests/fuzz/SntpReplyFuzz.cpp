// The SNTP reply checks on any datagram: CheckReply against a plain model of the verdict, the
// order of its checks included, and the reason text of every verdict.
//
// Input: one control byte (bit 0: the datagram comes from another address, bit 1: from another
// port, bit 2: no request, a listener's check; bits 3-4: how the request stamp is chosen), then
// the datagram's bytes.
#include <cstring>

#include "FuzzCheck.h"
#include "sntp/IpTime.h"

namespace {

struct Model {
  TIpReplyFault Fault = rfNone;
  bool Answer = false;
};

bool AllZero(const uint8_t* p, size_t n) {
  for (size_t i = 0; i < n; ++i)
    if (p[i]) return false;
  return true;
}

Model Expect(const uint8_t* b, size_t n, bool fromServer, const uint8_t* stamp) {
  Model m;
  const bool echoes = !stamp || (n >= 32 && std::memcmp(b + 24, stamp, 8) == 0);
  m.Answer = fromServer && echoes;
  // A key id and a 16- or 20-byte digest may follow the 48 bytes.
  const bool lengthOk = n == 48 || n == 68 || n == 72;
  if (!fromServer)
    m.Fault = rfWrongSource;
  else if (n < 48)
    m.Fault = rfTooShort;
  else if (!lengthOk)
    m.Fault = rfOversized;
  else if (!echoes)
    m.Fault = rfWrongOrigin;
  else if ((b[0] & 7) != 4)
    m.Fault = rfNotServer;
  else if (b[1] == 0)
    m.Fault = rfKissOfDeath;
  else if (AllZero(b + 40, 8))
    m.Fault = rfNoTransmitTime;
  else if ((b[0] >> 6) == 3)
    m.Fault = rfLeapAlarm;
  else if (b[1] >= 16)
    m.Fault = rfUnsynchronised;
  return m;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t control = data[0];
  // The datagram in a buffer of its own size, so that any read past it is caught.
  std::vector<uint8_t> datagram(data + 1, data + size);
  const uint8_t* bytes = datagram.empty() ? nullptr : datagram.data();
  const size_t length = datagram.size();

  TIpSntpRequest request{};
  request.Server.sin_family = afInet;
  request.Server.sin_addr = 0x0100007F;
  request.Server.sin_port = 0x7B00;
  // The stamp: the one the datagram echoes (when it is long enough), or a fixed other one.
  uint8_t stamp[8] = {0xE9, 0x3C, 0x7F, 0x00, 0x40, 0, 0, 0};
  if ((control >> 3 & 3) != 0 && length >= 32) std::memcpy(stamp, bytes + 24, 8);
  if ((control >> 3 & 3) == 2 && length >= 32) stamp[7] ^= 1;
  std::memcpy(&request.Stamp, stamp, 8);

  TSockAddrIn source = request.Server;
  if (control & 1) source.sin_addr = 0x0200007F;
  if (control & 2) source.sin_port = 0x7C00;
  const bool listener = control & 4;

  const TIpReplyVerdict v = CheckReply(bytes, length, source, listener ? nullptr : &request);
  const Model m = Expect(bytes, length, listener || !(control & 3), listener ? nullptr : stamp);
  FUZZ_CHECK(v.Fault == m.Fault, "fault %d, model %d, %zu bytes", int(v.Fault), int(m.Fault), length);
  FUZZ_CHECK(v.Answer == m.Answer, "answer %d, model %d", int(v.Answer), int(m.Answer));
  FUZZ_CHECK(v.Usable() == (m.Fault == rfNone), "usable");
  FUZZ_CHECK(v.Length == length, "length");
  FUZZ_CHECK(v.Mode == (length > 0 ? (bytes[0] & 7) : 0), "mode");
  FUZZ_CHECK(v.Stratum == (length > 1 ? bytes[1] : 0), "stratum");
  FUZZ_CHECK(v.KissCode[4] == 0, "kiss code unterminated");
  if (v.Fault == rfKissOfDeath) {
    // The reference id as text up to its first NUL, unprintable bytes as '?'.
    std::string code;
    for (int i = 0; i < 4 && bytes[12 + i]; ++i) {
      const uint8_t c = bytes[12 + i];
      code += c >= 0x20 && c < 0x7F ? char(c) : '?';
    }
    FUZZ_CHECK(code == v.KissCode, "kiss code [%s], model [%s]", v.KissCode, code.c_str());
  } else {
    FUZZ_CHECK(v.KissCode[0] == 0, "kiss code without kiss-o'-death");
  }
  const String reason = v.Reason();
  FUZZ_CHECK(reason.empty() == v.Usable(), "reason [%s]", reason.c_str());

  const TIpReplyVerdict failed = ReadFailedVerdict(static_cast<int>(control) + 10000);
  FUZZ_CHECK(failed.Fault == rfReadFailed && failed.Answer && !failed.Usable(), "read failed");
  FUZZ_CHECK(failed.Reason() == "read failed (WinSock error " + std::to_string(control + 10000) + ")", "%s",
             failed.Reason().c_str());
  return 0;
}
