// Native throughput of three inner loops of the socket library, each beside a straightforward
// reference written here that does the same work, timed in the same run:
//   framing  the line framer (the data socket's last receive stage) cutting 8 KiB reads into
//            CR LF lines against a find-and-copy splitter over the same reads
//   telnet   TIpTelnet::Filter over reads with doubled IACs, commands and CR NULs against a
//            one-pass state machine that drops commands without answering them
//   ring     TIpDebugLog adding and taking 64-byte data entries against a deque of vectors
// Prints one line per figure: "NAME ours_ms reference_ms", median of five rounds, and exits 1
// when ours and the reference disagree on what they produced.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "fakes/FakePlatform.h"
#include "log/IpLog.h"
#include "sock/IpTelnet.h"
#include "sock/LineFramer.h"

namespace {

using Clock = std::chrono::steady_clock;

// The median time of five runs of `work`, in ms.
double Median(const std::function<void()>& work) {
  std::vector<double> times;
  for (int i = 0; i < 5; ++i) {
    const auto start = Clock::now();
    work();
    times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
  }
  std::sort(times.begin(), times.end());
  return times[2];
}

bool Report(const char* name, double ours, double reference, bool same) {
  std::printf("%s %.2f %.2f%s\n", name, ours, reference, same ? "" : " differ");
  return same;
}

std::vector<std::string> Reads(const std::string& all, size_t size) {
  std::vector<std::string> reads;
  for (size_t at = 0; at < all.size(); at += size) reads.push_back(all.substr(at, size));
  return reads;
}

bool Framing() {
  std::string text;
  for (int i = 0; text.size() < (8u << 20); ++i) text += "line " + std::to_string(i) + " of the framing run\r\n";
  const std::vector<std::string> reads = Reads(text, 8192);

  size_t ours = 0;
  const double oursMs = Median([&] {
    ours = 0;
    TIpLineFramer framer;
    const TIpFraming framing;  // CR LF, terminators kept
    String line;
    for (const std::string& r : reads) {
      framer.Feed(r.data(), r.size());
      while (framer.Next(framing, line) == TIpLineFramer::fsPiece) ours += !line.empty();
    }
  });

  size_t reference = 0;
  const double referenceMs = Median([&] {
    reference = 0;
    std::string pending;
    for (const std::string& r : reads) {
      pending += r;
      size_t start = 0, end;
      while ((end = pending.find("\r\n", start)) != std::string::npos) {
        std::string line = pending.substr(start, end + 2 - start);
        reference += !line.empty();
        start = end + 2;
      }
      pending.erase(0, start);
    }
  });
  return Report("framing", oursMs, referenceMs, ours == reference && ours > 0);
}

bool Telnet() {
  // Text with a doubled IAC, a WILL ECHO the filter already agreed to, and a CR NUL every
  // 64 bytes.
  std::string unit(64, 'a');
  unit[10] = '\xFF', unit[11] = '\xFF';
  unit[20] = '\r', unit[21] = '\0';
  unit[30] = '\xFF', unit[31] = '\xFB', unit[32] = '\x01';
  std::string all;
  while (all.size() < (8u << 20)) all += unit;
  const std::vector<std::string> reads = Reads(all, 4096);

  std::string ours;
  const double oursMs = Median([&] {
    TIpTelnet t;
    ours.clear();
    for (const std::string& r : reads) ours += t.Filter(r);
  });

  std::string reference;
  const double referenceMs = Median([&] {
    reference.clear();
    enum { Data, Iac, Option, AfterCR } state = Data;
    for (const std::string& r : reads)
      for (char ch : r) {
        const uint8_t b = static_cast<uint8_t>(ch);
        switch (state) {
          case Data:
          case AfterCR:
            if (b == 0xFF) {
              state = Iac;
            } else {
              if (!(state == AfterCR && b == 0)) reference += ch;
              state = b == '\r' ? AfterCR : Data;
            }
            break;
          case Iac:
            if (b == 0xFF) reference += ch;
            state = b >= 251 && b <= 254 ? Option : Data;
            break;
          case Option: state = Data; break;
        }
      }
  });
  return Report("telnet", oursMs, referenceMs, ours == reference && !ours.empty());
}

struct Owner final : TIpLogOwner {
  String WinSockDescription() const override { return "bench"; }
  String WinSockStatus() const override { return "Running"; }
  uint16_t WinSockVersion() const override { return 0x0202; }
};

bool Ring() {
  TFakePlatform platform;
  constexpr int kEntries = 1000000;
  const std::string data(64, 'd');
  Owner owner;
  uint64_t ours = 0;
  const double oursMs = Median([&] {
    TIpDebugLog log(&owner);
    log.SetBufferSize(1 << 20);
    log.SetEnabled(true);
    TIpLogEntry e;
    log.GetLogEntry(e);  // the "enabled" entry
    ours = 0;
    for (int i = 0; i < kEntries; ++i) {
      log.AddLogEntry(nullptr, i, deDataFollows | 7, data.data(), static_cast<uint32_t>(data.size()));
      if (i % 8 == 7)
        while (log.GetLogEntry(e)) ours += e.Length;
    }
    while (log.GetLogEntry(e)) ours += e.Length;
  });

  struct Entry {
    uint32_t Tick;
    int32_t Socket;
    uint32_t Kind;
    std::vector<uint8_t> Data;
  };
  uint64_t reference = 0;
  const double referenceMs = Median([&] {
    std::deque<Entry> ring;
    reference = 0;
    for (int i = 0; i < kEntries; ++i) {
      ring.push_back({0, i, deDataFollows | 7, std::vector<uint8_t>(data.begin(), data.end())});
      if (i % 8 == 7)
        for (; !ring.empty(); ring.pop_front()) reference += ring.front().Data.size();
    }
    for (; !ring.empty(); ring.pop_front()) reference += ring.front().Data.size();
  });
  return Report("ring", oursMs, referenceMs, ours == reference);
}

}  // namespace

int main() {
  bool same = Framing();
  same = Telnet() && same;
  same = Ring() && same;
  return same ? 0 : 1;
}
