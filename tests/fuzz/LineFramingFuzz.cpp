// The line framer on its own: the same bytes fed in one piece or split where the input chooses
// must give the same lines, those a plain model of the terminator finds, and leave the same
// unframed rest. The input may ask for a long run of a byte that ends no line, put where it
// chooses, so inputs of a few KiB (-max_len=4096) make streams of up to 20 KiB.
#include "FuzzCheck.h"
#include "Splits.h"
#include "sock/LineFramer.h"

namespace {

// Complete lines of the stream as the terminator cuts them; the rest is left in `rest`.
std::vector<String> ModelLines(const TIpFraming& f, const String& s, String& rest) {
  std::vector<String> lines;
  size_t start = 0;
  if (f.Terminator == ltNone) {
    while (f.FixedLength != 0 && s.size() - start >= f.FixedLength) {
      lines.push_back(s.substr(start, f.FixedLength));
      start += f.FixedLength;
    }
  } else {
    const char term = f.Terminator == ltCR ? '\r' : f.Terminator == ltOther ? f.TermChar : '\n';
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

// The lines of the reads, then the unframed rest.
std::vector<String> Run(const TIpFraming& f, const std::vector<String>& reads) {
  TIpLineFramer framer;
  std::vector<String> lines;
  String piece;
  for (const String& r : reads) {
    framer.Feed(r.data(), r.size());
    for (;;) {
      const TIpLineFramer::TStep step = framer.Next(f, piece);
      FUZZ_CHECK(step != TIpLineFramer::fsTooLong, "a line too long from %zu bytes", r.size());
      if (step == TIpLineFramer::fsNone) break;
      lines.push_back(piece);
    }
  }
  lines.emplace_back(framer.Unframed());
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
  TIpFraming f;
  const TIpLineTerminator terminators[] = {ltCRLF, ltLF, ltCR, ltOther, ltNone};
  f.Terminator = terminators[in.ConsumeIntegralInRange<int>(0, 4)];
  f.Strip = in.ConsumeBool();
  f.TermChar = in.ConsumeIntegral<char>();
  f.FixedLength = in.ConsumeIntegralInRange<uint32_t>(0, 300);
  const TSplitPlan plan = TSplitPlan::From(in);
  // A run of up to 16383 bytes, inserted where the input says: a long line costs a few bytes of
  // input, and every run spends its time on the bytes that matter.
  const uint16_t padding = in.ConsumeIntegral<uint16_t>();
  const uint16_t paddingAt = in.ConsumeIntegral<uint16_t>();
  String stream = in.ConsumeRemainingBytesAsString();
  if ((padding & 0x8000) != 0) {
    const char filler = f.Terminator == ltOther && f.TermChar == 'x' ? 'y' : 'x';
    stream.insert(paddingAt % (stream.size() + 1), padding & 0x3FFF, filler);
  }

  String rest;
  const std::vector<String> model = ModelLines(f, stream, rest);
  const std::vector<String> whole = Run(f, {stream});
  const std::vector<String> split = Run(f, plan.Apply(stream));
  FUZZ_CHECK(whole == split, "split %s\n  whole %s", Describe(split).c_str(), Describe(whole).c_str());
  FUZZ_CHECK(whole.size() == model.size() + 1, "%zu lines, model %zu", whole.size() - 1, model.size());
  for (size_t i = 0; i < model.size(); ++i)
    FUZZ_CHECK(whole[i] == model[i], "line %zu [%s], model [%s]", i, FuzzHex(whole[i]).c_str(),
               FuzzHex(model[i]).c_str());
  FUZZ_CHECK(whole.back() == rest, "rest [%s], model [%s]", FuzzHex(whole.back().substr(0, 64)).c_str(),
             FuzzHex(rest.substr(0, 64)).c_str());
  return 0;
}
