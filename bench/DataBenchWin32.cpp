// Throughput of the data socket over loopback against the real ws2_32, each figure beside a
// plain blocking WinSock loop that receives the same bytes from the same sender in the same
// run. The sender is a thread of plain blocking calls on 127.0.0.1.
//   data-bench [MIB LINES]     defaults: 64 MiB in rmStream, 1,000,000 lines in rmLine
// Prints one line per figure: "NAME ours_ms reference_ms", and exits 1 when a run lost bytes.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "sock/IpClient.h"
#include "sock/IpDataSocket.h"
#include "toolkit/Platform.h"
#include "toolkit/Streams.h"
#include "toolkit/ThreadWin32.h"
#include "win32/LoopbackWin32.h"

#include <winsock2.h>
#include <windows.h>

namespace {

using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Listens on 127.0.0.1, accepts one connection, sends `payload` `repeat` times and closes.
class Sender {
 public:
  Sender(const std::string& payload, size_t repeat) {
    FListener = ListenOnLoopback(Port, 1);
    FThread = std::make_unique<TSystemThread>([this, payload, repeat] {
      SOCKET s = ::accept(FListener, nullptr, nullptr);
      if (s == INVALID_SOCKET) return;
      for (size_t i = 0; i < repeat; ++i) {
        size_t done = 0;
        while (done < payload.size()) {
          const int n = ::send(s, payload.data() + done, static_cast<int>(payload.size() - done), 0);
          if (n <= 0) break;
          done += static_cast<size_t>(n);
        }
      }
      ::shutdown(s, SD_SEND);
      char sink[256];
      while (::recv(s, sink, sizeof sink, 0) > 0) {
      }
      ::closesocket(s);
    });
  }
  ~Sender() {
    FThread.reset();
    ::closesocket(FListener);
  }
  uint16_t Port = 0;

 private:
  SOCKET FListener;
  std::unique_ptr<TSystemThread> FThread;
};

// The reference: connect, then a blocking receive loop; counts bytes and, when asked, lines.
struct Received {
  uint64_t Bytes = 0;
  uint64_t Lines = 0;
};
Received BlockingLoop(uint16_t port, bool countLines) {
  Received r;
  SOCKET s = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  to.sin_port = htons(port);
  if (::connect(s, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) return r;
  static char buffer[8192];
  std::string pending;
  int n;
  while ((n = ::recv(s, buffer, sizeof buffer, 0)) > 0) {
    r.Bytes += static_cast<uint64_t>(n);
    if (!countLines) continue;
    // A straightforward line splitter: each line is copied out as a string, as a caller would.
    pending.append(buffer, static_cast<size_t>(n));
    size_t start = 0, end;
    while ((end = pending.find('\n', start)) != std::string::npos) {
      std::string line = pending.substr(start, end + 1 - start);
      r.Lines += !line.empty();
      start = end + 1;
    }
    pending.erase(0, start);
  }
  ::closesocket(s);
  return r;
}

// Counts what rmStream writes and keeps none of it.
class CountingStream : public TStream {
 public:
  uint32_t Read(void*, uint32_t) override { return 0; }
  uint32_t Write(const void*, uint32_t count) override {
    Bytes += count;
    return count;
  }
  uint64_t Bytes = 0;
};

// The data socket: one client connection until the sender's close has been handled.
Received DataSocket(uint16_t port, TIpReceiveMode mode) {
  Received r;
  CountingStream stream;
  TIpCustomClient c{nullptr};
  c.DataInits().ReceiveMode = mode;
  c.DataInits().ReceiveBufferSize = 65536;
  bool closed = false;
  c.OnReadLine = [&](TObject*, TSocket, const String&) { ++r.Lines; };
  c.OnStatus = [&](TObject*, TSocket, uint8_t kind, const TIpConnRec&, const TIpSockStatRec&) {
    if (kind == 1) closed = true;
  };
  c.OnError = [&](TObject*, uint32_t, int, const String& text) {
    std::fprintf(stderr, "data-bench: %s\n", text.c_str());
    closed = true;
  };
  c.DefaultPort = port;
  c.ConnectTo("127.0.0.1");
  if (mode == rmStream) c.DataSocket()->SetReceiveStream(&stream);
  WindowSystem().PumpUntil([&] { return closed && !c.IsActive(); }, 600000);
  r.Bytes = stream.Bytes;
  return r;
}

struct Figure {
  double Ours = 0, Reference = 0;
  bool Complete = true;
};

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

// Times the data socket and the blocking loop on the same payload, each against a sender of
// its own, the median of `rounds`.
Figure Measure(const std::string& payload, size_t repeat, TIpReceiveMode mode, uint64_t wantBytes, uint64_t wantLines,
               int rounds) {
  Figure f;
  std::vector<double> ours, reference;
  for (int i = 0; i < rounds; ++i) {
    {
      Sender sender(payload, repeat);
      const auto start = Clock::now();
      const Received r = DataSocket(sender.Port, mode);
      ours.push_back(MsSince(start));
      f.Complete = f.Complete && (mode == rmStream ? r.Bytes == wantBytes : r.Lines == wantLines);
    }
    {
      Sender sender(payload, repeat);
      const auto start = Clock::now();
      const Received r = BlockingLoop(sender.Port, mode == rmLine);
      reference.push_back(MsSince(start));
      f.Complete = f.Complete && r.Bytes == wantBytes && (mode != rmLine || r.Lines == wantLines);
    }
  }
  f.Ours = Median(ours);
  f.Reference = Median(reference);
  return f;
}

}  // namespace

int main(int argc, char** argv) {
  const size_t mib = argc > 2 ? std::strtoul(argv[1], nullptr, 10) : 64;
  const size_t lines = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 1000000;
  TWinSockModule winsock;

  const std::string block(1 << 20, 'x');
  const Figure stream = Measure(block, mib, rmStream, uint64_t{mib} << 20, 0, 5);
  std::printf("stream %.1f %.1f%s\n", stream.Ours, stream.Reference, stream.Complete ? "" : " incomplete");

  // Lines of 30 bytes with CR LF, 1,000 lines to a block.
  std::string lineBlock;
  for (int i = 0; i < 1000; ++i) {
    char text[40];
    std::snprintf(text, sizeof text, "line %06d of the benchmark..\r\n", i);
    lineBlock += text;
  }
  const size_t blocks = (lines + 999) / 1000;
  const Figure line = Measure(lineBlock, blocks, rmLine, lineBlock.size() * blocks, blocks * 1000, 5);
  std::printf("lines %.1f %.1f%s\n", line.Ours, line.Reference, line.Complete ? "" : " incomplete");
  return stream.Complete && line.Complete ? 0 : 1;
}
