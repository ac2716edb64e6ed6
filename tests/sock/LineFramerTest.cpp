// The line framer on its own: lines and records whatever the reads, the unframed rest, and the
// cap on an unfinished line.
#include <gtest/gtest.h>

#include "sock/LineFramer.h"

namespace {

using Lines = std::vector<String>;

// Feeds each read and cuts what it can; the steps other than pieces are noted as "!too long".
Lines Frame(TIpLineFramer& framer, const TIpFraming& f, const Lines& reads) {
  Lines out;
  String piece;
  for (const String& r : reads) {
    framer.Feed(r.data(), r.size());
    for (TIpLineFramer::TStep step; (step = framer.Next(f, piece)) != TIpLineFramer::fsNone;)
      out.push_back(step == TIpLineFramer::fsPiece ? piece : "!too long");
  }
  return out;
}

struct FramingRow {
  TIpLineTerminator Terminator;
  bool Strip;
  const char* Input;
  Lines Expected;
  const char* Rest;
};

TEST(LineFramer, LinesAreFramedByTheirTerminatorWhereverTheReadsSplitThem) {
  const FramingRow rows[] = {
      {ltCRLF, false, "AB\r\nCD\r\n", {"AB\r\n", "CD\r\n"}, ""},
      {ltCRLF, true, "AB\r\nCD\r\n", {"AB", "CD"}, ""},
      {ltCRLF, true, "A\nB\r\n", {"A\nB"}, ""},  // a lone LF ends no line
      {ltCRLF, true, "\r\n\r\n", {"", ""}, ""},
      {ltCRLF, false, "AB\r\nC", {"AB\r\n"}, "C"},  // C waits for its end
      {ltLF, false, "A\nB\r\n", {"A\n", "B\r\n"}, ""},
      {ltLF, true, "A\nB\n", {"A", "B"}, ""},
      {ltCR, true, "A\rB\r\n", {"A", "B"}, "\n"},
      {ltOther, false, "A;B;", {"A;", "B;"}, ""},
      {ltOther, true, "A;;B", {"A", ""}, "B"},
      {ltNone, false, "0123456789", {"0123", "4567"}, "89"},
  };
  for (const FramingRow& row : rows) {
    TIpFraming f;
    f.Terminator = row.Terminator;
    f.Strip = row.Strip;
    f.TermChar = ';';
    f.FixedLength = 4;
    const String input = row.Input;
    // Cut at every position, then a byte a read.
    for (size_t split = 0; split <= input.size() + 1; ++split) {
      SCOPED_TRACE(String(row.Input) + " split at " + std::to_string(split));
      Lines reads{input.substr(0, split), input.substr(std::min(split, input.size()))};
      if (split > input.size()) {
        reads.clear();
        for (char c : input) reads.emplace_back(1, c);
      }
      TIpLineFramer framer;
      EXPECT_EQ(Frame(framer, f, reads), row.Expected);
      EXPECT_EQ(framer.Unframed(), row.Rest);
    }
  }
}

TEST(LineFramer, AnUnfinishedLineBeyondTheCapIsDroppedAndFramingGoesOn) {
  TIpFraming f;
  f.Strip = true;
  f.MaxLine = 8;
  TIpLineFramer framer;
  // A CR at the end of what is dropped may start the CR LF that ends the next line.
  EXPECT_EQ(Frame(framer, f, {"12345678", "9\r", "\nok\r\n"}), (Lines{"!too long", "", "ok"}));
  f.Terminator = ltNone;
  f.FixedLength = 20;
  EXPECT_EQ(Frame(framer, f, {"123456789"}), (Lines{"!too long"}));
  EXPECT_TRUE(framer.Unframed().empty());
  // TakeAll hands out everything once.
  framer.Feed("ab", 2);
  String rest;
  EXPECT_TRUE(framer.TakeAll(rest));
  EXPECT_EQ(rest, "ab");
  EXPECT_FALSE(framer.TakeAll(rest));
}

}  // namespace
