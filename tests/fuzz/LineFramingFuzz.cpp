// Line framing of a connected client's data socket (rmLine), through its public API over the
// fake WinSock: the same bytes received in one piece or split where the input chooses (and read
// by recv in chunks of any size) must give the same lines, and those a plain model of the
// terminator finds. Streams longer than the 8192-byte receive buffer reach the partial-line path:
// the input may ask for a long run of a byte that ends no line, put where it chooses, so inputs
// of a few KiB (-max_len=4096) make streams of up to 20 KiB.
#include "FuzzCheck.h"
#include "Splits.h"
#include "fakes/FakePlatform.h"
#include "fakes/FakeWinSock.h"
#include "sock/IpClient.h"
#include "sock/IpDataSocket.h"

namespace {

struct Framing {
  TIpLineTerminator Terminator;
  bool Strip;
  char Other;
  uint32_t Fixed;
  size_t RecvChunk;
};

// Complete lines of the stream as the terminator cuts them; the rest is left in `rest`.
std::vector<String> ModelLines(const Framing& f, const String& s, String& rest) {
  std::vector<String> lines;
  size_t start = 0;
  if (f.Terminator == ltNone) {
    while (f.Fixed != 0 && s.size() - start >= f.Fixed) {
      lines.push_back(s.substr(start, f.Fixed));
      start += f.Fixed;
    }
  } else {
    const char term = f.Terminator == ltCR ? '\r' : f.Terminator == ltOther ? f.Other : '\n';
    for (size_t i = 0; i < s.size(); ++i) {
      if (s[i] != term) continue;
      // CR LF: the LF ends a line only after a CR of the same line.
      if (f.Terminator == ltCRLF && !(i > start && s[i - 1] == '\r')) continue;
      const size_t termLen = !f.Strip ? 0 : f.Terminator == ltCRLF ? 2 : 1;
      lines.push_back(s.substr(start, i + 1 - start - termLen));
      start = i + 1;
    }
  }
  rest = s.substr(start);
  return lines;
}

// The fake platform and WinSock live as long as the process: made anew for each input they cost
// more than the framing (the fake loader builds its table for every entry point looked up). Each
// run leaves them as it found them: no window, no message waiting, no socket.
struct TWorld {
  TFakePlatform Platform;
  TFakeWinSockModule WinSock;
};

TWorld& World() {
  static TWorld world;
  return world;
}

std::vector<String> Run(const Framing& f, const std::vector<String>& reads) {
  TFakePlatform& platform = World().Platform;
  TFakeWinSock& fake = World().WinSock.Fake;
  std::vector<String> lines;
  {
    TIpCustomClient client{nullptr};
    client.OnReadLine = [&](TObject*, TSocket, const String& line) { lines.push_back(line); };
    client.OnError = [&](TObject*, uint32_t, int code, const String& text) {
      FUZZ_CHECK(false, "error %d: %s", code, text.c_str());
    };
    client.DataInits().LineTerminator = f.Terminator;
    client.DataInits().StripLineTerminator = f.Strip;
    client.DataInits().LineTermChar = f.Other;
    client.DataInits().FixedLineLength = f.Fixed;
    const TSocket s = client.ConnectTo("10.1.2.3:23");
    auto event = [&](uint32_t e) {
      fake.PostEvent(s, e, 0);
      platform.ProcessMessages();
    };
    event(fdConnect);
    event(fdWrite);
    TFakeWinSock::SocketState& socket = fake.Sockets.at(s);
    socket.RecvChunk = f.RecvChunk;
    for (const String& r : reads) {
      socket.Input += r;
      event(fdRead);
    }
    FUZZ_CHECK(socket.Input.empty(), "%zu bytes left unread", socket.Input.size());
    // What is buffered and not yet a line is still there: it must be what follows the last line.
    const TIpDataSocket& d = *client.DataSocket();
    lines.push_back(d.PartialLine() + "|" + std::to_string(d.Filled() - d.Consumed()));
  }
  // The client gone, nothing of it is left for the next run.
  platform.ProcessMessages();
  FUZZ_CHECK(platform.Windows().empty(), "%zu windows left", platform.Windows().size());
  FUZZ_CHECK(fake.OpenSockets() == 0, "%zu sockets left open", fake.OpenSockets());
  // The fakes log every socket, address and stray post; cleared, their memory stays flat over
  // millions of runs.
  fake.Sockets.clear();
  fake.AddressTexts.clear();
  platform.ForeignPosts.clear();
  return lines;
}

String Describe(const std::vector<String>& lines) {
  String out;
  for (const String& l : lines) out += "[" + FuzzHex(l.substr(0, 64)) + (l.size() > 64 ? "..." : "") + "] ";
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  Framing f;
  const TIpLineTerminator terminators[] = {ltCRLF, ltLF, ltCR, ltOther, ltNone};
  f.Terminator = terminators[in.ConsumeIntegralInRange<int>(0, 4)];
  f.Strip = in.ConsumeBool();
  f.Other = in.ConsumeIntegral<char>();
  f.Fixed = in.ConsumeIntegralInRange<uint32_t>(0, 300);
  const size_t chunks[] = {0, 1, 7, 1460};
  f.RecvChunk = chunks[in.ConsumeIntegralInRange<int>(0, 3)];
  // The input's own cuts only: a read at every byte is the unit tests' business, and here it
  // would cost as much as all the rest.
  TSplitPlan plan = TSplitPlan::From(in);
  plan.EveryByte = false;
  // A run of up to 16383 bytes, inserted where the input says: a long line costs a few bytes of
  // input, and every run spends its time on the bytes that matter. Short fixed records of it
  // would only be thousands of equal lines.
  const uint16_t padding = in.ConsumeIntegral<uint16_t>();
  const uint16_t paddingAt = in.ConsumeIntegral<uint16_t>();
  String stream = in.ConsumeRemainingBytesAsString();
  if ((padding & 0x8000) != 0 && !(f.Terminator == ltNone && f.Fixed != 0 && f.Fixed < 64)) {
    const char filler = f.Terminator == ltOther && f.Other == 'x' ? 'y' : 'x';
    stream.insert(paddingAt % (stream.size() + 1), padding & 0x3FFF, filler);
  }
  // Every recv is a message through the fake platform: a byte a recv over a long stream would
  // spend the run on messages. Reads of a byte only for short streams; 7 bytes still makes
  // thousands of reads over a long line, each searched where the last one stopped.
  if (f.RecvChunk == 1 && stream.size() > 512) f.RecvChunk = 0;

  String rest;
  const std::vector<String> model = ModelLines(f, stream, rest);
  const std::vector<String> whole = Run(f, {stream});
  const std::vector<String> split = Run(f, plan.Apply(stream));
  // The lines, then the partial line and the buffered bytes, which together are the rest. Where
  // the rest lies (how much of it has moved to the partial line) depends on the reads.
  const std::vector<String> lines(whole.begin(), whole.end() - 1);
  FUZZ_CHECK(std::equal(lines.begin(), lines.end(), split.begin(), split.end() - 1), "split %s\n  whole %s",
             Describe(split).c_str(), Describe(whole).c_str());
  FUZZ_CHECK(lines.size() == model.size(), "%zu lines, model %zu", lines.size(), model.size());
  for (size_t i = 0; i < model.size(); ++i)
    FUZZ_CHECK(lines[i] == model[i], "line %zu [%s], model [%s]", i, FuzzHex(lines[i]).c_str(),
               FuzzHex(model[i]).c_str());
  for (const String& tail : {whole.back(), split.back()}) {
    const size_t bar = tail.rfind('|');
    FUZZ_CHECK(bar + std::stoul(tail.substr(bar + 1)) == rest.size() && rest.starts_with(tail.substr(0, bar)),
               "rest of %zu bytes, partial line [%s]", rest.size(), FuzzHex(tail.substr(0, 64)).c_str());
  }
  return 0;
}
