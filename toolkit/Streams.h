// Streams of bytes, as the runtime's: an abstract stream that reads and writes at its current
// position, and a stream kept in memory. The socket layer sends from a stream and can write
// what it receives to one.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "toolkit/Classes.h"

class TStream : public TObject {
 public:
  // Reads up to `count` bytes into `buffer` from the current position on; returns how many it
  // read (fewer at the end of the stream, 0 there).
  virtual uint32_t Read(void* buffer, uint32_t count) = 0;
  // Writes `count` bytes at the current position; returns how many it wrote.
  virtual uint32_t Write(const void* buffer, uint32_t count) = 0;
};

// A stream in memory that grows as it is written.
class TMemoryStream : public TStream {
 public:
  TMemoryStream() = default;
  explicit TMemoryStream(const String& bytes) : FData(bytes.begin(), bytes.end()) {}

  uint32_t Read(void* buffer, uint32_t count) override {
    const size_t n = std::min<size_t>(count, FData.size() - std::min(FPosition, FData.size()));
    if (n > 0) std::memcpy(buffer, FData.data() + FPosition, n);
    FPosition += n;
    return static_cast<uint32_t>(n);
  }
  uint32_t Write(const void* buffer, uint32_t count) override {
    if (count == 0) return 0;
    if (FPosition + count > FData.size()) FData.resize(FPosition + count);
    std::memcpy(FData.data() + FPosition, buffer, count);
    FPosition += count;
    return count;
  }

  size_t Size() const { return FData.size(); }
  size_t Position() const { return FPosition; }
  void SetPosition(size_t position) { FPosition = position; }
  // The whole content, whatever the position.
  String Bytes() const { return String(FData.begin(), FData.end()); }

 private:
  std::vector<uint8_t> FData;
  size_t FPosition = 0;
};
