// Integer machine constants: the single description of this machine's
// integer and floating-point arithmetic from which distfn derives its limits.
#include <array>
#include <cstddef>

#include "distfn.h"

namespace {

// Integers are sign * (x0 + x1 a + ... + x(s-1) a^(s-1)); floating-point
// numbers are sign * b^e * (0.d1 d2 ... dm) with emin <= e <= emax.  Entry 0
// is unused.  Two's-complement 32-bit integers and IEEE 754 binary32/binary64.
constexpr std::array<int, 11> kMachineConstants = {
    0,
    2,           // 1: a, base of integer arithmetic
    31,          // 2: s, base-a digits of an integer, sign excluded
    2147483647,  // 3: a^s - 1, the largest integer
    2,           // 4: b, base of floating-point arithmetic
    24,          // 5: m, base-b digits of a single-precision significand
    -125,        // 6: emin, smallest single-precision exponent
    128,         // 7: emax, largest single-precision exponent
    53,          // 8: m, base-b digits of a double-precision significand
    -1021,       // 9: emin, smallest double-precision exponent
    1024,        // 10: emax, largest double-precision exponent
};

}  // namespace

// The table is constant rather than refilled on each call, so concurrent
// callers share it without a data race.
extern "C" int ipmpar(int *i) {
  if (*i < 0 || static_cast<std::size_t>(*i) >= kMachineConstants.size()) return 0;
  return kMachineConstants[static_cast<std::size_t>(*i)];
}
