#include "sock/LineFramer.h"

#include <cstring>

namespace {
// Framed bytes are removed from the front once they are most of the buffer and not few.
constexpr size_t kCompactAbove = 4096;
}  // namespace

void TIpLineFramer::Feed(const void* data, size_t count) {
  if (count == 0) return;
  if (FStart == FBuf.size()) {
    FBuf.clear();
    FStart = 0;
  } else if (FStart > kCompactAbove && FStart > FBuf.size() / 2) {
    FBuf.erase(0, FStart);
    FStart = 0;
  }
  FBuf.append(static_cast<const char*>(data), count);
}

void TIpLineFramer::Consume(size_t count) {
  FStart += count;
  FScanned = 0;
  if (FStart == FBuf.size()) {
    FBuf.clear();
    FStart = 0;
  }
}

TIpLineFramer::TStep TIpLineFramer::Next(const TIpFraming& framing, String& piece) {
  const size_t avail = FBuf.size() - FStart;
  if (avail == 0) return fsNone;
  const char* start = FBuf.data() + FStart;
  if (framing.Terminator == ltNone) {
    const size_t size = framing.FixedLength;
    if (size != 0 && size <= avail) {
      piece.assign(start, size);
      Consume(size);
      return fsPiece;
    }
    if (avail <= framing.MaxLine) return fsNone;
    Consume(avail);
    return fsTooLong;
  }
  char term = '\n';
  switch (framing.Terminator) {
    case ltCR: term = '\r'; break;
    case ltOther: term = framing.TermChar; break;
    default: break;  // ltLF, ltCRLF
  }
  const bool crlf = framing.Terminator == ltCRLF;
  // Bytes already searched for this same terminator are not searched again.
  size_t i = FScanTerm == term && FScanCrLf == crlf && FScanned <= avail ? FScanned : 0;
  for (;;) {
    const void* found = std::memchr(start + i, term, avail - i);
    if (!found) break;
    i = static_cast<size_t>(static_cast<const char*>(found) - start);
    if (!crlf || (i > 0 && start[i - 1] == '\r')) {
      const size_t termLen = !framing.Strip ? 0 : crlf ? 2 : 1;
      piece.assign(start, i + 1 - termLen);
      Consume(i + 1);
      return fsPiece;
    }
    ++i;
  }
  if (avail > framing.MaxLine) {
    // A CR at the end may be the first half of the CR LF that ends the next line.
    Consume(crlf && start[avail - 1] == '\r' ? avail - 1 : avail);
    return fsTooLong;
  }
  FScanned = avail;
  FScanTerm = term;
  FScanCrLf = crlf;
  return fsNone;
}

bool TIpLineFramer::TakeAll(String& piece) {
  if (FStart == FBuf.size()) return false;
  if (FStart == 0) {
    piece = std::move(FBuf);
  } else {
    piece.assign(FBuf, FStart);
  }
  Clear();
  return true;
}

void TIpLineFramer::Clear() {
  FBuf.clear();
  FStart = 0;
  FScanned = 0;
}
