// Internal to the varrow library: sharing one bucket's count among the
// buckets of another scheme that it overlaps.  Never installed.
#pragma once

#include <cstdint>

#include "hist_internal.hpp"

// The part of count that lies below the fraction share (0..1) of its range,
// rounded to nearest.  A bucket's count is split by differences of this
// function at the overlaps' edges: the parts are whole, never negative, and
// add up to count exactly whatever the order in which they are taken.
inline uint64_t hist_cumulative_share(uint64_t count, long double share) {
  if (!(share > 0)) return 0;
  if (share >= 1) return count;
  const long double scaled = static_cast<long double>(count) * share + 0.5L;
  return scaled >= static_cast<long double>(count) ? count : static_cast<uint64_t>(scaled);
}

// The part of count that lies in [from, to] of a range [low, high]
// (low < high), by the cumulative shares of its two ends.
inline uint64_t hist_share_between(uint64_t count, long double low, long double high, long double from,
                                   long double to) {
  const long double span = high - low;
  return hist_cumulative_share(count, (to - low) / span) - hist_cumulative_share(count, (from - low) / span);
}
