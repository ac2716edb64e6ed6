// Format's %f, %e and %g against the C library's printf, which the conversion must match byte for
// byte: an edge table, then a deterministic sweep with snprintf as the oracle.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>

#include "toolkit/FloatFormat.h"
#include "toolkit/SysUtils.h"

namespace {

// What the C library prints for "%.<precision><conversion>".
String Oracle(double value, char conversion, int precision) {
  char directive[] = "%.*f";
  directive[3] = conversion;
  char text[1500];  // DBL_MAX at "%.1100f" needs 1411
  std::snprintf(text, sizeof text, directive, precision, value);
  return text;
}

String Directive(char conversion, int precision) { return "%." + std::to_string(precision) + conversion; }

}  // namespace

TEST(FormatFloat, EdgeTable) {
  struct {
    const char* fmt;
    double value;
    const char* expected;
  } cases[] = {
      {"%.2f", 0.125, "0.12"},
      {"%.2f", 0.375, "0.38"},
      {"%.2f", 2.675, "2.67"},
      {"%.1f", 1.15, "1.1"},
      {"%.0f", 0.5, "0"},
      {"%.0f", 1.5, "2"},
      {"%.0f", 2.5, "2"},
      {"%.0f", -2.5, "-2"},
      {"%.3f", 1.0005, "1.000"},
      {"%f", 1e21, "1000000000000000000000.00"},
      {"%e", 1e21, "1.00e+21"},
      {"%g", 1e21, "1e+21"},
      {"%.5g", 9.9999999e-5, "0.0001"},
      {"%.8g", 9.9999999e-5, "9.9999999e-05"},
      {"%g", 0.0001, "0.0001"},
      {"%g", 1e-5, "1e-05"},
      {"%.6g", 123456.0, "123456"},
      {"%.6g", 999999.5, "1e+06"},
      {"%g", 1e15, "1e+15"},
      {"%g", 1e16, "1e+16"},
      {"%g", 0.1, "0.1"},
      {"%.17g", 0.1, "0.10000000000000001"},
      {"%g", 123456789012345678.0, "1.23456789012346e+17"},
      {"%.0e", 9.5, "1e+01"},
      {"%.1e", 99.5, "1.0e+02"},
      {"%.0g", 1.0, "1"},
      {"%.0g", 0.0005, "0.0005"},
      {"%f", DBL_MAX,
       "179769313486231570814527423731704356798070567525844996598917476803157260780028538760589558632766878171540458953"
       "514382464234321326889464182768467546703537516986049910576551282076245490090389328944075868508455133942304583236"
       "903222948165808559332123348274797826204144723168738177180919299881250404026184124858368.00"},
      {"%e", DBL_MAX, "1.80e+308"},
      {"%g", DBL_MAX, "1.79769313486232e+308"},
      {"%e", DBL_MIN, "2.23e-308"},
      {"%g", DBL_MIN, "2.2250738585072e-308"},
      {"%e", 5e-324, "4.94e-324"},
      {"%g", 5e-324, "4.94065645841247e-324"},
      {"%.30e", 5e-324, "4.940656458412465441765687928682e-324"},
      {"%f", 5e-324, "0.00"},
      {"%.0f", -5e-324, "-0"},
      {"%f", 0.0, "0.00"},
      {"%e", 0.0, "0.00e+00"},
      {"%g", 0.0, "0"},
      {"%.0f", 0.0, "0"},
      {"%f", -0.0, "-0.00"},
      {"%.0e", -0.0, "-0e+00"},
      {"%g", -0.0, "-0"},
      {"%f", -0.004, "-0.00"},
      {"%f", INFINITY, "inf"},
      {"%g", -INFINITY, "-inf"},
      {"%e", NAN, "nan"},
      {"%f", -NAN, "-nan"},
      {"%.60f", 0.1, "0.100000000000000005551115123125782702118158340454101562500000"},
      {"%.0f", 1e100,
       "10000000000000000159028911097599180468360808563945281389781327557747838772170381060813469985856815104"},
      {"%E", -1.5, "-1.50e+00"},
      {"%8.3f", 3.14159, "   3.142"},
      {"[%-10.1e]", 3.14159, "[3.1e+00   ]"},
  };
  for (const auto& c : cases) EXPECT_EQ(Format(c.fmt, {c.value}), c.expected) << c.fmt << " of " << c.value;
  EXPECT_THROW(Format("%f", {"1.5"}), Exception);
}

// Every edge value at every small precision, and at precisions long enough to show the whole
// exact expansion (5e-324 has 1074 decimal places, DBL_MAX 309 integer digits).
TEST(FormatFloat, EdgeValuesAgainstPrintf) {
  const double values[] = {0.0,
                           -0.0,
                           0.5,
                           -0.5,
                           1.5,
                           2.5,
                           0.125,
                           2.675,
                           1e21,
                           1e22,
                           1e23,
                           9.9999999e-5,
                           0.0001,
                           1e-5,
                           999999.5,
                           0.95,
                           9.5,
                           99.5,
                           DBL_MAX,
                           -DBL_MAX,
                           DBL_MIN,
                           -DBL_MIN,
                           5e-324,
                           -5e-324,
                           DBL_MIN - 5e-324,
                           DBL_EPSILON,
                           1.0 / 3,
                           2.0 / 3,
                           4503599627370495.5,
                           9007199254740993.0,
                           INFINITY,
                           -INFINITY,
                           NAN,
                           -NAN};
  std::vector<int> precisions;
  for (int p = 0; p <= 25; ++p) precisions.push_back(p);
  for (int p : {40, 100, 330, 767, 1074, 1100}) precisions.push_back(p);
  for (double v : values)
    for (char conversion : {'f', 'e', 'g'})
      for (int p : precisions)
        ASSERT_EQ(Format(Directive(conversion, p), {v}), Oracle(v, conversion, p))
            << Directive(conversion, p) << " of " << v;
}

namespace {

// Doubles of four kinds, with a random sign: any bit pattern (every exponent, subnormals, inf,
// NaN); decimal-looking values k × 10^±j, which sit next to decimal ties; binary fractions
// k / 2^j, many of which are exact ties at small precisions; and those ties moved by one ulp.
double SweepValue(std::mt19937_64& random, int i) {
  uint64_t r = random();
  double v;
  switch (i % 4) {
    case 0: std::memcpy(&v, &r, sizeof v); return v;
    case 1: {
      double k = static_cast<double>(r % 100000000000000000ULL >> (random() % 57));
      int j = static_cast<int>(random() % 46) - 23;
      v = j < 0 ? k / std::pow(10.0, -j) : k * std::pow(10.0, j);
      break;
    }
    default: {
      v = std::ldexp(static_cast<double>(r >> 40), -static_cast<int>(random() % 30));
      if (i % 4 == 3) v = std::nextafter(v, random() & 1 ? INFINITY : 0.0);
      break;
    }
  }
  return random() & 1 ? -v : v;
}

// 200,000 values, each at one of the precisions that matter most and at one random precision
// (through FormatFloat itself: the tables above cover its use by Format).
void Sweep(char conversion) {
  std::mt19937_64 random(20261208);
  const int fixed[] = {0, 1, 2, 6, 17};
  int failures = 0;
  for (int i = 0; i < 200000 && failures < 10; ++i) {
    double v = SweepValue(random, i);
    int precisions[] = {fixed[i % 5], static_cast<int>(random() % 40)};
    for (int p : precisions) {
      String got = FormatFloat(v, conversion, p), want = Oracle(v, conversion, p);
      if (got != want) {
        ++failures;
        ADD_FAILURE() << Directive(conversion, p) << " of " << Oracle(v, 'a', 13) << ": " << got << " != " << want;
      }
    }
  }
  EXPECT_EQ(failures, 0);
}

}  // namespace

TEST(FormatFloat, SweepFixedAgainstPrintf) { Sweep('f'); }
TEST(FormatFloat, SweepExponentAgainstPrintf) { Sweep('e'); }
TEST(FormatFloat, SweepGeneralAgainstPrintf) { Sweep('g'); }
