// A TCP peer for tests of line clients: listens on one loopback address, accepts one
// connection and follows a script given as arguments, recording every line the client sends.
// It ends by itself after its lifetime, or on SIGTERM/SIGINT.
//
//   line-peer --listen ADDR:PORT [--record FILE] [--lifetime S] STEP...
//
// Steps, in order:
//   send TEXT     send TEXT and CR LF
//   expect TEXT   wait for the client's next line and compare it with TEXT
//   burst N       send N numbered lines, "line 1" to "line N", each with CR LF, in one write
//   wait MS       wait MS milliseconds (what arrives meanwhile is recorded)
//   close         an orderly close: stop sending (FIN), read until the client closes, close
//   reset         close at once with an RST (SO_LINGER 0)
//   silent        send nothing and read until the client closes
//   bytes HEX     send the bytes written in hex (two digits a byte) in one write
//   dribble HEX   send the bytes one at a time, 20 ms apart, each in a segment of its own
//   take HEX      wait for exactly as many bytes as HEX has, taken as they come, not as lines,
//                 and compare them with HEX (a proxy's view of a handshake)
// After the last step the peer reads until the client closes, as for `silent`.
//
// A received line ends at LF; a CR before it is dropped. The record file gets each line and,
// when the client closes with an unterminated rest, that rest, each followed by "\n". The peer
// prints "line-peer: ready" once it listens, and what happens. Exit status: 0 when every step
// was done and every `expect` matched, 1 otherwise, 2 for bad arguments or when it cannot
// listen.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

namespace {

volatile sig_atomic_t gStop = 0;
void OnSignal(int) { gStop = 1; }

using Clock = std::chrono::steady_clock;

struct Step {
  std::string Verb;
  std::string Argument;
};

// Closes a socket when it goes out of scope, unless it was closed on purpose before.
struct SocketGuard {
  int S = -1;
  ~SocketGuard() { Close(); }
  void Close() {
    if (S >= 0) close(S);
    S = -1;
  }
};

struct FileGuard {
  FILE* F = nullptr;
  ~FileGuard() {
    if (F) std::fclose(F);
  }
};

class Connection {
 public:
  Connection(int socket, FILE* record, Clock::time_point end) : FSocket(socket), FRecord(record), FEnd(end) {}

  bool Closed() const { return FClosed; }

  bool Send(const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = send(FSocket, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
      if (n <= 0) {
        std::printf("line-peer: send failed: %s\n", std::strerror(errno));
        return false;
      }
      done += static_cast<size_t>(n);
    }
    return true;
  }

  // The client's next `count` bytes as they came; false when the client closed or the
  // lifetime ended first.
  bool NextBytes(size_t count, std::string& bytes) {
    FRawWanted = count;
    while (FRaw.size() < FRawWanted) {
      if (FClosed || !ReadUntil(FEnd, false)) break;
    }
    FRawWanted = 0;
    bytes.swap(FRaw);
    FRaw.clear();
    return bytes.size() == count;
  }

  // The client's next line; false when the client closed or the lifetime ended first.
  bool NextLine(std::string& line) {
    while (FLines.empty()) {
      if (FClosed || !ReadUntil(FEnd, true)) return false;
    }
    line = FLines.front();
    FLines.pop_front();
    return true;
  }

  // Reads and records until `until`, or until the client closes when `stopAtLine` is false;
  // with `stopAtLine`, returns as soon as a new line is queued. False when the client closed
  // or the lifetime ended.
  bool ReadUntil(Clock::time_point until, bool stopAtLine) {
    while (!FClosed && !gStop) {
      const auto now = Clock::now();
      const auto limit = until < FEnd ? until : FEnd;
      if (now >= limit) return until < FEnd;
      const int ms = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(limit - now).count());
      pollfd p{FSocket, POLLIN, 0};
      if (poll(&p, 1, ms < 200 ? ms : 200) <= 0) continue;
      char buf[4096];
      const ssize_t n = recv(FSocket, buf, sizeof buf, 0);
      if (n <= 0) {
        if (n == 0)
          std::printf("line-peer: the client closed\n");
        else
          std::printf("line-peer: receive failed: %s\n", std::strerror(errno));
        FClosed = true;
        if (!FPending.empty()) Record(FPending);
        FPending.clear();
        return false;
      }
      const size_t before = FLines.size();
      ssize_t i = 0;
      for (; i < n && FRaw.size() < FRawWanted; ++i) FRaw += buf[i];
      for (; i < n; ++i) {
        if (buf[i] != '\n') {
          FPending += buf[i];
          continue;
        }
        if (!FPending.empty() && FPending.back() == '\r') FPending.pop_back();
        Record(FPending);
        FLines.push_back(FPending);
        FPending.clear();
      }
      if (stopAtLine && FLines.size() > before) return true;
      if (FRawWanted != 0 && FRaw.size() == FRawWanted) return true;
    }
    return false;
  }

  // Reads until the client closes (or the lifetime ends); true when the client closed.
  bool ReadToEnd() {
    ReadUntil(FEnd, false);
    return FClosed;
  }

 private:
  void Record(const std::string& line) {
    if (!FRecord) return;
    std::fprintf(FRecord, "%s\n", line.c_str());
    std::fflush(FRecord);
  }

  int FSocket;
  FILE* FRecord;
  Clock::time_point FEnd;
  bool FClosed = false;
  size_t FRawWanted = 0;  // while a `take` waits: bytes go to FRaw, not into lines
  std::string FRaw;
  std::string FPending;
  std::deque<std::string> FLines;
};

int Listen(const std::string& address, uint16_t port) {
  int s = socket(AF_INET, SOCK_STREAM, 0);
  if (s < 0) return -1;
  int one = 1;
  setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  if (inet_pton(AF_INET, address.c_str(), &a.sin_addr) != 1 ||
      bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(s, 1) != 0) {
    std::fprintf(stderr, "line-peer: cannot listen on %s:%u: %s\n", address.c_str(), port, std::strerror(errno));
    close(s);
    return -1;
  }
  return s;
}

bool ParseListen(const std::string& text, std::string& address, uint16_t& port) {
  const size_t colon = text.rfind(':');
  if (colon == std::string::npos) return false;
  address = text.substr(0, colon);
  const long p = std::strtol(text.c_str() + colon + 1, nullptr, 10);
  if (p <= 0 || p > 65535) return false;
  port = static_cast<uint16_t>(p);
  return true;
}

// The bytes that `text` writes in hex, two digits each; false when it is not such a text.
bool FromHex(const std::string& text, std::string& bytes) {
  bytes.clear();
  if (text.empty() || text.size() % 2 != 0) return false;
  for (size_t i = 0; i < text.size(); i += 2) {
    char* end = nullptr;
    const std::string pair = text.substr(i, 2);
    const long b = std::strtol(pair.c_str(), &end, 16);
    if (end != pair.c_str() + 2) return false;
    bytes += static_cast<char>(b);
  }
  return true;
}

bool ParseSteps(int argc, char** argv, int first, std::vector<Step>& steps) {
  for (int i = first; i < argc; ++i) {
    const std::string verb = argv[i];
    const bool hex = verb == "bytes" || verb == "dribble" || verb == "take";
    if (verb == "send" || verb == "expect" || verb == "burst" || verb == "wait" || hex) {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "line-peer: step %s needs an argument\n", verb.c_str());
        return false;
      }
      steps.push_back({verb, argv[++i]});
      std::string bytes;
      if (hex && !FromHex(steps.back().Argument, bytes)) {
        std::fprintf(stderr, "line-peer: step %s needs hex bytes, not %s\n", verb.c_str(), argv[i]);
        return false;
      }
    } else if (verb == "close" || verb == "reset" || verb == "silent") {
      steps.push_back({verb, ""});
    } else {
      std::fprintf(stderr, "line-peer: unknown step %s\n", verb.c_str());
      return false;
    }
  }
  return true;
}

// Runs the script on an accepted connection; true when every step was done as asked.
bool RunScript(SocketGuard& client, Connection& c, const std::vector<Step>& steps) {
  bool ok = true;
  for (const Step& s : steps) {
    if (gStop) return false;
    if (s.Verb == "send") {
      if (!c.Send(s.Argument + "\r\n")) return false;
    } else if (s.Verb == "burst") {
      std::string all;
      const long n = std::atol(s.Argument.c_str());
      for (long i = 1; i <= n; ++i) all += "line " + std::to_string(i) + "\r\n";
      if (!c.Send(all)) return false;
    } else if (s.Verb == "bytes" || s.Verb == "dribble") {
      std::string bytes;
      FromHex(s.Argument, bytes);
      if (s.Verb == "bytes") {
        if (!c.Send(bytes)) return false;
        continue;
      }
      const int one = 1;
      setsockopt(client.S, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
      for (char b : bytes) {
        if (!c.Send(std::string(1, b))) return false;
        // Nothing is read meanwhile: what the client answers stays for the next step.
        usleep(20000);
      }
    } else if (s.Verb == "take") {
      std::string wanted, got;
      FromHex(s.Argument, wanted);
      if (!c.NextBytes(wanted.size(), got)) {
        std::printf("line-peer: expected %zu bytes, but %s after %zu\n", wanted.size(),
                    c.Closed() ? "the client closed" : "nothing more came", got.size());
        return false;
      }
      if (got != wanted) {
        std::string hex;
        for (unsigned char b : got) hex += "0123456789abcdef"[b >> 4], hex += "0123456789abcdef"[b & 15];
        std::printf("line-peer: expected bytes %s, got %s\n", s.Argument.c_str(), hex.c_str());
        ok = false;
      }
    } else if (s.Verb == "expect") {
      std::string line;
      if (!c.NextLine(line)) {
        std::printf("line-peer: expected '%s', but %s\n", s.Argument.c_str(),
                    c.Closed() ? "the client closed" : "nothing came");
        return false;
      }
      if (line != s.Argument) {
        std::printf("line-peer: expected '%s', got '%s'\n", s.Argument.c_str(), line.c_str());
        ok = false;
      }
    } else if (s.Verb == "wait") {
      c.ReadUntil(Clock::now() + std::chrono::milliseconds(std::atol(s.Argument.c_str())), false);
    } else if (s.Verb == "close") {
      shutdown(client.S, SHUT_WR);
      std::printf("line-peer: closing\n");
      if (!c.ReadToEnd()) ok = false;
      client.Close();
      return ok;
    } else if (s.Verb == "reset") {
      const linger abortive{1, 0};
      setsockopt(client.S, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
      std::printf("line-peer: resetting\n");
      client.Close();
      return ok;
    } else if (s.Verb == "silent") {
      if (!c.ReadToEnd()) ok = false;
    }
  }
  if (!c.Closed() && !c.ReadToEnd()) ok = false;
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  std::string address, record;
  uint16_t port = 0;
  double lifetime = 30;
  int i = 1;
  for (; i < argc && std::strncmp(argv[i], "--", 2) == 0; ++i) {
    const std::string a = argv[i];
    if (i + 1 >= argc) {
      std::fprintf(stderr, "line-peer: %s needs a value\n", a.c_str());
      return 2;
    }
    if (a == "--listen") {
      if (!ParseListen(argv[++i], address, port)) {
        std::fprintf(stderr, "line-peer: --listen needs ADDR:PORT\n");
        return 2;
      }
    } else if (a == "--record") {
      record = argv[++i];
    } else if (a == "--lifetime") {
      lifetime = std::atof(argv[++i]);
    } else {
      std::fprintf(stderr, "line-peer: bad argument %s\n", a.c_str());
      return 2;
    }
  }
  std::vector<Step> steps;
  if (address.empty() || !ParseSteps(argc, argv, i, steps)) {
    std::fprintf(stderr, "usage: line-peer --listen ADDR:PORT [--record FILE] [--lifetime S] STEP...\n");
    return 2;
  }

  setvbuf(stdout, nullptr, _IOLBF, 0);
  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGINT, &sa, nullptr);
  const auto end = Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(lifetime));

  SocketGuard listener{Listen(address, port)};
  if (listener.S < 0) return 2;
  FileGuard out{record.empty() ? nullptr : std::fopen(record.c_str(), "w")};
  std::printf("line-peer: ready\n");

  SocketGuard client;
  while (client.S < 0 && !gStop && Clock::now() < end) {
    pollfd p{listener.S, POLLIN, 0};
    if (poll(&p, 1, 200) > 0) client.S = accept(listener.S, nullptr, nullptr);
  }
  if (client.S < 0) {
    std::printf("line-peer: no client came\n");
    return 1;
  }
  listener.Close();
  std::printf("line-peer: connected\n");
  Connection c(client.S, out.F, end);
  const bool ok = RunScript(client, c, steps);
  std::printf("line-peer: %s\n", ok ? "done" : "FAILED");
  return ok ? 0 : 1;
}
