#include "toolkit/FloatFormat.h"

#include <cstdint>
#include <cstring>

namespace {

constexpr uint32_t kBase = 1000000000;

// The exact decimal expansion of a finite double's magnitude: the value is 0.d1d2d3... × 10^Point
// with the digits in Digits[0, Size), no leading or trailing zeros; zero has none and Point 1.
struct TDecimal {
  char Digits[800];  // the longest, 2^53 × 5^1074 (2^-1074 scaled by its 1074 places), has 767
  int Size = 0;
  int Point = 1;

  char At(int i) const { return i >= 0 && i < Size ? Digits[i] : '0'; }

  // Keeps the first `keep` digits (none when keep <= 0), rounding the exact value to nearest,
  // ties to even.
  void Round(int keep) {
    if (keep >= Size) return;
    char next = keep >= 0 ? Digits[keep] : '0';
    bool up = next > '5' || (next == '5' && (keep + 1 < Size || (At(keep - 1) & 1)));
    Size = keep > 0 ? keep : 0;
    if (!up) return;
    int i = Size - 1;
    for (; i >= 0 && Digits[i] == '9'; --i) Digits[i] = '0';
    if (i >= 0) {
      ++Digits[i];
    } else {  // 99.9 -> 100: one digit, the zeros after it are implied
      Digits[0] = '1';
      Size = 1;
      ++Point;
    }
  }
};

// mantissa × 2^exp2 in decimal. For exp2 < 0 it is mantissa × 5^-exp2 / 10^-exp2, so either way
// the digits come from an integer product, kept in base-10^9 limbs, least significant first.
void Exact(uint64_t mantissa, int exp2, TDecimal& d) {
  if (mantissa == 0) return;
  for (; !(mantissa & 1) && exp2 < 0; mantissa >>= 1) ++exp2;
  uint32_t limbs[90];
  int count = 0;
  for (; mantissa != 0; mantissa /= kBase) limbs[count++] = static_cast<uint32_t>(mantissa % kBase);
  int places = exp2 < 0 ? -exp2 : 0;
  for (int left = exp2 < 0 ? -exp2 : exp2; left > 0;) {
    // The largest steps whose factor fits 32 bits: 5^13 or 2^31.
    int step = exp2 < 0 ? (left < 13 ? left : 13) : (left < 31 ? left : 31);
    uint32_t factor = 1;
    for (int s = 0; s < step; ++s) factor *= exp2 < 0 ? 5 : 2;
    left -= step;
    uint64_t carry = 0;
    for (int i = 0; i < count || carry != 0; ++i) {
      uint64_t t = carry + (i < count ? static_cast<uint64_t>(limbs[i]) * factor : 0);
      carry = t / kBase;
      limbs[i] = static_cast<uint32_t>(t - carry * kBase);
      if (i >= count) count = i + 1;
    }
  }
  for (int i = count - 1; i >= 0; --i)
    for (uint32_t p = kBase / 10; p != 0; p /= 10) {
      char c = static_cast<char>('0' + limbs[i] / p % 10);
      if (d.Size != 0 || c != '0') d.Digits[d.Size++] = c;
    }
  d.Point = d.Size - places;
  while (d.Digits[d.Size - 1] == '0') --d.Size;
}

}  // namespace

std::string FormatFloat(double value, char conversion, int precision) {
  std::string out;
  uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  if (bits >> 63) out += '-';
  int biased = static_cast<int>(bits >> 52) & 0x7FF;
  uint64_t fraction = bits & ((1ULL << 52) - 1);
  if (biased == 0x7FF) return out += fraction != 0 ? "nan" : "inf";
  TDecimal d;
  if (biased != 0)
    Exact(fraction | 1ULL << 52, biased - 1075, d);
  else
    Exact(fraction, -1074, d);

  bool scientific = conversion == 'e';
  if (conversion == 'g') {
    // The style of 'e' at precision P-1 when its exponent X is below -4 or at least P, else 'f'
    // at precision P-1-X; both show P significant digits.
    if (precision == 0) precision = 1;
    d.Round(precision);
    int x = d.Point - 1;
    scientific = x < -4 || x >= precision;
    precision -= scientific ? 1 : 1 + x;
  } else {
    d.Round(scientific ? precision + 1 : d.Point + precision);
  }
  int whole = scientific ? 1 : d.Point;  // digits before the point
  if (whole <= 0) out += '0';
  for (int i = 0; i < whole; ++i) out += d.At(i);
  if (precision > 0) out += '.';
  for (int i = 0; i < precision; ++i) out += d.At(whole + i);
  if (conversion == 'g' && precision > 0) {  // 'g' drops the fraction's trailing zeros
    while (out.back() == '0') out.pop_back();
    if (out.back() == '.') out.pop_back();
  }
  if (scientific) {
    int x = d.Point - 1;
    out += x < 0 ? "e-" : "e+";
    if (x < 0) x = -x;
    if (x >= 100) out += static_cast<char>('0' + x / 100);
    out += static_cast<char>('0' + x / 10 % 10);
    out += static_cast<char>('0' + x % 10);
  }
  return out;
}
