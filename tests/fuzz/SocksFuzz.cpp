// The SOCKS handshake on any reply bytes from the proxy: fed in one piece or split anywhere, it
// must send the same requests, pass on the same data and end the same way (granted with the
// same bound address, or refused with the same code and text); no read gives back more data
// than it took, and after the end nothing more is read as a reply.
#include "FuzzCheck.h"
#include "Splits.h"
#include "sock/IpSocks.h"

namespace {

struct Outcome {
  String Sent, Data;
  int Finished = 0;
  uint8_t State = 0;
  bool Granted = false, Refused = false;
  uint32_t Address = 0;
  uint16_t Port = 0;
  int Code = 0;
  String Text;
};

struct Setup {
  TIpSocksVersion Version;
  String User, Password, Name;
};

Outcome Run(const Setup& s, const std::vector<String>& reads) {
  TIpSocksHandshake h(s.Version, s.User, s.Password, 0x0100007F, 0x5000, s.Name);
  Outcome o;
  o.Sent = h.Start();
  FUZZ_CHECK(!o.Sent.empty() && h.Start().empty(), "Start");
  for (const String& r : reads) {
    const bool doneBefore = h.Done(), grantedBefore = h.Granted();
    const TIpSocksStep step = h.Receive(r);
    FUZZ_CHECK(step.Data.size() <= r.size(), "a read of %zu bytes gave %zu", r.size(), step.Data.size());
    if (grantedBefore) FUZZ_CHECK(step.Data == r && step.Send.empty() && !step.Finished, "data after the grant");
    if (doneBefore && !grantedBefore) FUZZ_CHECK(step.Data.empty() && step.Send.empty(), "bytes after a refusal");
    if (!h.Granted()) FUZZ_CHECK(step.Data.empty(), "data before the grant");
    // A grant passes on exactly what followed its reply: the end of this read.
    if (!step.Data.empty()) FUZZ_CHECK(r.ends_with(step.Data), "data not from the end of the read");
    FUZZ_CHECK(h.State() >= TIpSocksHandshake::NotStarted && h.State() <= TIpSocksHandshake::Connected, "state");
    FUZZ_CHECK(!(h.Granted() && h.Refused()), "granted and refused");
    o.Sent += step.Send;
    o.Data += step.Data;
    o.Finished += step.Finished;
  }
  FUZZ_CHECK(o.Finished == (h.Done() ? 1 : 0), "finished %d times", o.Finished);
  o.State = h.State();
  o.Granted = h.Granted();
  o.Refused = h.Refused();
  o.Address = h.BoundAddress();
  o.Port = h.BoundPort();
  o.Code = h.RefusalCode();
  o.Text = h.RefusalText();
  if (o.Refused) FUZZ_CHECK(!o.Text.empty(), "a refusal without text");
  return o;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  const uint8_t choice = in.ConsumeIntegral<uint8_t>();
  Setup s;
  s.Version = static_cast<TIpSocksVersion>(choice % 3);
  // User and password: none, short, or longer than an authentication can carry.
  const size_t lengths[] = {0, 4, 300};
  s.User = String(lengths[(choice >> 2) % 3], 'u');
  s.Password = String(lengths[(choice >> 4) % 3], 'p');
  s.Name = choice & 0x40 ? "proxy.example" : "";
  const TSplitPlan plan = TSplitPlan::From(in);
  const String replies = in.ConsumeRemainingBytesAsString();

  const Outcome whole = Run(s, {replies});
  const Outcome split = Run(s, plan.Apply(replies));
  FUZZ_CHECK(split.Sent == whole.Sent, "sent\n  split %s\n  whole %s", FuzzHex(split.Sent).c_str(),
             FuzzHex(whole.Sent).c_str());
  FUZZ_CHECK(split.Data == whole.Data, "data\n  split %s\n  whole %s", FuzzHex(split.Data).c_str(),
             FuzzHex(whole.Data).c_str());
  FUZZ_CHECK(split.State == whole.State && split.Granted == whole.Granted && split.Refused == whole.Refused,
             "state %d/%d/%d split, %d/%d/%d whole", split.State, split.Granted, split.Refused, whole.State,
             whole.Granted, whole.Refused);
  FUZZ_CHECK(split.Address == whole.Address && split.Port == whole.Port, "bound address");
  FUZZ_CHECK(split.Code == whole.Code && split.Text == whole.Text, "refusal %d [%s] split, %d [%s] whole", split.Code,
             split.Text.c_str(), whole.Code, whole.Text.c_str());
  return 0;
}
