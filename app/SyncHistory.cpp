#include "app/SyncHistory.h"

#include "settings/FileOps.h"

TSyncHistory::TSyncHistory(TIpLogOwner* owner, const String& path, size_t maxBytes)
    : FPath(path), FMaxBytes(maxBytes), FLog(std::make_unique<TIpEventLog>(owner)) {
  FLog->SetDateTimeFormat("yyyy.mm.dd hh:nn:ss");
  FLog->SetFileName(path);
  FLog->SetEnabled(true);
}

TSyncHistory::~TSyncHistory() = default;

void TSyncHistory::Record(const String& text) {
  auto lock = LockFileExclusive(FPath);
  // The stamp and the blank before the text, the line end after it.
  MakeRoom(text.size() + 22);
  FLog->WriteEventString(text);
}

void TSyncHistory::MakeRoom(size_t incoming) {
  String bytes;
  if (ReadWholeFile(FPath, bytes) != TReadResult::Ok || bytes.size() + incoming <= FMaxBytes) return;
  const size_t keep = FMaxBytes * 3 / 4;
  size_t from = bytes.size() > keep ? bytes.size() - keep : 0;
  // Start at a whole line.
  if (from > 0) {
    size_t end = bytes.find('\n', from - 1);
    from = end == String::npos ? bytes.size() : end + 1;
  }
  // A failed replace leaves the old file whole: the line still goes at its end.
  ReplaceFileContents(FPath, bytes.substr(from));
}

String TSyncHistory::ClockSet(const String& server, long long changeMs, long long delayMs) {
  return Format("%s: set, offset %s%d ms, delay %d ms",
                {server, changeMs >= 0 ? "+" : "-", changeMs >= 0 ? changeMs : -changeMs, delayMs});
}

String TSyncHistory::Failed(const String& server, const String& result, const String& reason) {
  return server + ": " + result + (reason.empty() ? String() : ", " + reason);
}
