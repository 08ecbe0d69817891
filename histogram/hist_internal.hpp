// Internal to the varrow library: the histogram record and the helpers that
// every part of the library shares.  Never installed.
#pragma once

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>

#include "varrow.h"

// The plain record.  The fast record below begins with it, so a histogram *
// of a fast histogram may be converted to hist_fast_record *.
struct histogram {
  uint16_t capacity;
  uint16_t used;
  uint8_t fast : 1;
  const hist_allocator *allocator;
  hist_bucket_entry *entries;
};

inline constexpr int hist_fast_pages = 256;
inline constexpr int hist_fast_page_slots = 256;

struct hist_fast_record {
  histogram base;
  uint16_t *fast_index[hist_fast_pages];
};

inline hist_fast_record *hist_fast_of(histogram *h) { return reinterpret_cast<hist_fast_record *>(h); }
inline const hist_fast_record *hist_fast_of(const histogram *h) {
  return reinterpret_cast<const hist_fast_record *>(h);
}

// Distinct buckets the conversions can produce: every valid bucket, with zero
// as the single zero bucket, plus the NaN bucket.  Caps requested capacities.
inline constexpr int hist_max_conversion_buckets = 46082;
inline constexpr int hist_default_capacity = 100;
// The entry array grows by this many entries at a time.
inline constexpr int hist_growth_step = 100;
// used and capacity are 16-bit.
inline constexpr int hist_max_entries = UINT16_MAX;

// The capacity of the array grown from capacity in steps until it holds
// needed entries (at most hist_max_entries).
inline int hist_grown_capacity(int capacity, int needed) {
  if (needed <= capacity) return capacity;
  const int steps = (needed - capacity + hist_growth_step - 1) / hist_growth_step;
  return std::min(capacity + steps * hist_growth_step, hist_max_entries);
}

inline constexpr hist_bucket hist_nan_bucket{-1, 0};
inline constexpr hist_bucket hist_zero_bucket{0, 0};

inline bool hist_bucket_is_valid(hist_bucket b) {
  return b.val == 0 || (b.val >= 10 && b.val <= 99) || (b.val <= -10 && b.val >= -99);
}

inline bool hist_bucket_identical(hist_bucket a, hist_bucket b) { return a.val == b.val && a.exp == b.exp; }

// A key whose integer order is the bucket order: invalid buckets first (among
// themselves by their raw bits), then negative buckets from the most negative,
// the val-0 buckets (zero; among themselves by exp), then positive buckets.
// key = offset[val] + stride[val] x (exp + 128), from one table lookup and no
// branch, since every lookup and merge compares keys in its inner loop.
// Consecutive valid buckets of one sign have consecutive keys, so the keys
// of two entries bound how many entries can lie between them.
struct hist_order_term {
  int32_t offset;
  int32_t stride;
};

inline constexpr auto hist_order_terms = [] {
  constexpr int32_t invalid_base = -100000;
  constexpr int32_t magnitude_base = 1000;
  constexpr int32_t per_exponent = 90;  // val 10 to 99
  constexpr int32_t first_val = 10;
  constexpr int32_t exponent_offset = 128;
  std::array<hist_order_term, 256> terms{};
  for (int byte = 0; byte < 256; ++byte) {
    const int val = static_cast<int8_t>(byte);
    const bool valid = val == 0 || (val >= 10 && val <= 99) || (val <= -10 && val >= -99);
    if (!valid)
      terms[byte] = {invalid_base + byte * 256, 1};
    else if (val == 0)
      terms[byte] = {-exponent_offset, 1};  // key = exp
    else if (val > 0)
      terms[byte] = {magnitude_base + val - first_val, per_exponent};
    else
      terms[byte] = {-magnitude_base + val + first_val, -per_exponent};
  }
  return terms;
}();

inline int32_t hist_bucket_order_key(hist_bucket b) {
  const hist_order_term t = hist_order_terms[static_cast<uint8_t>(b.val)];
  return t.offset + t.stride * (b.exp + 128);
}

// Negative, zero or positive as a sorts before, with or after b.
inline int hist_bucket_compare(hist_bucket a, hist_bucket b) {
  const int32_t ka = hist_bucket_order_key(a), kb = hist_bucket_order_key(b);
  return (ka > kb) - (ka < kb);
}

// The bucket's lower edge (toward minus infinity); NaN when invalid, 0 for val 0.
double hist_bucket_left(hist_bucket b);

// b's position plus 1 when h is fast and its index knows b, else 0.
inline int hist_fast_slot(const histogram *h, hist_bucket b) {
  if (!h->fast) return 0;
  const uint16_t *page = hist_fast_of(h)->fast_index[static_cast<uint8_t>(b.exp)];
  return page ? page[static_cast<uint8_t>(b.val)] : 0;
}

// Brackets up to this many entries wide are narrowed by key distance; wider
// ones, left by sparse stretches, are halved with a fixed step.
inline constexpr int hist_narrowing_span = 32;

// Looks b up: 1 with *pos its position, or 0 with *pos the insertion
// position.  Inline, so that an insertion keeps the position in a register.
[[gnu::always_inline]] inline int hist_internal_find(const histogram *h, hist_bucket b, int *pos) {
  *pos = 0;
  if (h->used == 0) return 0;
  if (const int slot = hist_fast_slot(h, b)) {
    *pos = slot - 1;
    return 1;
  }
  // Keys are distinct integers, so the entries before b hold keys in
  // [first key, key) and those from b onward keys in [key, last key]: b's
  // position is bracketed by both differences.  Where the buckets in use
  // are contiguous the bracket is a single entry; in general it spans as
  // many entries as there are unused keys between the first and the last.
  const int used = h->used;
  const hist_bucket_entry *entries = h->entries;
  const int32_t key = hist_bucket_order_key(b);
  const int32_t first_key = hist_bucket_order_key(entries[0].bucket);
  const int32_t last_key = hist_bucket_order_key(entries[used - 1].bucket);
  if (key <= first_key) return key == first_key;
  if (key > last_key) {
    *pos = used;
    return 0;
  }
  int lo = std::max(1, used - 1 - (last_key - key));
  int hi = std::min(used - 1, key - first_key);
  // Where the buckets from the lower bound up to b are contiguous, as in
  // the body of a distribution, the key distance from that one probe names
  // b's position: one dependent probe instead of a narrowing.
  const int32_t lo_key = hist_bucket_order_key(entries[lo].bucket);
  if (const int guess = lo + (key - lo_key); lo_key <= key && guess <= hi && hist_bucket_identical(entries[guess].bucket, b)) {
    *pos = guess;
    return 1;
  }
  // A probe anywhere bounds b's position from one side by the probe itself
  // and from the other by the key distance, so a bracket end that lies in a
  // contiguous run closes the bracket at once.  Both ends are probed first
  // (independent loads), then the bracket is halved.
  const auto narrow_by = [&](int probe, int32_t probe_key) {
    const bool before = probe_key < key;
    lo = std::max(lo, before ? probe + 1 : probe - (probe_key - key));
    hi = std::min(hi, before ? probe + (key - probe_key) : probe);
  };
  const auto narrow = [&](int probe) { narrow_by(probe, hist_bucket_order_key(entries[probe].bucket)); };
  // The lower end was probed above: its key narrows without a second load.
  const int last_probe = hi;
  narrow_by(lo, lo_key);
  narrow(last_probe);
  if (hi - lo <= hist_narrowing_span) {
    while (lo < hi) narrow((lo + hi) / 2);
    *pos = lo;
    // Keys are one-to-one with buckets: comparing the bucket itself spares
    // the key's table load on the way out.
    return hist_bucket_identical(entries[lo].bucket, b);
  }
  // A bracket still this wide lies in a sparse stretch, where narrowing
  // rarely beats halving: halve with a fixed, branch-free step instead.
  const hist_bucket_entry *base = entries + lo;
  int n = hi - lo + 1;
  while (n > 1) {
    const int half = n / 2;
    base = hist_bucket_order_key(base[half - 1].bucket) < key ? base + half : base;
    n -= half;
  }
  const int32_t base_key = hist_bucket_order_key(base->bucket);
  *pos = static_cast<int>(base - entries) + (base_key < key);
  return base_key == key;
}
// Allocates, in a fast histogram, the index page that b's slot lives on
// (true when it is there).  A change allocates the pages it needs this way
// before it touches the entries, so that an allocator failure leaves the
// histogram as it was.
bool hist_fast_reserve_page(histogram *h, hist_bucket b);
// The same for the buckets of count entries.
bool hist_fast_reserve_pages(histogram *h, const hist_bucket_entry *entries, int count);

// Brings the fast index up to date for the entries from start onward; with
// clear set, first zeroes every page.  Does nothing for a plain histogram.
// A bucket whose page cannot be allocated stays unknown to the index.
void hist_fast_rebuild(histogram *h, int start, int clear);

// ---- The record format (serialize.cpp) ----

// The one decoder of the record format, behind every reader: the record's
// storable buckets (count not 0; valid or the NaN bucket) in bucket order,
// repeats added (saturating), into a fresh array from decoded->allocator
// (decoded: an empty plain record, entries NULL).  The bytes consumed, or -1
// for a record cut short, a width code above 7 or missing memory; decoded
// may then hold an array for the caller to release with its allocator.
ssize_t hist_decode_record(const void *buff, ssize_t buff_len, histogram *decoded);
// Adds the record's buckets into h, all or nothing: the bytes consumed, or
// -1 with h unchanged.  With whole set, bytes left after the record fail too.
ssize_t hist_add_record(histogram *h, const void *buff, ssize_t buff_len, bool whole);
// Sorts n entries into bucket order, adding up the counts of repeated
// buckets (saturating): the number of entries left.
int hist_sort_and_merge_repeats(hist_bucket_entry *entries, int n);
// Adds src's counts into tgt (saturating) in place, giving tgt the buckets it
// lacks first: false, with tgt unchanged, when tgt would pass 65,535 buckets
// or memory is missing.  src is sorted and holds no repeated bucket.
bool hist_add_entries(histogram *tgt, const histogram &src);

// Creates an empty histogram of the given variant and (already clamped) capacity.
histogram *hist_create(int capacity, bool fast, const hist_allocator *allocator);

// The straightforward conversion through log10, with values that log10 rounds
// up to the next power of ten put back into their own decade.  The table
// below is made from it; tests and benchmarks use it as the reference.
hist_bucket double_to_hist_bucket_by_log10(double d);
// The conversion of scaled integers by repeated division by ten; the
// reference for tests and benchmarks.
hist_bucket int_scale_to_hist_bucket_by_division(int64_t value, int scale);

// ---- The tabulated conversion of doubles ----
//
// A cell is 1/128 of a binade (the top 7 mantissa bits), at most 0.79% of
// its magnitudes, while a bucket spans at least 1/99 (1.01%) of its value:
// so at most one bucket step falls into a cell.  Cells cover the binades
// 2^-426 (below 1e-128) to 2^425 (holding 1e128); every magnitude below them
// is zero, every one above them (infinities and NaN included) NaN.
inline constexpr int hist_mantissa_bits = 52;
inline constexpr int hist_sign_shift = 63;
inline constexpr uint64_t hist_sign_bit = uint64_t{1} << hist_sign_shift;
inline constexpr int hist_cell_bits = 7;
inline constexpr int hist_cell_shift = hist_mantissa_bits - hist_cell_bits;
inline constexpr int hist_cells_per_binade = 1 << hist_cell_bits;
inline constexpr int hist_exponent_bias = 1023;
inline constexpr int hist_first_binade = -426;
inline constexpr int hist_binade_count = 2 * 426;
inline constexpr int hist_cell_count = hist_binade_count * hist_cells_per_binade;
inline constexpr uint64_t hist_first_cell_bits = static_cast<uint64_t>(hist_exponent_bias + hist_first_binade)
                                                 << hist_mantissa_bits;

// A cell's step is published last (release), so a reader that sees it
// non-zero also sees the buckets; 0 is no magnitude of the table.
inline constexpr uint64_t hist_cell_unfilled = 0;

// buckets[s][n]: s 0 below the step, 1 from it on; n 0 positive, 1 negative
// (magnitudes convert alike on both sides of zero, except into the NaN bucket).
struct alignas(16) hist_bucket_cell {
  uint64_t step;  // magnitude bits of the first double above the step; UINT64_MAX when none
  hist_bucket buckets[2][2];
};

extern hist_bucket_cell hist_bucket_cells[hist_cell_count];
// The conversion of a double whose cell is not filled: fills its binade
// (unless another thread is at it) and answers from the reference.
hist_bucket hist_bucket_of_unready_binade(double d);

// double_to_hist_bucket in a shift, a cell's two loads and a comparison, inline so
// that the insertion paths pay no call: false (and *b unset) while d's
// cell is not filled, for the caller to take the slow path out of line.
inline bool hist_double_to_bucket_ready(double d, hist_bucket *b) {
  const uint64_t bits = std::bit_cast<uint64_t>(d);
  const uint64_t magnitude = bits & ~hist_sign_bit;
  const uint64_t cell = (magnitude - hist_first_cell_bits) >> hist_cell_shift;
  if (cell >= static_cast<uint64_t>(hist_cell_count)) [[unlikely]] {
    *b = magnitude < hist_first_cell_bits ? hist_zero_bucket : hist_nan_bucket;
    return true;
  }
  hist_bucket_cell &c = hist_bucket_cells[cell];
  const uint64_t step = std::atomic_ref<uint64_t>(c.step).load(std::memory_order_acquire);
  if (step == hist_cell_unfilled) [[unlikely]]
    return false;
  // All four buckets in one load that does not wait for the comparison;
  // the comparison then picks one by a shift.
  const auto all_four = std::bit_cast<uint64_t>(c.buckets);
  const unsigned pick = 2 * static_cast<unsigned>(magnitude >= step) + static_cast<unsigned>(bits >> hist_sign_shift);
  *b = std::bit_cast<hist_bucket>(static_cast<uint16_t>(all_four >> (pick * 8 * sizeof(hist_bucket))));
  return true;
}

inline hist_bucket hist_double_to_bucket(double d) {
  hist_bucket b;
  return hist_double_to_bucket_ready(d, &b) ? b : hist_bucket_of_unready_binade(d);
}

// Below this magnitude, n converts as the double n does (with n's exponent):
// n / 10^k has a fractional part of at least 10^-9 unless it is whole, far
// more than the rounding and the nudge of the double conversion can move.
inline constexpr int64_t hist_int_via_double_limit = int64_t{1} << 32;
inline constexpr int hist_min_exponent = -128;
inline constexpr int hist_max_exponent = 127;

// int_scale_to_hist_bucket for larger magnitudes: the two leading digits in
// integer arithmetic.
hist_bucket hist_int_scale_by_digits(int64_t value, int scale);

// The exponents of the buckets of 1 and of 2^32 - 1 (1.0 x 10^0, 4.2 x 10^9):
// a scale that keeps both within range keeps every such integer's bucket in
// range, so the table's answer needs only the scale added.
inline constexpr int hist_int_via_double_lowest_exp = 0;
inline constexpr int hist_int_via_double_highest_exp = 9;
inline constexpr int hist_int_via_double_lowest_scale = hist_min_exponent - hist_int_via_double_lowest_exp;
inline constexpr int hist_int_via_double_highest_scale = hist_max_exponent - hist_int_via_double_highest_exp;

// Whether the table converts value at this scale: a non-zero magnitude below
// the limit above, at a scale that keeps its exponent in range.
inline bool hist_int_scale_is_tabulated(int64_t value, int scale) {
  const bool small = value != 0 && value > -hist_int_via_double_limit && value < hist_int_via_double_limit;
  return small && scale >= hist_int_via_double_lowest_scale && scale <= hist_int_via_double_highest_scale;
}

// int_scale_to_hist_bucket through the table; false (and *b unset) where it
// does not apply and while the cell is not filled, as for doubles.
inline bool hist_int_scale_to_bucket_ready(int64_t value, int scale, hist_bucket *b) {
  if (!hist_int_scale_is_tabulated(value, scale)) [[unlikely]]
    return false;
  if (!hist_double_to_bucket_ready(static_cast<double>(value), b)) [[unlikely]]
    return false;
  b->exp = static_cast<int8_t>(b->exp + scale);
  return true;
}

// ---- Counts, moments and quantiles ----

#include <span>

// The entries in use, in bucket order; empty for NULL or a histogram without storage.
inline std::span<const hist_bucket_entry> hist_entries(const histogram *h) {
  if (h == nullptr || h->entries == nullptr) return {};
  return {h->entries, h->used};
}

// Sums of 64-bit counts in this type cannot wrap: 65,535 entries add up to
// less than 2^80.
using hist_wide_count = unsigned __int128;

// ---- Reshaping and ad-hoc bins (downsample.cpp, adhoc.cpp) ----


// The inversion behind hist_downsample: the smallest k in 0..n with
// lower_tail(k) >= u, where lower_tail(k) = P[X <= k] for X ~ Binomial(n, p),
// 0 < p < 1, 0 <= u < 1.  It starts at the mean, jumps once by span /
// (0.005 n) and then bisects, so it evaluates lower_tail about log2(n) times.
// Counts and positions stay in 64-bit integers and the bracket shrinks on
// every step, so the search ends for every n up to 2^64 - 1.  A template so
// that tests and benchmarks can check and count the evaluations.
template <class LowerTail>
uint64_t hist_binomial_inverse(uint64_t n, double p, double u, LowerTail lower_tail) {
  constexpr double first_divisor_per_trial = 0.005;
  constexpr uint64_t bisection_divisor = 2;
  const double trials = static_cast<double>(n);
  // n may round up to a larger double; p < 1 keeps the product below 2^64.
  uint64_t k = std::min(static_cast<uint64_t>(p * trials), n);
  uint64_t divisor = std::max(static_cast<uint64_t>(first_divisor_per_trial * trials), bisection_divisor);
  uint64_t lo = 0;  // lower_tail(lo) < u, or lo is 0 and not yet evaluated
  uint64_t hi = n;  // lower_tail(hi) >= u; lower_tail(n) is 1
  for (;;) {
    // Only hi is left in the bracket: it is the answer without evaluating.
    if (k == hi && k - lo == 1) return k;
    const bool reached = lower_tail(k) >= u;
    if (reached) {
      if (k == 0) return 0;
      hi = k;
    } else {
      if (k == n) return n;
      lo = k;
    }
    const uint64_t span = hi - lo;
    const uint64_t move = std::max<uint64_t>(span >= divisor ? span / divisor : span / 2, 1);
    divisor = bisection_divisor;
    k = reached ? hi - move : lo + move;
  }
}

// The value at which hist_create_approximation_from_adhoc places bins[index]
// (index < nbins).  *prev_width holds the signed width of the bin before it
// (0 before the first) and receives this bin's.
double hist_adhoc_placement(int mode, const hist_adhoc_bin *bins, uint64_t nbins, uint64_t index,
                            double *prev_width);

// ---- Coordinated-omission correction (insertion.cpp, recorder.cpp) ----

// a + b, or 2^64 - 1 when the sum does not fit: counts saturate.
inline uint64_t hist_saturating_add(uint64_t a, uint64_t b) {
  uint64_t sum;
  return __builtin_add_overflow(a, b, &sum) ? UINT64_MAX : sum;
}

// A count after adding n to it, saturating, and the amount actually added.
// The rare overflow is branched to, not selected: the stored sum then waits
// for nothing but the addition, which measurably speeds up recording into
// the same bucket again and again.
struct hist_count_update {
  uint64_t count;
  uint64_t added;
};
inline hist_count_update hist_count_after_adding(uint64_t held, uint64_t n) {
  uint64_t sum;
  if (__builtin_add_overflow(held, n, &sum)) [[unlikely]]
    return {UINT64_MAX, UINT64_MAX - held};
  return {sum, n};
}

// a x b, or 2^64 - 1 when the product does not fit.
inline uint64_t hist_saturating_multiply(uint64_t a, uint64_t b) {
  uint64_t product;
  return __builtin_mul_overflow(a, b, &product) ? UINT64_MAX : product;
}

// More missing values than this (value / interval beyond 2^53) cannot be
// told apart in double precision: such a correction is not made.
inline constexpr double hist_max_corrected_steps = 9007199254740992.0;

// value / interval of two decimal inputs lands a little off the integer it
// stands for when they are not exact in binary: 1.0 / 0.1 rounds to 10, but
// 0.3 / 0.1 to 2.9999999999999996.  Each input carries up to half an ulp of
// relative error and the division another half, so the ratio of inputs that
// meant an integer n lies within 1.5 ulps of n; a ratio within this relative
// distance below an integer counts as that integer.  Four ulps leave room and
// still are some 10^-15: no ratio a caller meant as a fraction comes so near.
inline constexpr double hist_corrected_ratio_tolerance = 4 * std::numeric_limits<double>::epsilon();

// The number of values in the corrected series value, value - interval, ...,
// down to interval: floor(value / interval), read with the tolerance above.
inline double hist_corrected_series_length(double ratio) {
  return std::floor(ratio * (1 + hist_corrected_ratio_tolerance));
}

// Records count samples of value and, as HdrHistogram corrects for
// coordinated omission, of value - k x interval for k = 1, 2, ... while that
// stays at or above interval, taking the number of steps from the ratio
// value / interval (see hist_corrected_series_length).  A step that the
// tolerance admits may land a few ulps below interval, and is recorded as
// interval.  Those values fall in runs of equal buckets (the bucket is
// monotone in k); each run is found by galloping and added at once, so the
// work grows with the buckets crossed, not with k.  add(b, n) adds n samples
// to bucket b and returns the amount added; the result is the sum of these,
// saturated.
// Whether a value and interval make a series of more than the value itself
// (false for every pair that hist_record_corrected records alone).
inline bool hist_correction_applies(double value, double interval) {
  return interval > 0 && value >= interval + interval;
}

template <class Add>
uint64_t hist_record_corrected(double value, double interval, uint64_t count, Add add) {
  uint64_t total = add(hist_double_to_bucket(value), count);
  const double ratio = value / interval;
  if (!(interval > 0) || !(ratio < hist_max_corrected_steps)) return total;
  const double series_length = hist_corrected_series_length(ratio);
  if (!(series_length >= 2)) return total;
  const uint64_t last = static_cast<uint64_t>(series_length) - 1;
  const auto missing = [&](uint64_t k) { return std::max(value - static_cast<double>(k) * interval, interval); };
  const auto bucket_at = [&](uint64_t k) { return hist_double_to_bucket(missing(k)); };
  for (uint64_t k = 1; k <= last;) {
    const hist_bucket b = bucket_at(k);
    uint64_t in = k, out = k + 1;  // bucket_at(in) is b; out is past the run or past last
    for (uint64_t step = 1; out <= last && hist_bucket_identical(bucket_at(out), b); step *= 2) {
      in = out;
      out = in + step;
    }
    if (out > last + 1) out = last + 1;
    while (out - in > 1) {
      const uint64_t middle = in + (out - in) / 2;
      (hist_bucket_identical(bucket_at(middle), b) ? in : out) = middle;
    }
    total = hist_saturating_add(total, add(b, hist_saturating_multiply(in - k + 1, count)));
    k = in + 1;
  }
  return total;
}
