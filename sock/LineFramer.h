// The line framer: the last stage of a data socket's receive path, after the SOCKS and telnet
// stages. Bytes go in; whole lines (or fixed-length records) and the unframed rest come out.
// It knows no socket and no platform: the data socket feeds it what it read and hands each
// piece it cuts to its owner.
//
// The framing settings are given with every cut, so a change made between two pieces (by the
// handler of the first) applies to everything still unframed, however it arrived.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "base/IpUtils.h"
#include "toolkit/SysUtils.h"

// How the framer cuts what it holds.
struct TIpFraming {
  TIpLineTerminator Terminator = ltCRLF;
  char TermChar = '\n';        // the terminator of ltOther
  bool Strip = false;          // lines without their terminator (CR LF as a pair)
  uint32_t FixedLength = 80;   // the record length of ltNone; 0 cuts nothing
  size_t MaxLine = 1048576;    // longest unfinished line or record kept while its end is missing
};

class TIpLineFramer {
 public:
  enum TStep {
    fsNone,     // no whole line or record: its end has not come
    fsPiece,    // one cut, in `piece`
    fsTooLong,  // the unfinished line outgrew MaxLine and was dropped (a CR at its end stays)
  };

  // Appends received bytes.
  void Feed(const void* data, size_t count);
  // Cuts the next line (ltCR, ltLF, ltCRLF, ltOther) or record (ltNone) of what is unframed.
  // ltCRLF ends a line at an LF that follows a CR of the same line; a lone LF is data.
  TStep Next(const TIpFraming& framing, String& piece);
  // Everything unframed as one piece; false when there is nothing.
  bool TakeAll(String& piece);
  // What is unframed, valid until the next call that changes the framer.
  std::string_view Unframed() const { return std::string_view(FBuf).substr(FStart); }
  void Clear();

 private:
  void Consume(size_t count);

  String FBuf;
  size_t FStart = 0;  // FBuf before it is framed already
  // How many bytes from FStart on were searched for FScanTerm (with the CR LF rule when
  // FScanCrLf) and hold no end: a line that arrives in many reads is searched once.
  size_t FScanned = 0;
  char FScanTerm = 0;
  bool FScanCrLf = false;
};
