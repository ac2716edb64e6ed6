// The telnet filter on any received bytes: fed in one piece or split where the input chooses, it
// must give the same data, send the same answers, log the same commands, hand on the same
// subnegotiations and end in the same option state; no read gives back more bytes than it took.
#include "FuzzCheck.h"
#include "Splits.h"
#include "sock/IpTelnet.h"

namespace {

struct Recorder : TIpTelnet {
  String Sent;
  String Log;
  std::vector<String> Subs;

  explicit Recorder(uint8_t setup) {
    OnSend = [this](const String& bytes) { Sent += bytes; };
    OnLog = [this](uint8_t d, uint8_t c, uint8_t o) { Log += {char(d), char(c), char(o)}; };
    if (setup & 1) Terminal = TIpTelnetTerminal{setup & 2 ? "VT100" : "", uint16_t(80 + (setup >> 2)), 24};
    // Some options of the peer's choosing also supported here, to reach more answers.
    if (setup & 0x40) LocalSupported.set(1);
    if (setup & 0x80) RemoteSupported.set(24);
  }
  void HandleSubnegotiation(const String& Text) override {
    Subs.push_back(Text);
    TIpTelnet::HandleSubnegotiation(Text);
  }
};

struct Outcome {
  String Data, Sent, Log;
  std::vector<String> Subs;
  String Options;
  size_t Pending = 0;
};

Outcome Run(uint8_t setup, const std::vector<String>& reads) {
  Recorder t(setup);
  Outcome o;
  for (const String& r : reads) {
    const String data = t.Filter(r);
    FUZZ_CHECK(data.size() <= r.size(), "a read of %zu bytes gave %zu", r.size(), data.size());
    FUZZ_CHECK(t.PendingSize() <= TIpTelnet::MaxSubnegotiation + 2, "%zu bytes held back", t.PendingSize());
    o.Data += data;
  }
  o.Sent = t.Sent;
  o.Log = t.Log;
  o.Subs = t.Subs;
  o.Options = t.LocalEnabled.to_string() + t.LocalPending.to_string() + t.RemoteEnabled.to_string() +
              t.RemotePending.to_string();
  o.Pending = t.PendingSize();
  return o;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  const uint8_t setup = in.ConsumeIntegral<uint8_t>();
  // The input's own cuts only: a read at every byte is the unit tests' business, and here it
  // would cost more than all the rest.
  TSplitPlan plan = TSplitPlan::From(in);
  plan.EveryByte = false;
  const String stream = in.ConsumeRemainingBytesAsString();

  const Outcome whole = Run(setup, {stream});
  const Outcome split = Run(setup, plan.Apply(stream));
  FUZZ_CHECK(split.Data == whole.Data, "data\n  split %s\n  whole %s", FuzzHex(split.Data).c_str(),
             FuzzHex(whole.Data).c_str());
  FUZZ_CHECK(split.Sent == whole.Sent, "sent\n  split %s\n  whole %s", FuzzHex(split.Sent).c_str(),
             FuzzHex(whole.Sent).c_str());
  FUZZ_CHECK(split.Log == whole.Log, "log\n  split %s\n  whole %s", FuzzHex(split.Log).c_str(),
             FuzzHex(whole.Log).c_str());
  FUZZ_CHECK(split.Subs == whole.Subs, "%zu subnegotiations split, %zu whole", split.Subs.size(), whole.Subs.size());
  FUZZ_CHECK(split.Options == whole.Options, "option state");
  FUZZ_CHECK(split.Pending == whole.Pending, "%zu bytes held back split, %zu whole", split.Pending, whole.Pending);
  // Escaped user data is read back as it was.
  const String escaped = TIpTelnet::TelnetEscape(stream);
  for (size_t i = 0, j = 0; i < stream.size(); ++i, ++j) {
    FUZZ_CHECK(escaped[j] == stream[i], "escape");
    if (uint8_t(stream[i]) == 0xFF) FUZZ_CHECK(uint8_t(escaped[++j]) == 0xFF, "escape doubles 0xFF");
  }
  return 0;
}
