// A small SNTP server for tests: answers on given loopback addresses like a real server (mode
// 4, chosen stratum, originate = the request's transmit stamp, receive and transmit stamps from
// the host clock plus an injected offset, an injected network delay), records every request it
// receives, and can misbehave in the ways a client must survive. It ends by itself after its
// lifetime, or on SIGTERM/SIGINT.
//
//   sntp-server [--lifetime S] [--record FILE] [--port P] [--spoof-from ADDR]
//               --serve ADDR[,mode=M][,offset=MS][,delay=MS][,hold=MS][,stratum=N][,code=XXXX] ...
//   sntp-server --probe ADDR [--port P] [--timeout MS]
//
// Modes: normal, mode3 (echo in client mode), zero-transmit, wrong-originate, kiss (stratum 0,
// the reference id `code`, "RATE" unless given), leap3, other-port (reply from another source
// port), other-address (reply from the --spoof-from address), long (60 bytes), none (no reply),
// twice (two identical replies), spoof-then-real (a reply with a wrong originate and one from
// another port, both 100 s off, then the real one), keyed-md5 and keyed-sha1 (the 48 bytes
// followed by a key id and a 16- or 20-byte digest, as a server with symmetric keys sends).
// `delay` is network delay, half before the receive stamp and half after the transmit stamp;
// `hold` is time the server itself keeps the request: the receive stamp is taken, then the
// server waits, then the transmit stamp is taken as the reply leaves.
// --probe sends one request and exits 0 when a synchronised server answers (mode 4, leap
// indicator not 3, stratum 1-15), printing what it saw.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

namespace {

volatile sig_atomic_t gStop = 0;
void OnSignal(int) { gStop = 1; }

constexpr uint64_t kNtpUnixDelta = 2208988800ull;  // seconds from 1900 to 1970

struct Endpoint {
  std::string Address;
  std::string Mode = "normal";
  double OffsetMs = 0;
  double DelayMs = 0;
  double HoldMs = 0;
  int Stratum = 2;
  std::string KissCode = "RATE";
  int Socket = -1;
};

// Host clock plus an offset, as a 64-bit NTP timestamp (seconds << 32 | fraction).
uint64_t NtpNow(double offsetMs) {
  timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  const long double seconds =
      static_cast<long double>(ts.tv_sec + kNtpUnixDelta) + ts.tv_nsec / 1e9L + offsetMs / 1000.0L;
  const long double whole = std::floor(seconds);
  const uint64_t fraction = static_cast<uint64_t>((seconds - whole) * 4294967296.0L);
  return static_cast<uint64_t>(whole) << 32 | (fraction & 0xFFFFFFFFu);
}

void Put64(uint8_t* at, uint64_t v) {
  for (int i = 0; i < 8; ++i) at[i] = static_cast<uint8_t>(v >> (56 - 8 * i));
}

uint64_t Get64(const uint8_t* at) {
  uint64_t v = 0;
  for (int i = 0; i < 8; ++i) v = v << 8 | at[i];
  return v;
}

int BoundSocket(const std::string& address, uint16_t port) {
  int s = socket(AF_INET, SOCK_DGRAM, 0);
  if (s < 0) return -1;
  int one = 1;
  setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  if (inet_pton(AF_INET, address.c_str(), &a.sin_addr) != 1 ||
      bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    std::fprintf(stderr, "sntp-server: cannot bind %s:%u: %s\n", address.c_str(), port, std::strerror(errno));
    close(s);
    return -1;
  }
  return s;
}

// Closes a socket when it goes out of scope.
struct SocketGuard {
  int S;
  ~SocketGuard() {
    if (S >= 0) close(S);
  }
};

void SleepMs(double ms) {
  if (ms > 0) std::this_thread::sleep_for(std::chrono::microseconds(static_cast<long long>(ms * 1000)));
}

void Send(int s, const std::vector<uint8_t>& bytes, const sockaddr_in& to) {
  sendto(s, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
}

void Answer(Endpoint& e, const uint8_t* request, const sockaddr_in& client, const std::string& spoofFrom,
            uint16_t port) {
  if (e.Mode == "none") return;
  if (e.Mode == "spoof-then-real") {
    // Forged answers 100 s off go out first, before the real reply is stamped, so that the
    // real one keeps its symmetric delay.
    std::vector<uint8_t> fake(48, 0);
    fake[0] = 0x1C;
    fake[1] = static_cast<uint8_t>(e.Stratum);
    std::memcpy(&fake[24], request + 40, 8);
    Put64(&fake[32], NtpNow(e.OffsetMs + 100000));
    Put64(&fake[40], NtpNow(e.OffsetMs + 100000));
    std::vector<uint8_t> wrongOriginate = fake;
    wrongOriginate[31] ^= 0x01;
    Send(e.Socket, wrongOriginate, client);
    SocketGuard other{BoundSocket(e.Address, 0)};
    if (other.S >= 0) Send(other.S, fake, client);
  }
  // Half the injected delay on the way in, half on the way out, so the offset stays true.
  SleepMs(e.DelayMs / 2);
  std::vector<uint8_t> r(48, 0);
  const int version = (request[0] >> 3) & 7;
  r[0] = static_cast<uint8_t>((version ? version : 3) << 3 | 4);
  r[1] = static_cast<uint8_t>(e.Stratum);
  r[2] = request[2] ? request[2] : 6;
  r[3] = 0xEC;  // precision about 2^-20 s
  std::memcpy(&r[12], "LOCL", 4);
  const uint64_t received = NtpNow(e.OffsetMs);
  Put64(&r[16], received - (uint64_t(16) << 32));
  std::memcpy(&r[24], request + 40, 8);
  Put64(&r[32], received);
  SleepMs(e.HoldMs);
  Put64(&r[40], NtpNow(e.OffsetMs));
  SleepMs(e.DelayMs / 2);

  if (e.Mode == "mode3") r[0] = 0x1B;
  if (e.Mode == "zero-transmit") std::memset(&r[40], 0, 8);
  if (e.Mode == "wrong-originate") r[31] ^= 0x01;
  if (e.Mode == "kiss") {
    r[1] = 0;
    std::memset(&r[12], 0, 4);
    std::memcpy(&r[12], e.KissCode.data(), std::min<size_t>(e.KissCode.size(), 4));
  }
  if (e.Mode == "leap3") r[0] |= 0xC0;
  if (e.Mode == "long") r.resize(60, 0);
  if (e.Mode == "keyed-md5" || e.Mode == "keyed-sha1") {
    // Key id 1 and a digest the client does not check (it has no key).
    const uint8_t keyId[4] = {0, 0, 0, 1};
    r.insert(r.end(), keyId, keyId + 4);
    r.resize(r.size() + (e.Mode == "keyed-md5" ? 16 : 20), 0xA5);
  }

  if (e.Mode == "other-port" || e.Mode == "other-address") {
    SocketGuard other{BoundSocket(e.Mode == "other-port" ? e.Address : spoofFrom, e.Mode == "other-port" ? 0 : port)};
    if (other.S >= 0) Send(other.S, r, client);
    return;
  }
  Send(e.Socket, r, client);
  if (e.Mode == "twice") Send(e.Socket, r, client);
}

std::string Hex(const uint8_t* b, size_t n) {
  std::string s;
  char buf[4];
  for (size_t i = 0; i < n; ++i) {
    std::snprintf(buf, sizeof buf, "%02x", b[i]);
    s += buf;
  }
  return s;
}

int Probe(const std::string& address, uint16_t port, int timeoutMs) {
  SocketGuard s{socket(AF_INET, SOCK_DGRAM, 0)};
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(port);
  if (s.S < 0 || inet_pton(AF_INET, address.c_str(), &to.sin_addr) != 1) return 2;
  std::vector<uint8_t> req(48, 0);
  req[0] = 0x1B;
  const uint64_t t1 = NtpNow(0);
  Put64(&req[40], t1);
  Send(s.S, req, to);
  pollfd p{s.S, POLLIN, 0};
  if (poll(&p, 1, timeoutMs) != 1) {
    std::printf("no reply\n");
    return 1;
  }
  uint8_t r[128];
  const ssize_t n = recv(s.S, r, sizeof r, 0);
  if (n < 48) {
    std::printf("short reply (%zd bytes)\n", n);
    return 1;
  }
  const uint64_t t4 = NtpNow(0);
  auto sec = [](uint64_t v) {
    return static_cast<double>(v >> 32) + static_cast<double>(v & 0xFFFFFFFFu) / 4294967296.0;
  };
  const double offsetMs = ((sec(Get64(r + 32)) - sec(t1)) + (sec(Get64(r + 40)) - sec(t4))) / 2 * 1000;
  const int leap = r[0] >> 6, mode = r[0] & 7, stratum = r[1];
  std::printf("mode %d stratum %d leap %d offset %.3f ms\n", mode, stratum, leap, offsetMs);
  return mode == 4 && leap != 3 && stratum >= 1 && stratum <= 15 && Get64(r + 24) == t1 ? 0 : 1;
}

Endpoint ParseServe(const std::string& text) {
  Endpoint e;
  size_t pos = text.find(',');
  e.Address = text.substr(0, pos);
  while (pos != std::string::npos) {
    const size_t next = text.find(',', pos + 1);
    const std::string item = text.substr(pos + 1, next == std::string::npos ? std::string::npos : next - pos - 1);
    const size_t eq = item.find('=');
    const std::string key = item.substr(0, eq), value = eq == std::string::npos ? "" : item.substr(eq + 1);
    if (key == "mode")
      e.Mode = value;
    else if (key == "offset")
      e.OffsetMs = std::atof(value.c_str());
    else if (key == "delay")
      e.DelayMs = std::atof(value.c_str());
    else if (key == "hold")
      e.HoldMs = std::atof(value.c_str());
    else if (key == "stratum")
      e.Stratum = std::atoi(value.c_str());
    else if (key == "code")
      e.KissCode = value;
    else
      std::fprintf(stderr, "sntp-server: unknown setting %s\n", key.c_str());
    pos = next;
  }
  return e;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<Endpoint> endpoints;
  std::string record, spoofFrom = "127.0.0.254", probe;
  double lifetime = 120;
  int port = 123, timeoutMs = 1000;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const bool hasValue = i + 1 < argc;
    if (a == "--serve" && hasValue)
      endpoints.push_back(ParseServe(argv[++i]));
    else if (a == "--record" && hasValue)
      record = argv[++i];
    else if (a == "--lifetime" && hasValue)
      lifetime = std::atof(argv[++i]);
    else if (a == "--port" && hasValue)
      port = std::atoi(argv[++i]);
    else if (a == "--spoof-from" && hasValue)
      spoofFrom = argv[++i];
    else if (a == "--probe" && hasValue)
      probe = argv[++i];
    else if (a == "--timeout" && hasValue)
      timeoutMs = std::atoi(argv[++i]);
    else {
      std::fprintf(stderr, "sntp-server: bad argument %s\n", a.c_str());
      return 2;
    }
  }
  if (!probe.empty()) return Probe(probe, static_cast<uint16_t>(port), timeoutMs);
  if (endpoints.empty()) {
    std::fprintf(stderr, "sntp-server: nothing to serve (--serve ADDR[,mode=...])\n");
    return 2;
  }

  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGINT, &sa, nullptr);

  std::vector<pollfd> fds;
  for (auto& e : endpoints) {
    e.Socket = BoundSocket(e.Address, static_cast<uint16_t>(port));
    if (e.Socket < 0) return 1;
    fds.push_back({e.Socket, POLLIN, 0});
  }
  FILE* log = record.empty() ? nullptr : std::fopen(record.c_str(), "a");
  std::printf("sntp-server: ready\n");
  std::fflush(stdout);

  const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(lifetime);
  while (!gStop && std::chrono::steady_clock::now() < end) {
    if (poll(fds.data(), fds.size(), 200) <= 0) continue;
    for (size_t i = 0; i < fds.size(); ++i) {
      if (!(fds[i].revents & POLLIN)) continue;
      uint8_t buf[2048];
      sockaddr_in from{};
      socklen_t fromLen = sizeof from;
      const ssize_t n = recvfrom(fds[i].fd, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &fromLen);
      if (n < 0) continue;
      if (log) {
        char text[INET_ADDRSTRLEN];
        inet_ntop(AF_INET, &from.sin_addr, text, sizeof text);
        std::fprintf(log, "%s %s:%u %zd %s\n", endpoints[i].Address.c_str(), text, ntohs(from.sin_port), n,
                     Hex(buf, static_cast<size_t>(n)).c_str());
        std::fflush(log);
      }
      if (n >= 48) Answer(endpoints[i], buf, from, spoofFrom, static_cast<uint16_t>(port));
    }
  }
  if (log) std::fclose(log);
  for (auto& e : endpoints) close(e.Socket);
  return 0;
}
