#include "base/IpUrl.h"

#include "base/IpUtils.h"

namespace {

// The states of the machine, numbered as the parser has always numbered them.
enum State {
  psStart = 0,
  psStop = 1,
  psLeadingBlanks = 2,
  psWord = 3,
  psSecondColon = 4,
  psAfterScheme = 5,
  psDrivePath = 6,
  psHost = 7,
  psUserInfo = 8,
  psPassword = 9,
  psPort = 10,
  psPath = 11,
  psFragment = 12,
  psQuery = 13,
  psTrailingBlanks = 14
};

bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsSlash(char c) { return c == '/' || c == '\\'; }
bool IsHostChar(char c) { return c == '-' || c == '.' || c == '_' || IsDigit(c) || IsLetter(c); }
bool HasDot(const String& s) { return s.find('.') != String::npos; }

// Work state of one parse: the record, the word being read and the path text gathered so far.
struct Parser {
  TIpAddrRec& Rec;
  bool WholeTextHasAt;
  String Word;
  String PathText;
  bool SchemeSeen = false;

  // A path ends at "#", "?" or "&": it takes the gathered path text, if any, trimmed.
  void EndPath(bool clear) {
    if (PathText.empty()) return;
    Rec.Path = TrimBlanks(PathText);
    if (clear) PathText.clear();
  }

  // Moves the word to a field and starts a new word.
  void TakeWord(String& field) {
    field = Word;
    Word.clear();
  }

  State Step(State s, char c) {
    const bool blank = c == ' ';
    switch (s) {
      case psStart:
      case psLeadingBlanks:
        if (blank) return psLeadingBlanks;
        if (c == '.' || IsSlash(c)) {
          PathText += c;
          return psPath;
        }
        if (IsDigit(c)) {
          Rec.Authority += c;
          return psHost;
        }
        // A word may begin with "-" or "_" only after leading blanks.
        if (IsLetter(c) || (s == psLeadingBlanks && (c == '-' || c == '_'))) {
          Word += c;
          return psWord;
        }
        return psStop;

      case psWord:
        if (IsHostChar(c)) {
          Word += c;
          return psWord;
        }
        if (IsSlash(c)) {
          if (SchemeSeen || HasDot(Word))
            Rec.Authority = Word;
          else
            PathText = Word;
          Word.clear();
          PathText += c;
          return psPath;
        }
        if (c == ':' || c == '|') {
          if (Word.size() == 1) {  // a drive letter
            PathText += Word + c;
            Word.clear();
            return psDrivePath;
          }
          if (HasDot(Word)) {  // host:port; the word stays and is stored again at the end
            Rec.Authority = Word;
            return psPort;
          }
          if (!Rec.Scheme.empty()) return psSecondColon;
          TakeWord(Rec.Scheme);
          SchemeSeen = true;
          return psAfterScheme;
        }
        if (c == '@') {
          TakeWord(Rec.UserName);
          return psHost;
        }
        TakeWord(Rec.Authority);
        return psHost;

      case psSecondColon:
        if (IsSlash(c)) {
          TakeWord(Rec.Scheme);
          SchemeSeen = true;
          return psAfterScheme;
        }
        if (IsDigit(c)) {
          TakeWord(Rec.Authority);
          Rec.Port += c;
          return psPort;
        }
        if (c == ':') {
          TakeWord(Rec.UserName);
          return psPassword;
        }
        if (c == '@') {
          TakeWord(Rec.UserName);
          return psHost;
        }
        if (IsLetter(c)) {
          TakeWord(Rec.UserName);
          Rec.Password += c;
          return psPassword;
        }
        return psSecondColon;

      case psAfterScheme:
        if (c == '/') return psAfterScheme;
        if (c == '.' || c == '\\') {
          PathText += c;
          return psDrivePath;
        }
        Word = String(1, c);
        return WholeTextHasAt ? psUserInfo : psWord;

      case psDrivePath:
        if (c == '#') {
          EndPath(false);
          return psFragment;
        }
        if (c == '&' || c == '?') {
          EndPath(false);
          Rec.QueryDelim = c;
          return psQuery;
        }
        PathText += c;
        return psDrivePath;

      case psHost:
        if (blank) return psTrailingBlanks;
        if (IsHostChar(c)) {
          Rec.Authority += c;
          return psHost;
        }
        if (IsSlash(c)) {
          PathText += c;
          return psPath;
        }
        if (c == ':') return psPort;
        return psHost;

      case psUserInfo:
        if (c == ':' || c == '|') {
          if (Word.size() == 1) {  // taken as a drive letter
            PathText += Word + c;
            Word.clear();
            return psDrivePath;
          }
          TakeWord(Rec.UserName);
          return psPassword;
        }
        if (c == '@') {
          TakeWord(Rec.UserName);
          return psHost;
        }
        Word += c;
        return psUserInfo;

      case psPassword:
        if (c == '@') return psHost;
        Rec.Password += c;
        return psPassword;

      case psPort:
        if (blank) return psTrailingBlanks;
        if (IsSlash(c)) {
          PathText += c;
          return psPath;
        }
        if (IsDigit(c)) {
          Rec.Port += c;
          return psPort;
        }
        return psStop;

      case psPath:
        if (blank) return psTrailingBlanks;
        if (c == '#') {
          EndPath(true);
          return psFragment;
        }
        if (c == '&' || c == '?') {
          EndPath(true);
          Rec.QueryDelim = c;
          return psQuery;
        }
        PathText += c;
        return psPath;

      case psFragment:
        if (c == '&' || c == '?') {
          EndPath(true);
          Rec.QueryDelim = c;
          return psQuery;
        }
        Rec.Fragment += c;
        return psFragment;

      case psQuery:
        if (blank) return psTrailingBlanks;
        Rec.Query += c;
        return psQuery;

      case psTrailingBlanks: return blank ? psTrailingBlanks : psStop;

      case psStop: break;
    }
    return psStop;
  }
};

}  // namespace

bool ParseURL(const String& Text, TIpAddrRec& Rec) {
  Rec.Scheme.clear();
  Rec.UserName.clear();
  Rec.Password.clear();
  Rec.Authority.clear();
  Rec.Port.clear();
  Rec.Path.clear();
  Rec.Fragment.clear();
  Rec.Query.clear();

  Parser p{Rec, Text.find('@') != String::npos, {}, {}};
  State s = psStart;
  for (char c : Text) {
    s = p.Step(s, c);
    if (s == psStop) break;
  }

  if (!p.Word.empty()) Rec.Authority = p.Word;
  if (Rec.Path.empty()) Rec.Path = p.PathText.empty() ? String("/") : TrimBlanks(p.PathText);

  switch (s) {
    case psDrivePath:
    case psHost:
    case psPort:
    case psPath:
    case psFragment:
    case psQuery:
    case psTrailingBlanks: return true;
    default: return false;
  }
}
