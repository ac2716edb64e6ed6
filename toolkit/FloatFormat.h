// Decimal text of a double, as the C library's "%.Nf", "%.Ne" and "%.Ng" print it, without
// linking the C runtime's printf.
#pragma once

#include <string>

// conversion is 'f', 'e' or 'g'; precision >= 0 (for 'g' 0 means 1). The exact binary value is
// rounded to the digits shown, to nearest with ties to even; the sign bit gives a '-' (also on
// -0.0 and on a NaN); infinities and NaNs print as "inf" and "nan".
std::string FormatFloat(double value, char conversion, int precision);
