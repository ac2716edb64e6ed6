// The debug log's ring under any sequence of AddLogEntry, GetLogEntry, ClearBuffer and buffer
// size changes, against a plain queue of entries that drops the oldest while the new entry does
// not fit in the ring's size less one byte.
#include <deque>

#include "FuzzCheck.h"
#include "Splits.h"
#include "fakes/FakePlatform.h"
#include "log/IpLog.h"

namespace {

struct Entry {
  int32_t Socket;
  uint32_t Kind;
  String Bytes;     // data entries
  uint32_t Length;  // the length field
  uintptr_t Param;  // other entries: the 32-bit parameter
};

void Formatter(int32_t, uint32_t, const void*, uint32_t, String&) {}
void OtherFormatter(int32_t, uint32_t, const void*, uint32_t, String&) {}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  TFakePlatform platform;
  TIpDebugLog log{nullptr};
  uint32_t capacity = 64 + in.ConsumeIntegralInRange<uint32_t>(0, 400);
  log.SetBufferSize(capacity);
  log.SetEnabled(true);
  std::deque<Entry> model;
  uint32_t used = 0;  // bytes the model's entries take in the ring
  auto sizeOf = [](const Entry& e) { return TIpDebugLog::HeaderSize + ((e.Kind & deDataFollows) ? e.Length : 0); };
  auto push = [&](const Entry& e) {
    const uint32_t n = sizeOf(e);
    if (n >= capacity) return;
    while (capacity - 1 - used < n) {
      used -= sizeOf(model.front());
      model.pop_front();
    }
    model.push_back(e);
    used += n;
  };
  push({0, deLogEnabled, {}, 0, 0});

  while (in.remaining_bytes() > 0) {
    switch (in.ConsumeIntegralInRange<int>(0, 9)) {
      case 0:
      case 1:
      case 2: {  // a data entry of any size
        Entry e{in.ConsumeIntegral<int32_t>(), deDataFollows | in.ConsumeIntegralInRange<uint32_t>(0, 3), {}, 0, 0};
        e.Bytes = in.ConsumeRandomLengthString(capacity + 40);
        e.Length = static_cast<uint32_t>(e.Bytes.size());
        log.AddLogEntry(in.ConsumeBool() ? Formatter : nullptr, e.Socket, e.Kind, e.Bytes.data(), e.Length);
        push(e);
        break;
      }
      case 3: {  // an entry without data: its parameter and length are kept as given
        Entry e{in.ConsumeIntegral<int32_t>(), in.ConsumeIntegralInRange<uint32_t>(1, 5), {}, 0, 0};
        e.Length = in.ConsumeIntegral<uint32_t>();
        e.Param = in.ConsumeIntegral<uint32_t>();
        log.AddLogEntry(in.ConsumeBool() ? OtherFormatter : nullptr, e.Socket, e.Kind,
                        reinterpret_cast<const void*>(e.Param), e.Length);
        push(e);
        break;
      }
      case 4:
      case 5:
      case 6: {  // take the oldest
        TIpLogEntry got;
        const bool any = log.GetLogEntry(got);
        FUZZ_CHECK(any == !model.empty(), "an entry %s, model has %zu", any ? "taken" : "missing", model.size());
        if (!any) break;
        const Entry want = model.front();
        model.pop_front();
        used -= sizeOf(want);
        FUZZ_CHECK(got.Socket == want.Socket && got.Kind == want.Kind && got.Length == want.Length,
                   "entry %d/%X/%u, model %d/%X/%u", got.Socket, got.Kind, got.Length, want.Socket, want.Kind,
                   want.Length);
        if (want.Kind & deDataFollows) {
          FUZZ_CHECK(want.Length == 0 || String(static_cast<const char*>(got.Data), got.Length) == want.Bytes,
                     "data of %u bytes differs", got.Length);
        } else {
          FUZZ_CHECK(reinterpret_cast<uintptr_t>(got.Data) == want.Param, "parameter");
        }
        break;
      }
      case 7:
        log.ClearBuffer();
        model.clear();
        used = 0;
        break;
      case 8: {  // a new size discards everything; the same size changes nothing
        const uint32_t n = 64 + in.ConsumeIntegralInRange<uint32_t>(0, 400);
        log.SetBufferSize(n);
        if (n != capacity) {
          model.clear();
          used = 0;
          capacity = n;
        }
        break;
      }
      case 9:  // switched off and on: a marker each way
        push({0, deLogDisabled, {}, 0, 0});
        log.SetEnabled(false);
        log.SetEnabled(true);
        push({0, deLogEnabled, {}, 0, 0});
        break;
    }
    FUZZ_CHECK(log.BufferEmpty() == model.empty(), "empty %d, model %zu entries", log.BufferEmpty(), model.size());
    FUZZ_CHECK(log.BufferFree() == capacity - 1 - used, "free %u, model %u", log.BufferFree(), capacity - 1 - used);
    FUZZ_CHECK(log.Head() < capacity && log.Tail() < capacity, "head %u tail %u", log.Head(), log.Tail());
  }
  return 0;
}
