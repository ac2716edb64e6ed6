// Where the fuzz input cuts a byte stream into reads: a handful of positions, or every byte.
#pragma once

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <vector>

#include "toolkit/SysUtils.h"

// The cut positions are taken from the end of the input (FuzzedDataProvider reads integers
// there); call this before taking the stream itself.
struct TSplitPlan {
  bool EveryByte = false;
  std::vector<uint16_t> Cuts;

  static TSplitPlan From(FuzzedDataProvider& in) {
    TSplitPlan plan;
    plan.EveryByte = in.ConsumeIntegralInRange<int>(0, 7) == 0;
    const int n = in.ConsumeIntegralInRange<int>(0, 8);
    for (int i = 0; i < n; ++i) plan.Cuts.push_back(in.ConsumeIntegral<uint16_t>());
    return plan;
  }

  // The stream in pieces; empty pieces included where two cuts meet.
  std::vector<String> Apply(const String& stream) const {
    std::vector<String> pieces;
    if (EveryByte) {
      for (char c : stream) pieces.emplace_back(1, c);
      return pieces;
    }
    std::vector<size_t> at;
    for (uint16_t c : Cuts) at.push_back(stream.empty() ? 0 : c % (stream.size() + 1));
    std::sort(at.begin(), at.end());
    size_t from = 0;
    for (size_t a : at) {
      pieces.push_back(stream.substr(from, a - from));
      from = a;
    }
    pieces.push_back(stream.substr(from));
    return pieces;
  }
};
